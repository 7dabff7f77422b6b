#pragma once

#include <QRect>
#include <QSize>
#include <QString>
#include <functional>
#include <optional>

class QSettings;
class QSplitter;
class QWidget;

namespace clipvane {

// The main window as the person left it: its size and place, the width of the library column
// and the selected video, kept in the standard settings of the profile and given back at the
// next launch. What no longer fits is let go: a place on no screen (a monitor unplugged since)
// gives the default placement, a video that is gone gives no selection.
class WindowMemory
{
public:
    // standard: the standard settings of the profile; must outlive the memory.
    explicit WindowMemory(QSettings &standard);

    // The kept size and place, else defaultSize centred on the primary screen.
    void restoreWindow(QWidget &window, QSize defaultSize) const;
    // The kept column width; the splitter keeps its own sizes when none is kept.
    void restoreSplitter(QSplitter &splitter) const;
    // The kept selection when exists(youtubeID) says the video is still there.
    std::optional<QString> selection(const std::function<bool(const QString &)> &exists) const;

    // splitter: none while the library is not shown (the kept width stays); selected: none
    // forgets the selection.
    void save(const QWidget &window, const QSplitter *splitter, const std::optional<QString> &selected);

    // Whether enough of the frame lies on some screen to be seen and grabbed.
    static bool isOnAnyScreen(const QRect &frame);

private:
    QSettings &m_standard;
};

} // namespace clipvane
