#pragma once

#include <QByteArray>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>

namespace clipvane::test {

// The open-ended body of a fake server's reply, as an event stream has one: the test writes
// while the client reads, and the connection stays open until the test drops it, the client
// leaves or the server stops. Every connection answered with the same feed takes from it.
// Thread-safe: the server's threads take, the test writes and counts.
class ReplyFeed
{
public:
    enum class Take { bytes, idle, dropped };

    void write(const QByteArray &bytes)
    {
        std::lock_guard lock(m_mutex);
        m_pending.push_back(bytes.toStdString());
        m_changed.notify_all();
    }
    // Ends the connections open now (as a service restart would); later ones stay open.
    void drop()
    {
        std::lock_guard lock(m_mutex);
        ++m_epoch;
        m_pending.clear();
        m_changed.notify_all();
    }
    int openConnections() const
    {
        std::lock_guard lock(m_mutex);
        return m_open;
    }
    int connections() const
    {
        std::lock_guard lock(m_mutex);
        return m_seen;
    }

    // On a server thread: a connection begins, and the epoch it belongs to.
    int opened()
    {
        std::lock_guard lock(m_mutex);
        ++m_open;
        ++m_seen;
        return m_epoch;
    }
    void closed()
    {
        std::lock_guard lock(m_mutex);
        --m_open;
    }
    // On a server thread: waits up to wait for bytes to send.
    Take take(int epoch, std::string &out, std::chrono::milliseconds wait)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, wait, [&] { return epoch != m_epoch || !m_pending.empty(); });
        if (epoch != m_epoch)
            return Take::dropped;
        if (m_pending.empty())
            return Take::idle;
        out = std::move(m_pending.front());
        m_pending.pop_front();
        return Take::bytes;
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_pending;
    int m_epoch = 0;
    int m_open = 0;
    int m_seen = 0;
};

} // namespace clipvane::test
