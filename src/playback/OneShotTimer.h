#pragma once

#include <QTimer>
#include <chrono>
#include <functional>

namespace clipvane {

// A single-shot timer behind an interface, so a test fires it by hand instead of waiting.
class OneShotTimer
{
public:
    virtual ~OneShotTimer() = default;

    // Starts (or restarts) the timer; fire runs once when it expires unless stop() came first.
    virtual void start(std::chrono::milliseconds interval, std::function<void()> fire) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

// The real one, on the Qt event loop of the calling thread.
class QtOneShotTimer final : public OneShotTimer
{
public:
    QtOneShotTimer();

    void start(std::chrono::milliseconds interval, std::function<void()> fire) override;
    void stop() override;
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
    std::function<void()> m_fire;
};

} // namespace clipvane
