#pragma once

#include "ExtrasFakeServer.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <deque>
#include <memory>

namespace clipvane::service::test {

// A local Bot API for one bot token: getUpdates long-polls like Telegram's (it holds the call
// until an update is queued or the poll's timeout passes, and forgets updates once a later
// offset confirms them); sendMessage is recorded.
class ExtrasFakeTelegram
{
public:
    struct Sent
    {
        qint64 chatId = 0;
        std::string text;
    };

    explicit ExtrasFakeTelegram(const std::string &token)
        : m_server(std::make_unique<ExtrasFakeServer>())
    {
        m_server->on("GET", "/bot" + token + "/getUpdates",
                     [this](const httplib::Request &request, httplib::Response &response) { poll(request, response); });
        m_server->on("POST", "/bot" + token + "/sendMessage", [this](const httplib::Request &request, auto &response) {
            const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(request.body)).object();
            std::lock_guard lock(m_mutex);
            m_sent.push_back({body.value(u"chat_id").toInteger(), body.value(u"text").toString().toStdString()});
            response.set_content(R"({"ok":true,"result":{}})", "application/json");
        });
    }
    ~ExtrasFakeTelegram()
    {
        {
            std::lock_guard lock(m_mutex);
            m_closing = true;
        }
        m_changed.notify_all();
        m_server.reset();
    }

    std::string base() const { return m_server->baseUrl(); }
    std::size_t requestCount() const { return m_server->requests().size(); }

    // Queues a text message from a chat; returns its update_id.
    qint64 pushMessage(qint64 chatId, const std::string &text)
    {
        std::lock_guard lock(m_mutex);
        const qint64 id = m_nextId++;
        const QJsonObject chat{{u"id"_qs, chatId}, {u"type"_qs, u"private"_qs}};
        const QJsonObject message{
            {u"message_id"_qs, id * 10}, {u"chat"_qs, chat}, {u"text"_qs, QString::fromStdString(text)}};
        const QJsonObject update{{u"update_id"_qs, id}, {u"message"_qs, message}};
        m_updates.emplace_back(id, QJsonDocument(update).toJson(QJsonDocument::Compact).toStdString());
        m_changed.notify_all();
        return id;
    }
    // The next n getUpdates calls fail with this status and body.
    void failNext(int n, int status, const std::string &body)
    {
        std::lock_guard lock(m_mutex);
        m_failures = n;
        m_failure = {status, body};
    }

    std::vector<std::string> textsTo(qint64 chatId) const
    {
        std::vector<std::string> texts;
        for (const Sent &sent : sent())
            if (sent.chatId == chatId)
                texts.push_back(sent.text);
        return texts;
    }
    std::vector<Sent> sent() const
    {
        std::lock_guard lock(m_mutex);
        return m_sent;
    }
    // The offset and the timeout of each getUpdates call, in order.
    std::vector<std::pair<qint64, int>> polls() const
    {
        std::lock_guard lock(m_mutex);
        return m_polls;
    }

private:
    void poll(const httplib::Request &request, httplib::Response &response)
    {
        const auto number = [&request](const char *name) {
            const std::string text = request.get_param_value(name);
            return text.empty() || text.find_first_not_of("0123456789") != std::string::npos ? 0 : std::stoll(text);
        };
        const qint64 offset = number("offset");
        std::unique_lock lock(m_mutex);
        m_polls.emplace_back(offset, int(number("timeout")));
        if (m_failures > 0) {
            --m_failures;
            response.status = m_failure.first;
            response.set_content(m_failure.second, "application/json");
            return;
        }
        // Telegram forgets what an offset confirms.
        while (!m_updates.empty() && m_updates.front().first < offset)
            m_updates.pop_front();
        // A poll never waits longer than a minute in a test, whatever timeout the bot asks for.
        m_changed.wait_for(lock, std::chrono::seconds(std::min(m_polls.back().second, 60)),
                           [this] { return m_closing || !m_updates.empty(); });
        std::string result = R"({"ok":true,"result":[)";
        for (const auto &[id, json] : m_updates)
            result += (result.back() == '[' ? "" : ",") + json;
        response.set_content(result + "]}", "application/json");
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_closing = false;
    qint64 m_nextId = 100;
    std::deque<std::pair<qint64, std::string>> m_updates; // id, JSON of the update
    int m_failures = 0;
    std::pair<int, std::string> m_failure; // status and body
    std::vector<Sent> m_sent;
    std::vector<std::pair<qint64, int>> m_polls;
    // Last: its handlers use every member above, so it stops before they go.
    std::unique_ptr<ExtrasFakeServer> m_server;
};

} // namespace clipvane::service::test
