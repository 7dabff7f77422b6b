#pragma once

#include <httplib.h>

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace clipvane::service::test {

// A local stand-in for an outside HTTP service: binds a free port on 127.0.0.1, answers from
// handlers the test registers per method and path, and records every request.
class ExtrasFakeServer
{
public:
    using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;

    ExtrasFakeServer()
    {
        const auto handler = [this](const httplib::Request &request, httplib::Response &response) {
            dispatch(request, response);
        };
        m_server.Get(".*", handler);
        m_server.Post(".*", handler);
        m_port = m_server.bind_to_any_port("127.0.0.1");
        if (m_port <= 0)
            qFatal("the fake server found no free port on 127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        // stop() is a no-op until the accept loop runs, so a fake destroyed at once would hang.
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~ExtrasFakeServer()
    {
        release();
        m_server.stop();
        m_thread.join();
    }
    ExtrasFakeServer(const ExtrasFakeServer &) = delete;
    ExtrasFakeServer &operator=(const ExtrasFakeServer &) = delete;

    std::string baseUrl() const { return "http://127.0.0.1:" + std::to_string(m_port); }
    QString qBaseUrl() const { return QString::fromStdString(baseUrl()); }
    int port() const { return m_port; }

    void on(const std::string &method, const std::string &path, Handler handler)
    {
        std::lock_guard lock(m_mutex);
        m_handlers[{method, path}] = std::move(handler);
    }
    // A handler that answers with a fixed status and JSON body.
    void reply(const std::string &method, const std::string &path, int status, const std::string &body)
    {
        on(method, path, [status, body](const httplib::Request &, httplib::Response &response) {
            response.status = status;
            response.set_content(body, "application/json");
        });
    }
    // A handler that answers only once the test calls release() or the fake shuts down.
    void onHeld(const std::string &method, const std::string &path, const std::string &body)
    {
        on(method, path, [this, body](const httplib::Request &, httplib::Response &response) {
            std::unique_lock lock(m_mutex);
            m_released.wait_for(lock, std::chrono::seconds(60), [this] { return m_releasedFlag; });
            response.set_content(body, "application/json");
        });
    }
    void release()
    {
        {
            std::lock_guard lock(m_mutex);
            m_releasedFlag = true;
        }
        m_released.notify_all();
    }

    // Every request so far, or those to one path.
    std::vector<httplib::Request> requests(const std::string &path = {}) const
    {
        std::lock_guard lock(m_mutex);
        std::vector<httplib::Request> matching;
        for (const httplib::Request &request : m_requests)
            if (path.empty() || request.path == path)
                matching.push_back(request);
        return matching;
    }
    std::size_t count(const std::string &path) const { return requests(path).size(); }

private:
    void dispatch(const httplib::Request &request, httplib::Response &response)
    {
        Handler handler;
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
            if (const auto found = m_handlers.find({request.method, request.path}); found != m_handlers.end())
                handler = found->second;
        }
        if (handler)
            return handler(request, response);
        response.status = 404;
        response.set_content(R"({"error":"no such route in the fake"})", "application/json");
    }

    httplib::Server m_server;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_releasedFlag = false;
    std::map<std::pair<std::string, std::string>, Handler> m_handlers;
    std::vector<httplib::Request> m_requests; // as received
    std::thread m_thread;                     // last: it serves with every member above
};

// An unsigned JSON Web Token with the given payload (the signature part is filler).
inline std::string fakeIdToken(const std::string &payloadJson)
{
    const auto base64Url = [](const std::string &bytes) {
        return QByteArray::fromStdString(bytes)
            .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
            .toStdString();
    };
    return base64Url(R"({"alg":"RS256","typ":"JWT"})") + "." + base64Url(payloadJson) + "." + base64Url("signature");
}

// A port on 127.0.0.1 that nothing listens on any more.
inline int closedPort()
{
    return ExtrasFakeServer().port();
}

} // namespace clipvane::service::test
