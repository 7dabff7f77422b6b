#include "http/HttpServer.h"

#include "http/RequestBody.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace clipvane::service {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kNever = Clock::time_point::max();
// How often late connections are looked for, and how long a stop waits for replies to go out.
constexpr std::chrono::milliseconds kSweepInterval{100};
constexpr std::chrono::milliseconds kStopGrace{1000};
constexpr unsigned kListenBacklog = 1024;
constexpr int kStatusBadRequest = 400;
constexpr int kStatusTooLarge = 413;
constexpr int kStatusUnsupportedCoding = 415;
constexpr int kStatusTooManyHeaders = 431;
constexpr int kStatusInternal = 500;

std::optional<unsigned long long> contentLength(const std::string &text)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    return std::stoull(text);
}

// host may be a numeric IPv4 or IPv6 address or a name (its first address is taken).
bool socketAddress(const std::string &host, int port, sockaddr_storage &address, bool &ipv6)
{
    std::memset(&address, 0, sizeof address);
    auto *v4 = reinterpret_cast<sockaddr_in *>(&address);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address);
    if (inet_pton(AF_INET, host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(uint16_t(port));
        ipv6 = false;
        return true;
    }
    if (inet_pton(AF_INET6, host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(uint16_t(port));
        ipv6 = true;
        return true;
    }
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found)
        return false;
    std::memcpy(&address, found->ai_addr, std::min<size_t>(found->ai_addrlen, sizeof address));
    freeaddrinfo(found);
    ipv6 = address.ss_family == AF_INET6;
    if (ipv6)
        v6->sin6_port = htons(uint16_t(port));
    else
        v4->sin_port = htons(uint16_t(port));
    return true;
}

} // namespace

// What the loop knows of one connection: its socket and the time by which the client must
// have done its part (sent a request, finished its headers or body, taken its reply).
struct HttpServer::Connection
{
    int fd = -1;
    Clock::time_point deadline = kNever;
    bool dropped = false;
    bool replying = false;
    int requests = 0;
};

struct HttpServer::Exchange
{
    enum class Stage { Head, Complete, Admitting, Admitted, Body, Handling, Ready, Replied };

    std::string uri; // as sent, with the query
    ServerRequest request;
    Stage stage = Stage::Head;
    std::unique_ptr<RequestBody> body;
    int refusedStatus = 0; // the body broke a rule: what is left of it is discarded, then refused
    size_t discarded = 0;
    std::optional<ServerResponse> reply;
};

// What libmicrohttpd holds of a streaming reply, until it frees the reply.
struct HttpServer::StreamReply
{
    HttpServer *server;
    std::shared_ptr<StreamBody> body;
};

struct HttpServer::Callbacks
{
    static ssize_t readStream(void *cls, uint64_t, char *buffer, size_t max)
    {
        return static_cast<StreamReply *>(cls)->body->read(buffer, max);
    }

    static void freeStream(void *cls)
    {
        auto *reply = static_cast<StreamReply *>(cls);
        reply->server->m_streams.erase(reply->body.get());
        reply->body->detach();
        delete reply;
    }

    static HttpServer &server(void *cls) { return *static_cast<HttpServer *>(cls); }

    static Connection *connectionOf(MHD_Connection *connection)
    {
        const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        return info ? static_cast<Connection *>(info->socket_context) : nullptr;
    }

    static MHD_Result request(void *cls, MHD_Connection *connection, const char *url, const char *method,
                              const char *version, const char *data, size_t *size, void **context)
    {
        auto *exchange = static_cast<Exchange *>(*context);
        if (!exchange) {
            exchange = new Exchange;
            *context = exchange;
        }
        return server(cls).request(connection, *exchange, url, method, version, data, size) ? MHD_YES : MHD_NO;
    }

    static void *requestLine(void *cls, const char *uri, MHD_Connection *connection)
    {
        auto *exchange = new Exchange;
        exchange->uri = uri ? uri : "";
        if (Connection *state = connectionOf(connection))
            state->deadline = Clock::now() + std::chrono::seconds(server(cls).m_limits.headerSeconds);
        return exchange;
    }

    static void completed(void *cls, MHD_Connection *connection, void **context, MHD_RequestTerminationCode)
    {
        delete static_cast<Exchange *>(*context);
        *context = nullptr;
        if (Connection *state = connectionOf(connection)) {
            const Limits &limits = server(cls).m_limits;
            state->replying = false;
            state->deadline = Clock::now() + std::chrono::seconds(limits.idleSeconds + limits.headerSeconds);
        }
    }

    static void connection(void *cls, MHD_Connection *connection, void **context, MHD_ConnectionNotificationCode code)
    {
        HttpServer &self = server(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto *state = new Connection;
            if (const MHD_ConnectionInfo *info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD))
                state->fd = info->connect_fd;
            state->deadline = Clock::now() + std::chrono::seconds(self.m_limits.headerSeconds);
            self.m_connections.insert(state);
            *context = state;
            return;
        }
        auto *state = static_cast<Connection *>(*context);
        self.m_connections.erase(state);
        delete state;
        *context = nullptr;
    }
};

HttpServer::HttpServer(Limits limits, HttpHandler &handler)
    : m_limits(limits)
    , m_handler(handler)
{}

HttpServer::~HttpServer()
{
    stop();
}

int HttpServer::start(const std::string &host, int port)
{
    sockaddr_storage address{};
    bool ipv6 = false;
    if (!socketAddress(host, port, address, ipv6))
        throw std::runtime_error("cannot listen on " + host + ": unknown address");
    const unsigned flags = MHD_USE_EPOLL | MHD_USE_TURBO | MHD_ALLOW_SUSPEND_RESUME | (ipv6 ? MHD_USE_IPv6 : 0);
    m_daemon = MHD_start_daemon(
        flags, uint16_t(port), nullptr, nullptr, &Callbacks::request, this, MHD_OPTION_SOCK_ADDR, &address,
        MHD_OPTION_CONNECTION_LIMIT, unsigned(m_limits.maxConnections), MHD_OPTION_PER_IP_CONNECTION_LIMIT,
        unsigned(m_limits.maxConnectionsPerAddress), MHD_OPTION_CONNECTION_TIMEOUT, unsigned(m_limits.idleSeconds),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, m_limits.maxHeaderBytes, MHD_OPTION_STRICT_FOR_CLIENT, 1,
        MHD_OPTION_LISTEN_BACKLOG_SIZE, kListenBacklog, MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::completed, this,
        MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::connection, this, MHD_OPTION_URI_LOG_CALLBACK,
        &Callbacks::requestLine, this, MHD_OPTION_END);
    if (!m_daemon)
        throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port));
    const MHD_DaemonInfo *bound = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_BIND_PORT);
    const MHD_DaemonInfo *events = MHD_get_daemon_info(m_daemon, MHD_DAEMON_INFO_EPOLL_FD);
    m_epollFd = epoll_create1(EPOLL_CLOEXEC);
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (!bound || !events || m_epollFd < 0 || m_wakeFd < 0) {
        stop();
        throw std::runtime_error("cannot set up the HTTP event loop");
    }
    for (const int fd : {events->epoll_fd, m_wakeFd}) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(m_epollFd, EPOLL_CTL_ADD, fd, &event);
    }
    m_workers = std::make_unique<WorkerPool>(m_limits.workers);
    m_loop = std::thread([this] { loop(); });
    return bound->port;
}

void HttpServer::stop()
{
    if (m_loop.joinable()) {
        m_stopping = true;
        wake();
        m_loop.join();
    }
    m_workers.reset();
    if (m_daemon) {
        MHD_stop_daemon(m_daemon);
        m_daemon = nullptr;
    }
    for (int *fd : {&m_epollFd, &m_wakeFd}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

void HttpServer::wake()
{
    if (m_wakeFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(m_wakeFd, &one, sizeof one);
    }
}

void HttpServer::loop()
{
    std::array<epoll_event, 2> events{};
    std::optional<Clock::time_point> stopBy;
    auto lastSweep = Clock::now();
    for (;;) {
        if (m_stopping && !stopBy) {
            // No new connections; the ones open finish what they are doing, and streams end
            // (none may stay suspended when the daemon stops).
            const MHD_socket listening = MHD_quiesce_daemon(m_daemon);
            if (listening != MHD_INVALID_SOCKET)
                close(listening);
            for (StreamBody *stream : m_streams)
                stream->end();
            stopBy = Clock::now() + kStopGrace;
        }
        if (stopBy && m_jobs == 0) {
            MHD_run(m_daemon);
            const bool replying = std::any_of(m_connections.begin(), m_connections.end(),
                                              [](const Connection *c) { return c->replying; });
            if (!replying || Clock::now() > *stopBy)
                return;
        }
        int waitMs = int(kSweepInterval.count());
        MHD_UNSIGNED_LONG_LONG timeout = 0;
        if (MHD_get_timeout(m_daemon, &timeout) == MHD_YES)
            waitMs = int(std::min<unsigned long long>(timeout, static_cast<unsigned long long>(waitMs)));
        const int ready = epoll_wait(m_epollFd, events.data(), int(events.size()), waitMs);
        bool woken = false;
        for (int i = 0; i < ready; ++i) {
            if (events[size_t(i)].data.fd == m_wakeFd) {
                uint64_t count = 0;
                [[maybe_unused]] const ssize_t read = ::read(m_wakeFd, &count, sizeof count);
                woken = true;
            }
        }
        MHD_run(m_daemon);
        // The first run takes resumed connections back; the second serves them.
        if (woken)
            MHD_run(m_daemon);
        if (const auto now = Clock::now(); now - lastSweep >= kSweepInterval) {
            lastSweep = now;
            dropLateConnections();
            for (StreamBody *stream : m_streams)
                stream->beatIfDue(now);
        }
    }
}

// A client that trickles its request, or never reads its reply, loses its connection when its
// time is up, however busy it keeps the socket. Shutting the socket down (not closing it)
// leaves the descriptor to libmicrohttpd, which sees the end and closes it itself.
void HttpServer::dropLateConnections()
{
    const auto now = Clock::now();
    for (Connection *connection : m_connections) {
        if (!connection->dropped && connection->deadline < now && connection->fd >= 0) {
            shutdown(connection->fd, SHUT_RDWR);
            connection->dropped = true;
        }
    }
}

bool HttpServer::readHead(MHD_Connection *connection, Exchange &exchange, const char *url, const char *method,
                          const char *version)
{
    ServerRequest &request = exchange.request;
    request.method = method ? method : "";
    request.path = url ? url : "";
    struct Reading
    {
        ServerRequest *request;
        size_t bytes; // as the head would be written plainly
    } reading{&request, request.method.size() + exchange.uri.size() + std::strlen(version ? version : "") + 6};
    MHD_get_connection_values_n(
        connection, MHD_HEADER_KIND,
        [](void *context, MHD_ValueKind, const char *key, size_t keySize, const char *value, size_t valueSize) {
            auto *into = static_cast<Reading *>(context);
            into->request->addHeader(std::string(key, keySize), value ? std::string(value, valueSize) : std::string());
            into->bytes += keySize + valueSize + 4;
            return MHD_YES;
        },
        &reading);
    if (const size_t question = exchange.uri.find('?'); question != std::string::npos) {
        const size_t end = exchange.uri.find('#', question);
        request.setQuery(std::string_view(exchange.uri).substr(question + 1, end - question - 1));
    }
    // A head longer than what it was read as hides bytes the parser dropped, such as a value
    // cut short by a NUL ("Bearer TOKEN\0junk"): such a request is refused, not half-read.
    const MHD_ConnectionInfo *size = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
    return !size || size->header_size <= reading.bytes;
}

bool HttpServer::request(MHD_Connection *connection, Exchange &exchange, const char *url, const char *method,
                         const char *version, const char *data, size_t *size)
{
    Connection *state = Callbacks::connectionOf(connection);
    using Stage = Exchange::Stage;
    switch (exchange.stage) {
    case Stage::Head: {
        const bool whole = readHead(connection, exchange, url, method, version);
        const ServerRequest &request = exchange.request;
        if (state)
            state->deadline = kNever;
        if (request.headerCount() > m_limits.maxHeaders)
            return queue(connection, exchange, m_handler.refusal(kStatusTooManyHeaders));
        if (!whole)
            return queue(connection, exchange, m_handler.refusal(kStatusBadRequest));
        const std::string lengthText = request.header("Content-Length");
        const auto length = contentLength(lengthText);
        if (!lengthText.empty() && !length)
            return queue(connection, exchange, m_handler.refusal(kStatusBadRequest));
        const bool hasBody = request.hasHeader("Transfer-Encoding") || length.value_or(0) > 0;
        exchange.reply = m_handler.screen(exchange.request);
        if (!exchange.reply && length.value_or(0) > m_limits.maxBodyBytes) {
            // A body within the discard bound is read and dropped, then refused: a refusal sent
            // amid it would be lost to the reset its unread rest causes. A client that waits
            // for "100 Continue" is refused at once and sends nothing.
            if (*length > m_limits.maxDiscardedBytes || request.hasHeader("Expect"))
                return queue(connection, exchange, m_handler.refusal(kStatusTooLarge));
            exchange.refusedStatus = kStatusTooLarge;
            exchange.stage = Stage::Body;
            if (state)
                state->deadline = Clock::now() + std::chrono::seconds(m_limits.bodySeconds);
            return true;
        }
        if (!hasBody) {
            // Answered once the request is complete, so the connection may be kept.
            exchange.stage = Stage::Complete;
            return true;
        }
        // A refusal goes out before the body is read; the connection then closes.
        if (exchange.reply)
            return queue(connection, exchange, std::move(*exchange.reply));
        const auto coding = RequestBody::codingOf(request.header("Content-Encoding"));
        if (coding == RequestBody::Coding::Unsupported)
            return queue(connection, exchange, m_handler.refusal(kStatusUnsupportedCoding));
        exchange.body = std::make_unique<RequestBody>(m_limits.maxBodyBytes, coding);
        if (exchange.request.admitted) {
            exchange.stage = Stage::Body;
            if (state)
                state->deadline = Clock::now() + std::chrono::seconds(m_limits.bodySeconds);
            return true;
        }
        exchange.stage = Stage::Admitting;
        dispatch(connection, exchange, true, false);
        return true;
    }
    case Stage::Complete:
        if (exchange.reply)
            return queue(connection, exchange, std::move(*exchange.reply));
        exchange.stage = Stage::Handling;
        dispatch(connection, exchange, !exchange.request.admitted, true);
        return true;
    case Stage::Admitted:
        exchange.stage = Stage::Body;
        if (state)
            state->deadline = Clock::now() + std::chrono::seconds(m_limits.bodySeconds);
        if (!data)
            return true; // the head once more, after the suspension: the body follows
        [[fallthrough]];
    case Stage::Body:
        if (*size > 0) {
            const std::string_view piece(data, *size);
            *size = 0;
            if (exchange.refusedStatus) {
                // The rest is read so the refusal reaches the client; a flood is cut off.
                exchange.discarded += piece.size();
                return exchange.discarded <= m_limits.maxDiscardedBytes;
            }
            if (const auto read = exchange.body->append(piece); read != RequestBody::State::Reading) {
                exchange.refusedStatus = read == RequestBody::State::TooLarge ? kStatusTooLarge : kStatusBadRequest;
                exchange.body.reset();
            }
            return true;
        }
        if (!exchange.refusedStatus && exchange.body->finish() != RequestBody::State::Reading)
            exchange.refusedStatus = kStatusBadRequest;
        if (exchange.refusedStatus)
            return queue(connection, exchange, m_handler.refusal(exchange.refusedStatus));
        exchange.request.body = exchange.body->take();
        exchange.body.reset();
        exchange.request.readForm();
        exchange.stage = Stage::Handling;
        if (state)
            state->deadline = kNever;
        dispatch(connection, exchange, false, true);
        return true;
    case Stage::Ready:
        if (data)
            return false; // a refusal cannot be sent amid the body: the connection closes instead
        return queue(connection, exchange, std::move(*exchange.reply));
    case Stage::Admitting:
    case Stage::Handling:
    case Stage::Replied:
        return true;
    }
    return false;
}

void HttpServer::dispatch(MHD_Connection *connection, Exchange &exchange, bool admit, bool respond)
{
    MHD_suspend_connection(connection);
    ++m_jobs;
    m_workers->post([this, connection, &exchange, admit, respond] {
        std::optional<ServerResponse> reply;
        try {
            if (admit)
                reply = m_handler.admit(exchange.request);
            if (!reply && respond)
                reply = m_handler.respond(exchange.request);
        } catch (const std::exception &) {
            reply = m_handler.refusal(kStatusInternal);
        }
        exchange.stage = reply ? Exchange::Stage::Ready : Exchange::Stage::Admitted;
        exchange.reply = std::move(reply);
        // From here on the exchange belongs to the loop again, which may free it at once. Run
        // by the application, the loop learns of the resumption only through its own wake-up.
        MHD_resume_connection(connection);
        --m_jobs;
        wake();
    });
}

bool HttpServer::queue(MHD_Connection *connection, Exchange &exchange, ServerResponse response)
{
    Connection *state = Callbacks::connectionOf(connection);
    MHD_Response *reply = nullptr;
    if (response.stream) {
        if (!queueStream(connection, response, reply))
            return false;
    } else {
        reply = MHD_create_response_from_buffer(response.body.size(), response.body.data(), MHD_RESPMEM_MUST_COPY);
    }
    if (!reply)
        return false;
    for (const auto &[name, value] : response.headers)
        MHD_add_response_header(reply, name.c_str(), value.c_str());
    if (m_stopping || (state && ++state->requests >= m_limits.maxRequestsPerConnection))
        MHD_add_response_header(reply, MHD_HTTP_HEADER_CONNECTION, "close");
    const MHD_Result queued = MHD_queue_response(connection, unsigned(response.status), reply);
    MHD_destroy_response(reply);
    if (state) {
        state->replying = true;
        // A stream is open for as long as its client keeps it; heartbeats find a client gone.
        state->deadline = response.stream ? kNever : Clock::now() + std::chrono::seconds(m_limits.replySeconds);
    }
    exchange.stage = Exchange::Stage::Replied;
    m_handler.replied(exchange.request, response);
    // An open stream may stay for days: what its request held is let go now.
    if (response.stream) {
        exchange.request = ServerRequest();
        exchange.uri = std::string();
    }
    return queued == MHD_YES;
}

bool HttpServer::queueStream(MHD_Connection *connection, ServerResponse &response, MHD_Response *&reply)
{
    // Events and heartbeats are a few dozen bytes; the block is held by every open stream.
    constexpr size_t kStreamBlock = 128;
    auto *stream = new StreamReply{this, response.stream};
    reply = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, kStreamBlock, &Callbacks::readStream, stream,
                                              &Callbacks::freeStream);
    if (!reply) {
        delete stream;
        return false;
    }
    m_streams.insert(stream->body.get());
    stream->body->attach(connection, [this] { wake(); });
    if (m_stopping)
        stream->body->end();
    return true;
}

} // namespace clipvane::service
