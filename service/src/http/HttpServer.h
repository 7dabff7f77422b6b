#pragma once

#include "http/HttpHandler.h"
#include "http/StreamBody.h"
#include "http/WorkerPool.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <unordered_set>

struct MHD_Daemon;
struct MHD_Connection;
struct MHD_Response;

namespace clipvane::service {

// An event-driven HTTP/1.1 server on libmicrohttpd: one thread reads and writes every socket,
// so an idle or slow connection costs a descriptor and a little memory, never a thread.
// Requests are screened on their head, bodies are bounded while they arrive, and the
// handler runs on a worker pool while its connection waits suspended.
class HttpServer
{
public:
    struct Limits
    {
        size_t maxBodyBytes = 256 * 1024;
        // Of a body refused for its size, read and dropped so that a client writing its whole
        // request before reading gets the refusal; a longer one loses its connection instead.
        size_t maxDiscardedBytes = 8 * 1024 * 1024;
        size_t maxHeaderBytes = 32 * 1024; // request line and headers together
        size_t maxHeaders = 100;
        int maxConnections = 8192;
        int maxConnectionsPerAddress = 256;
        int headerSeconds = 10; // from the first byte of a request to its last header
        int bodySeconds = 15;   // from the last header to the last byte of the body
        int replySeconds = 15;  // to hand a reply over
        int idleSeconds = 5;    // a keep-alive connection without a request
        int maxRequestsPerConnection = 1000;
        int workers = 16;
    };

    HttpServer(Limits limits, HttpHandler &handler);
    ~HttpServer(); // stops
    HttpServer(const HttpServer &) = delete;
    HttpServer &operator=(const HttpServer &) = delete;

    // Listens on host:port (port 0 picks a free one) and serves from a thread of its own;
    // returns the bound port. Throws std::runtime_error when it cannot listen.
    int start(const std::string &host, int port);
    // Stops accepting, lets the handlers in progress reply, then closes every connection.
    void stop();

private:
    struct Connection;
    struct Exchange;
    using Clock = std::chrono::steady_clock;

    struct Callbacks; // libmicrohttpd's entry points
    struct StreamReply;

    bool request(MHD_Connection *connection, Exchange &exchange, const char *url, const char *method,
                 const char *version, const char *data, size_t *size);
    // Fills in the request's head; false when the head held bytes that were not read.
    bool readHead(MHD_Connection *connection, Exchange &exchange, const char *url, const char *method,
                  const char *version);
    bool queue(MHD_Connection *connection, Exchange &exchange, ServerResponse response);
    void dispatch(MHD_Connection *connection, Exchange &exchange, bool admit, bool respond);
    bool queueStream(MHD_Connection *connection, ServerResponse &response, MHD_Response *&reply);
    void loop();
    void dropLateConnections();
    void wake();

    Limits m_limits;
    HttpHandler &m_handler;
    MHD_Daemon *m_daemon = nullptr;
    int m_wakeFd = -1;
    int m_epollFd = -1;
    std::atomic<bool> m_stopping = false;
    std::atomic<int> m_jobs = 0;                    // handlers running or queued, each with a suspended connection
    std::unordered_set<Connection *> m_connections; // the loop's own
    std::unordered_set<StreamBody *> m_streams;     // the loop's own: replies still streaming
    std::unique_ptr<WorkerPool> m_workers;
    std::thread m_loop;
};

} // namespace clipvane::service
