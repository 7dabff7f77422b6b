#include "domain/MetadataPacer.h"

#include <algorithm>
#include <thread>

namespace clipvane::service {

namespace {
constexpr double kSlowestCallsPerSecond = 0.01;
constexpr double kKeptForAdds = 1;
} // namespace

MetadataPacer::MetadataPacer(MetadataPacing pacing)
    : MetadataPacer(pacing, Time{})
{}

MetadataPacer::MetadataPacer(MetadataPacing pacing, Time time)
    : m_perSecond(std::max(pacing.callsPerSecond, kSlowestCallsPerSecond))
    , m_burst(std::max(pacing.burst, 2))
    , m_time(std::move(time))
    , m_tokens(m_burst)
    , m_refilled(m_time.now())
{}

void MetadataPacer::refill(Clock::time_point now)
{
    const double elapsed = std::chrono::duration<double>(now - m_refilled).count();
    m_tokens = std::min(m_burst, m_tokens + std::max(elapsed, 0.0) * m_perSecond);
    m_refilled = now;
}

bool MetadataPacer::tryTake()
{
    std::lock_guard lock(m_mutex);
    refill(m_time.now());
    if (m_tokens < 1)
        return false;
    m_tokens -= 1;
    return true;
}

void MetadataPacer::take()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        refill(m_time.now());
        const double missing = kKeptForAdds + 1 - m_tokens;
        if (missing <= 0) {
            m_tokens -= 1;
            return;
        }
        ++m_waits;
        const auto pause = std::chrono::ceil<Clock::duration>(std::chrono::duration<double>(missing / m_perSecond));
        // Adds may take tokens meanwhile; they must not wait on the worker's sleep.
        lock.unlock();
        m_time.sleep(std::max(pause, Clock::duration(1)));
        lock.lock();
    }
}

long MetadataPacer::waits() const
{
    std::lock_guard lock(m_mutex);
    return m_waits;
}

} // namespace clipvane::service
