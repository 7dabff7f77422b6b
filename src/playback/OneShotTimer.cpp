#include "OneShotTimer.h"

namespace clipvane {

QtOneShotTimer::QtOneShotTimer()
{
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
        if (m_fire)
            m_fire();
    });
}

void QtOneShotTimer::start(std::chrono::milliseconds interval, std::function<void()> fire)
{
    m_fire = std::move(fire);
    m_timer.start(interval);
}

void QtOneShotTimer::stop()
{
    m_timer.stop();
}

} // namespace clipvane
