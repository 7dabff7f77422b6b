#include "ExtrasFakeTelegram.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace clipvane::service::test {

namespace {

// A poll never waits longer than this in a test, whatever timeout the bot asks for.
constexpr int kMaxHoldSeconds = 60;

long long numberParam(const httplib::Request &request, const std::string &name, long long fallback)
{
    if (!request.has_param(name))
        return fallback;
    try {
        return std::stoll(request.get_param_value(name));
    } catch (const std::exception &) {
        return fallback;
    }
}

} // namespace

ExtrasFakeTelegram::ExtrasFakeTelegram(std::string token)
    : m_prefix("/bot" + std::move(token))
    , m_server(std::make_unique<ExtrasFakeServer>())
{
    m_server->on("GET", m_prefix + "/getUpdates", [this](const httplib::Request &request, httplib::Response &response) {
        getUpdates(request, response);
    });
    m_server->on(
        "POST", m_prefix + "/sendMessage",
        [this](const httplib::Request &request, httplib::Response &response) { sendMessage(request, response); });
}

ExtrasFakeTelegram::~ExtrasFakeTelegram()
{
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_changed.notify_all();
    m_server.reset();
}

qint64 ExtrasFakeTelegram::pushMessage(qint64 chatId, const std::string &text)
{
    qint64 id = 0;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextId++;
        const QJsonObject update{
            {u"update_id"_qs, id},
            {u"message"_qs, QJsonObject{{u"message_id"_qs, id * 10},
                                        {u"chat"_qs, QJsonObject{{u"id"_qs, chatId}, {u"type"_qs, u"private"_qs}}},
                                        {u"text"_qs, QString::fromStdString(text)}}}};
        m_updates.emplace_back(id, QJsonDocument(update).toJson(QJsonDocument::Compact).toStdString());
    }
    m_changed.notify_all();
    return id;
}

void ExtrasFakeTelegram::failNext(int n, int status, std::string body)
{
    std::lock_guard lock(m_mutex);
    m_failures = n;
    m_failureStatus = status;
    m_failureBody = std::move(body);
}

std::vector<ExtrasFakeTelegram::Sent> ExtrasFakeTelegram::sent() const
{
    std::lock_guard lock(m_mutex);
    return m_sent;
}

std::vector<qint64> ExtrasFakeTelegram::offsets() const
{
    std::lock_guard lock(m_mutex);
    return m_offsets;
}

std::vector<int> ExtrasFakeTelegram::pollTimeouts() const
{
    std::lock_guard lock(m_mutex);
    return m_timeouts;
}

std::size_t ExtrasFakeTelegram::pollCount() const
{
    std::lock_guard lock(m_mutex);
    return m_offsets.size();
}

void ExtrasFakeTelegram::getUpdates(const httplib::Request &request, httplib::Response &response)
{
    const qint64 offset = numberParam(request, "offset", 0);
    const auto timeout = static_cast<int>(numberParam(request, "timeout", 0));
    std::unique_lock lock(m_mutex);
    m_offsets.push_back(offset);
    m_timeouts.push_back(timeout);
    if (m_failures > 0) {
        --m_failures;
        response.status = m_failureStatus;
        response.set_content(m_failureBody, "application/json");
        return;
    }
    // Telegram forgets what an offset confirms.
    while (!m_updates.empty() && m_updates.front().first < offset)
        m_updates.pop_front();
    m_changed.wait_for(lock, std::chrono::seconds(std::min(timeout, kMaxHoldSeconds)),
                       [this] { return m_closing || !m_updates.empty(); });
    std::string result = R"({"ok":true,"result":[)";
    bool first = true;
    for (const auto &[id, json] : m_updates) {
        if (id < offset)
            continue;
        result += first ? "" : ",";
        result += json;
        first = false;
    }
    result += "]}";
    response.set_content(result, "application/json");
}

void ExtrasFakeTelegram::sendMessage(const httplib::Request &request, httplib::Response &response)
{
    const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
    {
        std::lock_guard lock(m_mutex);
        m_sent.push_back({body.value(u"chat_id").toInteger(), body.value(u"text").toString().toStdString()});
    }
    response.set_content(R"({"ok":true,"result":{}})", "application/json");
}

} // namespace clipvane::service::test
