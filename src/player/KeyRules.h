#pragma once

#include <QObject>
#include <QPointer>

class QKeyEvent;
class QWidget;

namespace clipvane {

class AppState;

// The keys' one rule, for every window of the application: the focused control handles Return,
// Space and Escape first, and the window's commands get what no control wants.
// - Return or Enter presses a focused button (the design's own buttons ignore Return otherwise).
// - Space plays or pauses the video in the main window ("Clipvane"), with no modifier held, when
//   the focused widget does not want Space itself: text fields, buttons, menus, the player's web
//   view keep their Space.
// - F puts the player alone on the whole screen, or takes it back, in the main window with no
//   modifier held, when a playable video is selected and no text field has the focus.
// - Escape in the main window leaves that full screen before anything else Escape does (the
//   browse mode's close button, a panel's close); otherwise it cancels the up-next wait.
// - In full screen and browse mode the paging keys page through the list wherever the focus
//   is (the list under the player is out of sight), but not in a text field.
// - A command key of the window (Ctrl+E, Ctrl+B, …) reaches its command even from a text field,
//   unless the field uses it for editing (copy, paste, undo, deletion by word and the like).
// An event filter on the application: it sees every key before the focused widget does.
class KeyRules : public QObject
{
    Q_OBJECT

public:
    static constexpr char16_t kMainWindowTitle[] = u"Clipvane";

    // Installs itself on the application; removed again when destroyed. Holds the state weakly.
    explicit KeyRules(AppState &state, QObject *parent = nullptr);
    ~KeyRules() override;

    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool shouldToggle(const QKeyEvent &key) const;
    bool shouldToggleFullScreen(const QKeyEvent &key) const;
    bool takesEscape(const QKeyEvent &key) const;
    int fullScreenPage(const QKeyEvent &key) const;
    static const QWidget *mainWindowFocus(bool *inMainWindow);
    static bool pressesButton(const QKeyEvent &key, QWidget *focus);
    static bool yieldsToCommand(const QKeyEvent &key, QWidget *focus);

    QPointer<AppState> m_state;
};

} // namespace clipvane
