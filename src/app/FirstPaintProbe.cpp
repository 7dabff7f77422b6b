#include "FirstPaintProbe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <cstdio>

namespace clipvane {

void FirstPaintProbe::watch(QObject *widget)
{
    if (!qEnvironmentVariableIsSet(kVariable))
        return;
    widget->installEventFilter(new FirstPaintProbe(widget));
}

bool FirstPaintProbe::eventFilter(QObject *, QEvent *event)
{
    if (event->type() == QEvent::Paint && !m_done) {
        m_done = true;
        // After the paint has been handed to the screen.
        QTimer::singleShot(0, qApp, [] {
            std::fputs("first paint\n", stdout);
            std::fflush(stdout);
            QCoreApplication::quit();
        });
    }
    return false;
}

} // namespace clipvane
