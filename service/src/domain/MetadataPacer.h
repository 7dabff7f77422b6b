#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

namespace clipvane::service {

// How fast the service asks its metadata provider, adds and the worker together.
struct MetadataPacing
{
    double callsPerSecond = 10;
    // Calls that may go out at once after a quiet spell; at least two (see MetadataPacer).
    int burst = 4;
    // An add asks the provider itself only while its account has fewer videos than this
    // waiting for the worker; beyond it the add is part of an import and answers at once.
    int inlineBelowBacklog = 4;
};

// A token bucket over the calls to the metadata provider, shared by adds and the worker, so
// an import of thousands of videos never asks faster than the provider is willing to answer.
// Adds never wait for a token: without one they leave the video to the worker. The worker
// waits, and leaves the last token in the bucket, so a lone add made while a backlog drains
// still finds one free within a call's time. Thread-safe.
class MetadataPacer
{
public:
    using Clock = std::chrono::steady_clock;
    // The clock and the sleep, replaceable so a test counts waits instead of spending them.
    struct Time
    {
        std::function<Clock::time_point()> now = [] { return Clock::now(); };
        std::function<void(Clock::duration)> sleep = [](Clock::duration pause) { std::this_thread::sleep_for(pause); };
    };

    explicit MetadataPacer(MetadataPacing pacing);
    MetadataPacer(MetadataPacing pacing, Time time);

    // A token if one is free now (for an add).
    bool tryTake();
    // Waits until a token beyond the one kept for adds is free, then takes it (for the worker).
    void take();
    // How often take() had to wait.
    long waits() const;

private:
    void refill(Clock::time_point now);

    mutable std::mutex m_mutex;
    double m_perSecond;
    double m_burst;
    Time m_time;
    double m_tokens;
    Clock::time_point m_refilled;
    long m_waits = 0;
};

} // namespace clipvane::service
