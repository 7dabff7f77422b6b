#include "ServiceProcess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <csignal>

namespace clipvane::test {

ServiceProcess::ServiceProcess(QString binary, const QProcessEnvironment &environment, QString dataDir)
    : m_binary(std::move(binary))
    , m_environment(QProcessEnvironment::systemEnvironment())
    , m_dataDir(dataDir.isEmpty() ? m_ownDir.path() : std::move(dataDir))
{
    for (const QString &name : environment.keys())
        m_environment.insert(name, environment.value(name));
}

ServiceProcess::~ServiceProcess()
{
    stop();
}

QString ServiceProcess::apiBase() const
{
    return u"http://127.0.0.1:%1/api"_qs.arg(m_port);
}

bool ServiceProcess::start(int timeoutMs)
{
    // The log goes to a file: a pipe nobody reads would stall the service once full.
    const QString logPath = m_logDir.filePath(u"service.log"_qs);
    m_process.setProcessEnvironment(m_environment);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(logPath);
    m_process.start(m_binary, {u"serve"_qs, u"--listen"_qs, u"127.0.0.1:0"_qs, u"--data"_qs, m_dataDir});
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = u"cannot start %1: %2"_qs.arg(m_binary, m_process.errorString());
        return false;
    }
    static const QRegularExpression listening(u"listening on http://127\\.0\\.0\\.1:(\\d+)"_qs);
    QElapsedTimer waited;
    waited.start();
    QString log;
    while (waited.elapsed() < timeoutMs) {
        QFile file(logPath);
        if (file.open(QIODevice::ReadOnly))
            log = QString::fromUtf8(file.readAll());
        const QRegularExpressionMatch match = listening.match(log);
        if (match.hasMatch()) {
            m_port = match.captured(1).toInt();
            return true;
        }
        if (m_process.state() != QProcess::Running) {
            m_error = u"the service ended at start: "_qs + log;
            return false;
        }
        m_process.waitForFinished(50);
    }
    m_error = u"the service did not report its port: "_qs + log;
    return false;
}

void ServiceProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(m_process.processId()), SIGTERM);
    if (!m_process.waitForFinished(20000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QString ServiceProcess::token(const QString &email)
{
    QProcess command;
    command.setProcessEnvironment(m_environment);
    command.start(m_binary, {u"token"_qs, email, u"--data"_qs, m_dataDir});
    if (!command.waitForFinished(30000) || command.exitCode() != 0)
        return QString();
    return QString::fromUtf8(command.readAllStandardOutput()).trimmed();
}

} // namespace clipvane::test
