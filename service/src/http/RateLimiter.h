#pragma once

#include <QByteArray>
#include <QHash>

#include <chrono>
#include <mutex>
#include <optional>

namespace clipvane::service {

// Per-token admission: a token bucket (sustained rate with a burst) and a cap on requests
// in flight. Sized to stop abuse, not use: one client working through its queue request
// by request never meets either bound.
class RateLimiter
{
public:
    // One client adding record after record reaches about 1,800 requests a second on a
    // 2-core machine; the sustained rate lies well above that and the burst covers ten
    // thousand records even at unbounded speed. What stops a flood is the in-flight cap.
    struct Settings
    {
        double perSecond = 5000;
        double burst = 10000;
        int maxInFlight = 8;
    };

    // Holds one in-flight slot of a key until destroyed.
    class Permit
    {
    public:
        Permit(RateLimiter *limiter, QByteArray key);
        Permit(Permit &&other) noexcept;
        Permit &operator=(Permit &&) = delete;
        Permit(const Permit &) = delete;
        Permit &operator=(const Permit &) = delete;
        ~Permit();

    private:
        RateLimiter *m_limiter;
        QByteArray m_key;
    };

    explicit RateLimiter(Settings settings);

    // None when the key has spent its rate or has too many requests in flight.
    std::optional<Permit> admit(const QByteArray &key);

private:
    using Clock = std::chrono::steady_clock;
    struct Bucket
    {
        double tokens = 0;
        Clock::time_point refilled;
        int inFlight = 0;
    };

    void release(const QByteArray &key);
    void prune(Clock::time_point now);

    Settings m_settings;
    std::mutex m_mutex;
    QHash<QByteArray, Bucket> m_buckets;
};

} // namespace clipvane::service
