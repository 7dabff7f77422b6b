#include "UpNextCountdown.h"

namespace clipvane {

UpNextCountdown::UpNextCountdown(QObject *parent)
    : UpNextCountdown(std::make_unique<QtOneShotTimer>(), parent)
{}

UpNextCountdown::UpNextCountdown(std::unique_ptr<OneShotTimer> tick, QObject *parent)
    : QObject(parent)
    , m_tick(std::move(tick))
{}

UpNextCountdown::~UpNextCountdown() = default;

void UpNextCountdown::offer(const QString &youtubeID, const QString &title)
{
    m_nextID = youtubeID;
    m_title = title;
    m_secondsLeft = kSeconds;
    // The timer belongs to the countdown, so it cannot fire for a countdown that is gone.
    m_tick->start(kTick, [this] { tick(); });
    Q_EMIT changed();
}

void UpNextCountdown::cancel()
{
    if (isActive())
        finish(false);
}

void UpNextCountdown::playNow()
{
    if (isActive())
        finish(true);
}

void UpNextCountdown::tick()
{
    if (!isActive())
        return;
    if (--m_secondsLeft <= 0) {
        finish(true);
        return;
    }
    m_tick->start(kTick, [this] { tick(); });
    Q_EMIT changed();
}

void UpNextCountdown::finish(bool play)
{
    m_tick->stop();
    const QString id = *std::exchange(m_nextID, std::nullopt);
    m_title.clear();
    m_secondsLeft = 0;
    // Over before anyone hears of it: the selection the request causes finds nothing to cancel.
    Q_EMIT changed();
    if (play)
        Q_EMIT playRequested(id);
}

} // namespace clipvane
