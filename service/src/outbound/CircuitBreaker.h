#pragma once

#include <chrono>
#include <mutex>

namespace clipvane::service {

// Stops waiting on an outside service that keeps failing. After failuresToOpen failures in a
// row it opens: callers are told not to ask for openFor, then one caller may try again; a
// success closes it, a failure opens it once more. Thread-safe.
class CircuitBreaker
{
public:
    using Clock = std::chrono::steady_clock;

    CircuitBreaker(int failuresToOpen, Clock::duration openFor);

    // Whether a caller that would wait on the service should ask it now.
    bool allow();
    void succeeded();
    // True when this failure opened it (or opened it again after a try).
    bool failed();

private:
    std::mutex m_mutex;
    int m_failuresToOpen;
    Clock::duration m_openFor;
    int m_failures = 0;
    Clock::time_point m_openUntil{};
    bool m_trying = false; // one caller is trying again after the pause
};

} // namespace clipvane::service
