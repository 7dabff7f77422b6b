#include "PagingCoordinator.h"

#include <QKeyEvent>
#include <QWheelEvent>
#include <chrono>
#include <cmath>

namespace clipvane {

namespace {

qint64 steadyNowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// A classic wheel notch is 120 eighths of a degree.
constexpr double kAnglePerNotch = 120.0;

} // namespace

PagingCoordinator::PagingCoordinator(Clock clock)
    : m_clock(clock ? std::move(clock) : Clock(steadyNowMs))
{}

void PagingCoordinator::handleWheel(double delta, bool precise, const OnPage &onPage)
{
    if (m_clock() < m_lockedUntil)
        return;
    double step = 0;
    qint64 lockout = 0;
    if (precise) {
        m_accumulated += delta;
        if (!(std::abs(m_accumulated) > kPreciseThreshold))
            return;
        step = m_accumulated;
        lockout = kPreciseLockoutMs;
    } else {
        if (!(std::abs(delta) > kLineThreshold))
            return;
        step = delta;
        lockout = kLineLockoutMs;
    }
    if (onPage)
        onPage(step < 0 ? +1 : -1);
    m_accumulated = 0;
    m_lockedUntil = m_clock() + lockout;
}

double PagingCoordinator::verticalDelta(const QWheelEvent &event, bool *precise)
{
    const bool pixels = !event.pixelDelta().isNull();
    if (precise)
        *precise = pixels;
    return pixels ? double(event.pixelDelta().y()) : event.angleDelta().y() / kAnglePerNotch;
}

int PagingCoordinator::keyDirection(const QKeyEvent &event)
{
    if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return 0;
    switch (event.key()) {
    case Qt::Key_Up:
    case Qt::Key_K:
        return -1;
    case Qt::Key_Down:
    case Qt::Key_J:
        return +1;
    default:
        return 0;
    }
}

} // namespace clipvane
