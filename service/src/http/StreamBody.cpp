#include "http/StreamBody.h"

#include <microhttpd.h>

#include <algorithm>
#include <cstring>

namespace clipvane::service {

StreamBody::StreamBody(std::chrono::milliseconds heartbeat)
    : m_heartbeat(heartbeat)
    , m_nextBeat(Clock::now() + heartbeat)
{}

StreamBody::~StreamBody() = default;

void StreamBody::wake()
{
    std::lock_guard lock(m_mutex);
    m_news = true;
    resumeLocked();
}

void StreamBody::attach(MHD_Connection *connection, std::function<void()> wakeLoop)
{
    std::lock_guard lock(m_mutex);
    m_connection = connection;
    m_wakeLoop = std::move(wakeLoop);
}

// The connection is suspended only here, on the loop, and resumed by whoever holds the lock
// first, so it is never resumed twice nor after its reply was freed.
void StreamBody::resumeLocked()
{
    if (!m_suspended || !m_connection)
        return;
    m_suspended = false;
    MHD_resume_connection(m_connection);
    if (m_wakeLoop)
        m_wakeLoop();
}

ssize_t StreamBody::read(char *buffer, size_t max)
{
    std::lock_guard lock(m_mutex);
    if (m_sent == m_pending.size()) {
        m_pending.clear();
        m_sent = 0;
        if (m_ending)
            return MHD_CONTENT_READER_END_OF_STREAM;
        if (m_news || m_beatDue) {
            const bool beat = m_beatDue && !m_news;
            m_news = m_beatDue = false;
            if (!produce(m_pending, beat))
                m_ending = true;
            if (!m_pending.empty())
                m_nextBeat = Clock::now() + m_heartbeat;
        }
        if (m_pending.empty()) {
            if (m_ending)
                return MHD_CONTENT_READER_END_OF_STREAM;
            MHD_suspend_connection(m_connection);
            m_suspended = true;
            return 0;
        }
    }
    const size_t n = std::min(max, m_pending.size() - m_sent);
    std::memcpy(buffer, m_pending.data() + m_sent, n);
    m_sent += n;
    return ssize_t(n);
}

void StreamBody::beatIfDue(Clock::time_point now)
{
    std::lock_guard lock(m_mutex);
    if (m_suspended && now >= m_nextBeat) {
        m_beatDue = true;
        resumeLocked();
    }
}

void StreamBody::end()
{
    std::lock_guard lock(m_mutex);
    m_ending = true;
    resumeLocked();
}

void StreamBody::detach()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_detached)
            return;
        m_detached = true;
        m_connection = nullptr;
        m_suspended = false;
        m_ending = true;
        m_wakeLoop = nullptr;
    }
    closed();
}

} // namespace clipvane::service
