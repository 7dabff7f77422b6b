#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace clipvane::service {

class PgConnection;
class Storage;

// Decides which instance runs the background work (the metadata worker, the Telegram bot).
// With SQLite there is one process, and it leads from the start. On PostgreSQL the leader is
// the instance holding a session advisory lock: the lock lives as long as the leader's
// connection, so when the leader dies another instance takes it over at its next try.
class Leadership
{
public:
    using Callback = std::function<void()>;

    Leadership(Storage &storage, Callback gained, Callback lost,
               std::chrono::milliseconds retry = std::chrono::seconds(2));
    ~Leadership(); // stops
    Leadership(const Leadership &) = delete;
    Leadership &operator=(const Leadership &) = delete;

    void start();
    // Stops trying; a leader calls lost and lets go of the lock.
    void stop();
    bool leading() const;

private:
    void run();
    bool holdOrTake();

    Storage &m_storage;
    Callback m_gained;
    Callback m_lost;
    std::chrono::milliseconds m_retry;
    std::unique_ptr<PgConnection> m_connection;
    mutable std::mutex m_mutex;
    std::condition_variable m_condition;
    bool m_stopping = false;
    bool m_leading = false;
    // Declared last: the thread uses every member above until it is joined.
    std::thread m_thread;
};

} // namespace clipvane::service
