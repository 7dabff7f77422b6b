#pragma once

#include <QString>
#include <chrono>
#include <functional>
#include <optional>

namespace clipvane {

// Decides when the person's viewing of the selected video is kept: its position on pause, when
// another video is selected, on quit and every kSaveInterval while it plays; and a watched mark
// once it has played past kWatchedShare of its length or to its end. A watched mark starts the
// video over, so nothing more of its position is kept until it is selected again. Main thread
// only; the clock comes from outside so a test moves time by hand.
class WatchProgress
{
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::seconds kSaveInterval{10};
    static constexpr double kWatchedShare = 0.9;

    struct Keeper
    {
        std::function<void(const QString &youtubeID, int seconds)> savePosition;
        std::function<void(const QString &youtubeID)> markWatched;
    };

    WatchProgress(Keeper keeper, Clock clock);

    // Another video (or none) is shown: the one before keeps where it was left.
    void select(const std::optional<QString> &youtubeID);
    // The page's report of where playback is, in seconds; duration 0 while it is not known.
    void timeReported(double position, double duration, bool playing);
    void paused();
    void ended();
    void quit();

    // Where a video starts when selected: a watched one from the beginning.
    static int startPosition(bool watched, int position) { return watched ? 0 : position; }
    // Whether a position counts the video as watched.
    static bool isWatchedAt(double position, double duration);

private:
    void keepPosition();

    Keeper m_keeper;
    Clock m_clock;
    std::optional<QString> m_id;
    // Only positions heard while playing are kept: before the first one, the page may still
    // report 0 for a video that is about to resume further on.
    std::optional<int> m_position;
    std::optional<int> m_kept;
    bool m_watched = false;
    std::chrono::steady_clock::time_point m_lastKept{};
};

} // namespace clipvane
