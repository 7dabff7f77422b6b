#include "db/Leadership.h"

#include "db/PgStorage.h"

#include <cstdio>

namespace clipvane::service {

namespace {

// One lock per schema, so services in different schemas of one database lead apart.
constexpr const char *kTakeLock = "SELECT pg_try_advisory_lock(72510048, hashtext(current_schema()))";

} // namespace

Leadership::Leadership(Storage &storage, Callback gained, Callback lost, std::chrono::milliseconds retry)
    : m_storage(storage)
    , m_gained(std::move(gained))
    , m_lost(std::move(lost))
    , m_retry(retry)
{}

Leadership::~Leadership()
{
    stop();
}

void Leadership::start()
{
    if (!m_storage.shared()) {
        {
            std::lock_guard lock(m_mutex);
            if (m_leading)
                return;
            m_leading = true;
        }
        m_gained();
        return;
    }
    std::lock_guard lock(m_mutex);
    if (m_thread.joinable())
        return;
    m_stopping = false;
    m_thread = std::thread([this] { run(); });
}

void Leadership::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_condition.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    bool wasLeading = false;
    {
        std::lock_guard lock(m_mutex);
        wasLeading = std::exchange(m_leading, false);
    }
    if (wasLeading)
        m_lost();
    m_connection.reset(); // lets go of the lock
}

bool Leadership::leading() const
{
    std::lock_guard lock(m_mutex);
    return m_leading;
}

// True while this instance holds the lock: taken now, or still held on a live connection.
bool Leadership::holdOrTake()
{
    try {
        if (!m_connection)
            m_connection = static_cast<PgStorage &>(m_storage).connect();
        if (leading()) {
            m_connection->exec("SELECT 1");
            return true;
        }
        auto take = m_connection->prepare(kTakeLock);
        return take.step() && take.int64(0) != 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "leadership: %s\n", error.what());
        m_connection.reset();
        return false;
    }
}

void Leadership::run()
{
    for (;;) {
        const bool holds = holdOrTake();
        bool changed = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            changed = holds != m_leading;
            m_leading = holds;
        }
        if (changed)
            (holds ? m_gained : m_lost)();
        std::unique_lock lock(m_mutex);
        m_condition.wait_for(lock, m_retry, [this] { return m_stopping; });
        if (m_stopping)
            return;
    }
}

} // namespace clipvane::service
