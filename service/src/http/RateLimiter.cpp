#include "http/RateLimiter.h"

#include <algorithm>

namespace clipvane::service {

namespace {
constexpr size_t kPruneThreshold = 10'000;
} // namespace

RateLimiter::Permit::Permit(RateLimiter *limiter, QByteArray key)
    : m_limiter(limiter)
    , m_key(std::move(key))
{}

RateLimiter::Permit::Permit(Permit &&other) noexcept
    : m_limiter(std::exchange(other.m_limiter, nullptr))
    , m_key(std::move(other.m_key))
{}

RateLimiter::Permit::~Permit()
{
    if (m_limiter)
        m_limiter->release(m_key);
}

RateLimiter::RateLimiter(Settings settings)
    : m_settings(settings)
{}

std::optional<RateLimiter::Permit> RateLimiter::admit(const QByteArray &key)
{
    const Clock::time_point now = Clock::now();
    std::lock_guard lock(m_mutex);
    if (size_t(m_buckets.size()) > kPruneThreshold)
        prune(now);
    const bool created = !m_buckets.contains(key);
    Bucket &bucket = m_buckets[key];
    if (created) {
        bucket.tokens = m_settings.burst;
    } else {
        const double elapsed = std::chrono::duration<double>(now - bucket.refilled).count();
        bucket.tokens = std::min(m_settings.burst, bucket.tokens + elapsed * m_settings.perSecond);
    }
    bucket.refilled = now;
    if (bucket.tokens < 1.0 || bucket.inFlight >= m_settings.maxInFlight)
        return std::nullopt;
    bucket.tokens -= 1.0;
    ++bucket.inFlight;
    return Permit(this, key);
}

void RateLimiter::release(const QByteArray &key)
{
    std::lock_guard lock(m_mutex);
    if (auto it = m_buckets.find(key); it != m_buckets.end())
        --it->inFlight;
}

// Forgets idle keys whose bucket has refilled: remembering them changes nothing.
void RateLimiter::prune(Clock::time_point now)
{
    m_buckets.removeIf([&](const auto &entry) {
        const Bucket &bucket = entry.value();
        const double elapsed = std::chrono::duration<double>(now - bucket.refilled).count();
        return bucket.inFlight == 0 && bucket.tokens + elapsed * m_settings.perSecond >= m_settings.burst;
    });
}

} // namespace clipvane::service
