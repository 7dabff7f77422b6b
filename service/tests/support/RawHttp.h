#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace clipvane::service::test {

// A plain socket to the service, for what well-behaved HTTP clients never do: trickle, idle,
// send bodies that never end, or bytes a parser drops. Closed when destroyed.
class RawHttp
{
public:
    // Connects to 127.0.0.1:port, from the given loopback address.
    explicit RawHttp(int port, const char *from = "127.0.0.1")
    {
        m_fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        inet_pton(AF_INET, from, &local.sin_addr);
        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_port = htons(uint16_t(port));
        inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
        if (bind(m_fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
            connect(m_fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~RawHttp()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    RawHttp(const RawHttp &) = delete;
    RawHttp &operator=(const RawHttp &) = delete;

    bool send(const std::string &bytes)
    {
        size_t sent = 0;
        while (m_fd >= 0 && sent < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += size_t(n);
        }
        return m_fd >= 0;
    }
    // Whether something (a reply, or the end) can be read without waiting.
    bool readable(int waitMs = 0) const
    {
        pollfd polled{m_fd, POLLIN, 0};
        return m_fd >= 0 && poll(&polled, 1, waitMs) > 0;
    }
    // Reads until the head and Content-Length bytes of body have arrived, the peer closes, or
    // the time is up; the status, or 0 when no reply came.
    int readStatus(int waitMs = 5000) { return statusOf(readReply(waitMs)); }
    std::string readReply(int waitMs = 5000)
    {
        std::string reply;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        while (m_fd >= 0 && !complete(reply)) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !readable(int(left.count())))
                break;
            char buffer[4096];
            const ssize_t n = recv(m_fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            reply.append(buffer, size_t(n));
        }
        return reply;
    }
    // What arrives within waitMs: "" when nothing did or the peer closed.
    std::string readSome(int waitMs)
    {
        char buffer[4096];
        if (!readable(waitMs))
            return {};
        const ssize_t n = recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        return n > 0 ? std::string(buffer, size_t(n)) : std::string();
    }
    // True once the service has closed the connection (waits up to waitMs for it).
    bool closedByPeer(int waitMs)
    {
        if (!readable(waitMs))
            return false;
        char buffer[256];
        return recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT) <= 0;
    }

    static int statusOf(const std::string &reply)
    {
        if (reply.rfind("HTTP/1.", 0) != 0 || reply.size() < 12)
            return 0;
        return std::stoi(reply.substr(9, 3));
    }

private:
    static bool complete(const std::string &reply)
    {
        const size_t end = reply.find("\r\n\r\n");
        if (end == std::string::npos)
            return false;
        std::string head = reply.substr(0, end);
        for (char &c : head)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        const size_t length = head.find("content-length:");
        return length == std::string::npos ||
               reply.size() - end - 4 >= std::stoul(head.substr(length + 15, head.find('\r', length) - length - 15));
    }

    int m_fd = -1;
};

// One chunk of a chunked body.
inline std::string chunk(const std::string &data)
{
    char size[20];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + data + "\r\n";
}

// The head of an add, with the token (when there is one) and the given header lines.
inline std::string postHead(const std::string &token, const std::string &lines)
{
    return "POST /api/upsert.php HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n" +
           (token.empty() ? std::string() : "Authorization: Bearer " + token + "\r\n") + lines + "\r\n";
}

} // namespace clipvane::service::test
