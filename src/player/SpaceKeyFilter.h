#pragma once

#include <QObject>
#include <QPointer>

namespace clipvane {

class MacAppState;

// Lets the Space key play and pause the video without the player having focus: an event
// filter on the application that sees every key press before the focused widget does. It
// takes Space only in the main window ("Clipvane"), with no modifier held, and never from a
// text-editing widget or the player's own web view, which keep their Space.
class SpaceKeyFilter : public QObject
{
    Q_OBJECT

public:
    static constexpr char16_t kMainWindowTitle[] = u"Clipvane";

    // Installs itself on the application; removed again when destroyed. Holds the state weakly.
    explicit SpaceKeyFilter(MacAppState &state, QObject *parent = nullptr);
    ~SpaceKeyFilter() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool shouldToggle(QEvent *event) const;

    QPointer<MacAppState> m_state;
};

} // namespace clipvane
