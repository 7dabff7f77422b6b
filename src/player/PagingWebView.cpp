#include "PagingWebView.h"

#include "PagingCoordinator.h"

#include <QChildEvent>
#include <QKeyEvent>
#include <QWheelEvent>

namespace clipvane {

PagingWebView::PagingWebView(QWidget *parent)
    : QWebEngineView(parent)
{
    installEventFilter(this);
    watchFocusProxy();
}

bool PagingWebView::event(QEvent *event)
{
    if (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished || event->type() == QEvent::Show)
        watchFocusProxy();
    return QWebEngineView::event(event);
}

void PagingWebView::watchFocusProxy()
{
    QWidget *proxy = focusProxy();
    if (!proxy || proxy == m_watched)
        return;
    if (m_watched)
        m_watched->removeEventFilter(this);
    m_watched = proxy;
    proxy->installEventFilter(this);
}

bool PagingWebView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel && m_onWheel) {
        bool precise = false;
        const double delta = PagingCoordinator::verticalDelta(*static_cast<QWheelEvent *>(event), &precise);
        m_onWheel(delta, precise);
        return true;
    }
    if (event->type() == QEvent::KeyPress && m_onKey) {
        const int direction = PagingCoordinator::keyDirection(*static_cast<QKeyEvent *>(event));
        if (direction != 0) {
            m_onKey(direction);
            return true;
        }
    }
    return QWebEngineView::eventFilter(watched, event);
}

} // namespace clipvane
