#include "WatchProgress.h"

#include <cmath>

namespace clipvane {

WatchProgress::WatchProgress(Keeper keeper, Clock clock)
    : m_keeper(std::move(keeper))
    , m_clock(std::move(clock))
{}

bool WatchProgress::isWatchedAt(double position, double duration)
{
    return std::isfinite(position) && std::isfinite(duration) && duration > 0 && position > kWatchedShare * duration;
}

void WatchProgress::select(const std::optional<QString> &youtubeID)
{
    if (youtubeID == m_id)
        return;
    keepPosition();
    m_id = youtubeID;
    m_position.reset();
    m_kept.reset();
    m_watched = false;
    m_lastKept = m_clock();
}

void WatchProgress::timeReported(double position, double duration, bool playing)
{
    if (!m_id || m_watched || !std::isfinite(position) || position < 0)
        return;
    if (isWatchedAt(position, duration)) {
        ended();
        return;
    }
    if (!playing && !m_position)
        return;
    m_position = int(position);
    // A report while not playing comes with a pause or a stop: where it stopped is kept at once.
    if (!playing || m_clock() - m_lastKept >= kSaveInterval)
        keepPosition();
}

void WatchProgress::paused()
{
    keepPosition();
}

void WatchProgress::ended()
{
    if (!m_id || m_watched)
        return;
    m_watched = true;
    m_keeper.markWatched(*m_id);
}

void WatchProgress::quit()
{
    keepPosition();
}

void WatchProgress::keepPosition()
{
    if (!m_id || m_watched || !m_position || m_position == m_kept)
        return;
    m_kept = m_position;
    m_lastKept = m_clock();
    m_keeper.savePosition(*m_id, *m_position);
}

} // namespace clipvane
