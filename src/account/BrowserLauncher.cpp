#include "BrowserLauncher.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QDesktopServices>
#include <QProcess>

namespace clipvane {

QCoro::Task<bool> BrowserLauncher::open(QUrl url, QString program, std::chrono::milliseconds settle)
{
#if defined(Q_OS_MACOS) || defined(Q_OS_WIN)
    // There the platform's own call reports a missing handler.
    Q_UNUSED(program);
    Q_UNUSED(settle);
    co_return QDesktopServices::openUrl(url);
#else
    // The opener may outlive this call (it can wait on the browser it started): it is deleted when
    // it ends, or with the application.
    auto *process = new QProcess(QCoreApplication::instance());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start(program, {url.toString(QUrl::FullyEncoded)});
    // Starting takes the moment of an exec; what follows may take long and is waited for.
    if (!process->waitForStarted(static_cast<int>(settle.count()))) {
        process->deleteLater();
        co_return false;
    }
    if (process->state() != QProcess::NotRunning)
        co_await qCoro(process, &QProcess::finished, settle);
    if (process->state() != QProcess::NotRunning) {
        QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
        co_return true; // still running: it waits on the browser it started
    }
    process->deleteLater();
    co_return process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0;
#endif
}

} // namespace clipvane
