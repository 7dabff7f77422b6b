#pragma once

#include <QtGlobal>
#include <functional>
#include <limits>

class QKeyEvent;
class QWheelEvent;

namespace clipvane {

// Turns wheel gestures over the player into one step at a time: a threshold decides when a
// gesture counts and a short lock-out after each step swallows the rest of it (the momentum
// tail of a swipe). Precise (pixel) deltas accumulate; a residue below the threshold carries
// into the next gesture. Time comes from a clock given at creation, so tests need no real time.
class PagingCoordinator
{
public:
    // Milliseconds on a monotonic scale.
    using Clock = std::function<qint64()>;
    using OnPage = std::function<void(int direction)>;

    static constexpr double kPreciseThreshold = 28.0; // points
    static constexpr qint64 kPreciseLockoutMs = 450;
    static constexpr double kLineThreshold = 0.1; // wheel notches
    static constexpr qint64 kLineLockoutMs = 180;

    explicit PagingCoordinator(Clock clock = {});

    // One wheel event: its vertical delta (points when precise, notches otherwise). Calls onPage
    // with +1 (next) for a downward step, -1 (previous) for an upward one.
    void handleWheel(double delta, bool precise, const OnPage &onPage);

    // The vertical delta of a wheel event and whether it is precise.
    static double verticalDelta(const QWheelEvent &event, bool *precise);
    // +1 or -1 for the paging keys (Down/J, Up/K; Shift allowed), 0 for anything else,
    // including any key with Control, Alt or Meta held.
    static int keyDirection(const QKeyEvent &event);

    double accumulated() const { return m_accumulated; }

private:
    Clock m_clock;
    double m_accumulated = 0;
    qint64 m_lockedUntil = std::numeric_limits<qint64>::min();
};

} // namespace clipvane
