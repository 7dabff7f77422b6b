#include "ExtrasFakeServer.h"

#include <QByteArray>
#include <QtGlobal>

namespace clipvane::service::test {

ExtrasFakeServer::ExtrasFakeServer()
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

ExtrasFakeServer::~ExtrasFakeServer()
{
    release();
    m_server.stop();
    if (m_thread.joinable())
        m_thread.join();
}

std::string ExtrasFakeServer::baseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_port);
}

void ExtrasFakeServer::on(const std::string &method, const std::string &path, Handler handler)
{
    std::lock_guard lock(m_mutex);
    m_handlers[{method, path}] = std::move(handler);
}

void ExtrasFakeServer::reply(const std::string &method, const std::string &path, int status, const std::string &body)
{
    on(method, path, [status, body](const httplib::Request &, httplib::Response &response) {
        response.status = status;
        response.set_content(body, "application/json");
    });
}

std::vector<RecordedRequest> ExtrasFakeServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<RecordedRequest> ExtrasFakeServer::requestsTo(const std::string &path) const
{
    std::vector<RecordedRequest> matching;
    for (const RecordedRequest &request : requests()) {
        if (request.path == path)
            matching.push_back(request);
    }
    return matching;
}

void ExtrasFakeServer::holdUntilReleased(std::chrono::milliseconds limit)
{
    std::unique_lock lock(m_mutex);
    m_released.wait_for(lock, limit, [this] { return m_releasedFlag; });
}

void ExtrasFakeServer::release()
{
    {
        std::lock_guard lock(m_mutex);
        m_releasedFlag = true;
    }
    m_released.notify_all();
}

void ExtrasFakeServer::dispatch(const httplib::Request &request, httplib::Response &response)
{
    Handler handler;
    {
        std::lock_guard lock(m_mutex);
        RecordedRequest recorded{request.method, request.path, request.body, {}, request.headers};
        for (const auto &[name, value] : request.params)
            recorded.params.emplace(name, value);
        m_requests.push_back(std::move(recorded));
        if (const auto found = m_handlers.find({request.method, request.path}); found != m_handlers.end())
            handler = found->second;
    }
    if (!handler) {
        response.status = 404;
        response.set_content(R"({"error":"no such route in the fake"})", "application/json");
        return;
    }
    handler(request, response);
}

std::string base64Url(const std::string &bytes)
{
    return QByteArray::fromStdString(bytes)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)
        .toStdString();
}

std::string fakeIdToken(const std::string &payloadJson)
{
    return base64Url(R"({"alg":"RS256","typ":"JWT"})") + "." + base64Url(payloadJson) + "." + base64Url("signature");
}

} // namespace clipvane::service::test
