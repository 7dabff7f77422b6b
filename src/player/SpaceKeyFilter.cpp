#include "SpaceKeyFilter.h"

#include "MacAppState.h"
#include "PlayerController.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
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

} // namespace

SpaceKeyFilter::SpaceKeyFilter(MacAppState &state, QObject *parent)
    : QObject(parent)
    , m_state(&state)
{
    qApp->installEventFilter(this);
}

SpaceKeyFilter::~SpaceKeyFilter()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

bool SpaceKeyFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (!shouldToggle(event))
        return QObject::eventFilter(watched, event);
    PlayerController &player = m_state->player();
    if (player.isPlaying())
        player.pause();
    else
        player.play();
    return true;
}

bool SpaceKeyFilter::shouldToggle(QEvent *event) const
{
    if (event->type() != QEvent::KeyPress || !m_state)
        return false;
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->key() != Qt::Key_Space)
        return false;
    if (key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QWidget *window = QApplication::activeWindow();
    if (!window || window->windowTitle() != QStringView(kMainWindowTitle))
        return false;
    const QWidget *focus = window->focusWidget();
    if (focus && (isTextEditing(focus) || isInWebView(focus)))
        return false;
    return true;
}

} // namespace clipvane
