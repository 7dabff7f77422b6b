#pragma once

#include <httplib.h>

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

// One request as the fake received it.
struct RecordedRequest
{
    std::string method;
    std::string path;
    std::string body;
    std::multimap<std::string, std::string> params; // query and form fields, decoded
    httplib::Headers headers;
};

// A local stand-in for an outside HTTP service: binds a free port on 127.0.0.1, answers from
// handlers the test registers per method and path, and records every request.
class ExtrasFakeServer
{
public:
    using Handler = std::function<void(const httplib::Request &, httplib::Response &)>;

    ExtrasFakeServer();
    ~ExtrasFakeServer();
    ExtrasFakeServer(const ExtrasFakeServer &) = delete;
    ExtrasFakeServer &operator=(const ExtrasFakeServer &) = delete;

    std::string baseUrl() const;
    QString qBaseUrl() const { return QString::fromStdString(baseUrl()); }
    int port() const { return m_port; }

    void on(const std::string &method, const std::string &path, Handler handler);
    // A handler for a path that answers with a fixed status and JSON body.
    void reply(const std::string &method, const std::string &path, int status, const std::string &body);

    std::vector<RecordedRequest> requests() const;
    std::vector<RecordedRequest> requestsTo(const std::string &path) const;
    std::size_t count(const std::string &path) const { return requestsTo(path).size(); }

    // For handlers: wait until the test calls release() or the fake shuts down (at most limit).
    void holdUntilReleased(std::chrono::milliseconds limit = std::chrono::seconds(60));
    void release();

private:
    void dispatch(const httplib::Request &request, httplib::Response &response);

    httplib::Server m_server;
    int m_port = 0;
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_releasedFlag = false;
    std::map<std::pair<std::string, std::string>, Handler> m_handlers;
    std::vector<RecordedRequest> m_requests;
    std::thread m_thread; // last: it serves with every member above
};

// Base64url without padding, as JSON Web Tokens use it.
std::string base64Url(const std::string &bytes);
// An unsigned JSON Web Token with the given payload (the signature part is filler).
std::string fakeIdToken(const std::string &payloadJson);

} // namespace clipvane::service::test
