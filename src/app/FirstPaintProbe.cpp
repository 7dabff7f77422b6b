#include "FirstPaintProbe.h"

#include "StartupTrace.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <cstdio>

namespace clipvane {

namespace {

// The process's resident memory (VmRSS), or -1 where the system does not say.
long long residentKilobytes()
{
    FILE *status = std::fopen("/proc/self/status", "r");
    if (!status)
        return -1;
    char line[256];
    long long kilobytes = -1;
    while (std::fgets(line, sizeof line, status)) {
        if (std::sscanf(line, "VmRSS: %lld kB", &kilobytes) == 1)
            break;
    }
    std::fclose(status);
    return kilobytes;
}

} // namespace

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
        StartupTrace::mark("first paint");
        // After the paint has been handed to the screen.
        QTimer::singleShot(0, qApp, [] {
            StartupTrace::mark("first paint shown");
            std::printf("first paint, resident %lld kB\n", residentKilobytes());
            std::fflush(stdout);
            // A number of milliseconds keeps the application running that long, so what starts
            // after the first paint (the web engine) can be measured too.
            const int linger = qEnvironmentVariableIntValue(kVariable);
            QTimer::singleShot(linger > 1 ? linger : 0, qApp, &QCoreApplication::quit);
        });
    }
    return false;
}

} // namespace clipvane
