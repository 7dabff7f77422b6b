#pragma once

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace clipvane::service {

class PgConnection;

// Relays the changes other instances commit on a shared PostgreSQL database to this one: each
// write transaction that changed some accounts' pulls sends a notice on the database's change
// channel in its commit (see PgStorage), and this listener, on one connection and a thread of
// its own, hears every notice and hands on those of the other instances. When the connection
// drops it connects again, backing off; notices sent meanwhile are lost, so after a new
// connection `missed` tells every account to look (with the database's clock).
class PgChangeListener
{
public:
    struct Callbacks
    {
        std::function<void(const std::vector<qint64> &accountIds, qint64 now)> changed;
        std::function<void(qint64 now)> missed;
    };
    struct Notice
    {
        std::string instance;
        qint64 now = 0;
        std::vector<qint64> accountIds;
    };

    PgChangeListener(std::string conninfo, std::string channel, std::string ownInstance, Callbacks callbacks);
    ~PgChangeListener(); // stops
    PgChangeListener(const PgChangeListener &) = delete;
    PgChangeListener &operator=(const PgChangeListener &) = delete;

    // Returns once the listener listens (or its first attempt failed, after which it keeps
    // trying), so that changes committed after start() reach this instance.
    void start();
    void stop();
    // How many times the listener began to listen (1 once it is up; more after reconnections).
    int listens() const { return m_listens; }

    // The notices for one commit, each within PostgreSQL's bound on a payload:
    // "INSTANCE NOW ID,ID,...".
    static std::vector<std::string> payloads(const std::string &instance, const std::vector<qint64> &accountIds,
                                             qint64 now);
    // None for a payload not of that form (it came from someone else on the channel).
    static std::optional<Notice> parse(std::string_view payload);

private:
    void run();
    // Until the connection fails or the listener stops.
    void listen(PgConnection &connection);
    void pause(std::chrono::milliseconds delay);
    void tried();

    const std::string m_conninfo;
    const std::string m_channel;
    const std::string m_instance;
    const Callbacks m_callbacks;
    int m_stopFd = -1;
    std::atomic<bool> m_stopping = false;
    std::atomic<int> m_listens = 0;
    std::mutex m_mutex;
    std::condition_variable m_tried;
    bool m_firstTry = true; // under m_mutex
    std::thread m_thread;   // last: it uses every member above
};

} // namespace clipvane::service
