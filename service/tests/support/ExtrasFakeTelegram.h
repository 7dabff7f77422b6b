#pragma once

#include "ExtrasFakeServer.h"

#include <QtGlobal>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

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

    explicit ExtrasFakeTelegram(std::string token);
    ~ExtrasFakeTelegram();

    std::string base() const { return m_server->baseUrl(); }
    ExtrasFakeServer &server() { return *m_server; }

    // Queues a text message from a chat; returns its update_id.
    qint64 pushMessage(qint64 chatId, const std::string &text);
    // The next n getUpdates calls fail with this status and body.
    void failNext(int n, int status, std::string body = R"({"ok":false})");

    std::vector<Sent> sent() const;
    std::vector<qint64> offsets() const;   // the offset of every getUpdates call, in order
    std::vector<int> pollTimeouts() const; // the timeout of every getUpdates call
    std::size_t pollCount() const;

private:
    void getUpdates(const httplib::Request &request, httplib::Response &response);
    void sendMessage(const httplib::Request &request, httplib::Response &response);

    std::string m_prefix;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_closing = false;
    qint64 m_nextId = 100;
    std::deque<std::pair<qint64, std::string>> m_updates; // id, JSON of the update
    int m_failures = 0;
    int m_failureStatus = 0;
    std::string m_failureBody;
    std::vector<Sent> m_sent;
    std::vector<qint64> m_offsets;
    std::vector<int> m_timeouts;
    // Last: its handlers use every member above, so it stops before they go.
    std::unique_ptr<ExtrasFakeServer> m_server;
};

} // namespace clipvane::service::test
