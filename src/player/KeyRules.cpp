#include "KeyRules.h"

#include "AppSignals.h"
#include "AppState.h"
#include "PagingCoordinator.h"
#include "PlayerController.h"
#include "UpNextCountdown.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTextEdit>
#include <QWebEngineView>

namespace clipvane {

namespace {

bool isTextEditing(const QWidget *widget)
{
    // A text view keeps its Space even when read-only (Space scrolls it).
    if (qobject_cast<const QLineEdit *>(widget) || qobject_cast<const QAbstractSpinBox *>(widget) ||
        qobject_cast<const QTextEdit *>(widget) || qobject_cast<const QPlainTextEdit *>(widget))
        return true;
    if (const auto *combo = qobject_cast<const QComboBox *>(widget))
        return combo->isEditable();
    // Any other widget that takes typed text says so through the input method.
    return widget->testAttribute(Qt::WA_InputMethodEnabled);
}

// The web view's input arrives at its focus proxy, a child of the view.
bool isInWebView(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        if (qobject_cast<const QWebEngineView *>(w))
            return true;
    }
    return false;
}

// Controls that do something with Space themselves: a button is pressed, a menu or list of
// choices opens, a slider or a tab bar moves.
bool wantsSpace(const QWidget *widget)
{
    return isTextEditing(widget) || isInWebView(widget) || qobject_cast<const QAbstractButton *>(widget) ||
           qobject_cast<const QComboBox *>(widget) || qobject_cast<const QAbstractSlider *>(widget) ||
           qobject_cast<const QTabBar *>(widget) || qobject_cast<const QMenu *>(widget);
}

bool hasModifier(const QKeyEvent &key)
{
    return key.modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
}

} // namespace

KeyRules::KeyRules(AppState &state, QObject *parent)
    : QObject(parent)
    , m_state(&state)
{
    qApp->installEventFilter(this);
}

KeyRules::~KeyRules()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool KeyRules::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::ShortcutOverride)
        return QObject::eventFilter(watched, event);
    // Every key event goes to the focused widget; its ancestors see it again when it is passed on.
    QWidget *focus = QApplication::focusWidget();
    if (watched != focus)
        return QObject::eventFilter(watched, event);
    const auto &key = *static_cast<QKeyEvent *>(event);
    if (takesEscape(key)) {
        // Claimed at the override, so no window shortcut for Escape fires; acted on at the press.
        event->accept();
        if (type == QEvent::KeyPress) {
            if (m_state->fullScreen())
                m_state->setFullScreen(false);
            else
                m_state->upNext().cancel();
        }
        return true;
    }
    if (type == QEvent::ShortcutOverride) {
        if (!yieldsToCommand(key, focus))
            return QObject::eventFilter(watched, event);
        event->ignore(); // not the field's: the window's shortcut fires
        return true;
    }
    if (pressesButton(key, focus)) {
        static_cast<QAbstractButton *>(focus)->animateClick();
        return true;
    }
    if (const int direction = fullScreenPage(key)) {
        Q_EMIT AppSignals::instance().macStepSelection(direction);
        return true;
    }
    if (shouldToggleFullScreen(key)) {
        m_state->setFullScreen(!m_state->fullScreen());
        return true;
    }
    if (!shouldToggle(key))
        return QObject::eventFilter(watched, event);
    PlayerController &player = m_state->player();
    if (player.isPlaying())
        player.pause();
    else
        player.play();
    return true;
}

bool KeyRules::pressesButton(const QKeyEvent &key, QWidget *focus)
{
    if ((key.key() != Qt::Key_Return && key.key() != Qt::Key_Enter) ||
        (key.modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return false;
    const auto *button = qobject_cast<const QAbstractButton *>(focus);
    if (!button || !button->isEnabled())
        return false;
    // A push button in a dialog keeps Qt's own rule: Return presses the dialog's default button.
    return !(qobject_cast<const QPushButton *>(button) && qobject_cast<const QDialog *>(button->window()));
}

bool KeyRules::yieldsToCommand(const QKeyEvent &key, QWidget *focus)
{
    if (!isTextEditing(focus) || !(key.modifiers() & Qt::ControlModifier))
        return false;
    for (const QKeySequence::StandardKey editing :
         {QKeySequence::Undo, QKeySequence::Redo, QKeySequence::Cut, QKeySequence::Copy, QKeySequence::Paste,
          QKeySequence::SelectAll, QKeySequence::Delete, QKeySequence::Backspace, QKeySequence::DeleteStartOfWord,
          QKeySequence::DeleteEndOfWord, QKeySequence::MoveToNextWord, QKeySequence::MoveToPreviousWord,
          QKeySequence::SelectNextWord, QKeySequence::SelectPreviousWord, QKeySequence::MoveToStartOfDocument,
          QKeySequence::MoveToEndOfDocument, QKeySequence::SelectStartOfDocument, QKeySequence::SelectEndOfDocument}) {
        if (key.matches(editing))
            return false;
    }
    const QKeySequence sequence(key.keyCombination());
    const QWidget *window = focus->window();
    for (const QAction *action : window->findChildren<QAction *>()) {
        if (action->isEnabled() && action->shortcuts().contains(sequence) &&
            action->shortcutContext() != Qt::WidgetShortcut)
            return true;
    }
    return false;
}

const QWidget *KeyRules::mainWindowFocus(bool *inMainWindow)
{
    const QWidget *window = QApplication::activeWindow();
    *inMainWindow = window && window->windowTitle() == QStringView(kMainWindowTitle);
    return *inMainWindow ? window->focusWidget() : nullptr;
}

bool KeyRules::shouldToggle(const QKeyEvent &key) const
{
    if (!m_state || key.key() != Qt::Key_Space || hasModifier(key))
        return false;
    bool inMainWindow = false;
    const QWidget *focus = mainWindowFocus(&inMainWindow);
    return inMainWindow && (!focus || !wantsSpace(focus));
}

bool KeyRules::shouldToggleFullScreen(const QKeyEvent &key) const
{
    if (!m_state || key.key() != Qt::Key_F || hasModifier(key))
        return false;
    const std::optional<QString> selected = m_state->selectedID();
    if (!selected || !PlayerController::isPlayableID(*selected) || !m_state->player().hasPage())
        return false;
    bool inMainWindow = false;
    const QWidget *focus = mainWindowFocus(&inMainWindow);
    return inMainWindow && (!focus || !isTextEditing(focus));
}

int KeyRules::fullScreenPage(const QKeyEvent &key) const
{
    if (!m_state || !m_state->fullScreen() || !m_state->browsing())
        return 0;
    bool inMainWindow = false;
    const QWidget *focus = mainWindowFocus(&inMainWindow);
    if (!inMainWindow || (focus && isTextEditing(focus)))
        return 0;
    return PagingCoordinator::keyDirection(key);
}

bool KeyRules::takesEscape(const QKeyEvent &key) const
{
    if (!m_state || key.key() != Qt::Key_Escape || hasModifier(key))
        return false;
    if (!m_state->fullScreen() && !m_state->upNext().isActive())
        return false;
    bool inMainWindow = false;
    mainWindowFocus(&inMainWindow);
    return inMainWindow;
}

} // namespace clipvane
