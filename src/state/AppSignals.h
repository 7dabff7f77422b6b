#pragma once

#include <QObject>

namespace clipvane {

// The process-wide notifications between the menu commands and the window's views: the
// commands emit, the library and the detail pane listen. One instance per process.
class AppSignals : public QObject
{
    Q_OBJECT

public:
    static AppSignals &instance();

Q_SIGNALS:
    // "Play / Pause": the detail pane toggles the player.
    void macTogglePlayback();
    // Move the selection by +1 (next) or -1 (previous).
    void macStepSelection(int direction);
    void macToggleExcluded();
    // "Mark as Watched" / "Mark as Unwatched" for the selected video.
    void macToggleWatched();
    void macFocusSearch();

private:
    AppSignals() = default;
};

} // namespace clipvane
