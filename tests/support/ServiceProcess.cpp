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
    , m_store{u"--data"_qs, m_dataDir}
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
    m_process.setProcessEnvironment(m_environment);
    m_process.setStandardOutputFile(QProcess::nullDevice());
    m_process.setStandardErrorFile(m_logDir.filePath(u"service.log"_qs));
    m_process.start(m_binary, QStringList{u"serve"_qs, u"--listen"_qs, u"127.0.0.1:0"_qs} + m_store);
    if (!m_process.waitForStarted(timeoutMs)) {
        m_error = u"cannot start %1: %2"_qs.arg(m_binary, m_process.errorString());
        return false;
    }
    if (const auto port = awaitLog(u"listening on http://127\\.0\\.0\\.1:(\\d+)"_qs, timeoutMs)) {
        m_port = port->toInt();
        return true;
    }
    return false;
}

std::optional<QString> ServiceProcess::awaitLog(const QString &pattern, int timeoutMs)
{
    const QRegularExpression expression(pattern);
    QElapsedTimer waited;
    waited.start();
    QString log;
    for (;;) {
        QFile file(m_logDir.filePath(u"service.log"_qs));
        if (file.open(QIODevice::ReadOnly))
            log = QString::fromUtf8(file.readAll());
        if (const QRegularExpressionMatch match = expression.match(log); match.hasMatch())
            return match.captured(1);
        if (m_process.state() != QProcess::Running || waited.elapsed() >= timeoutMs) {
            m_error = u"the service's log never showed \"%1\": %2"_qs.arg(pattern, log);
            return std::nullopt;
        }
        m_process.waitForFinished(50);
    }
}

bool ServiceProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return false;
    ::kill(pid_t(m_process.processId()), SIGTERM);
    if (m_process.waitForFinished(20000))
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    m_process.kill();
    m_process.waitForFinished(5000);
    return false;
}

void ServiceProcess::killHard()
{
    ::kill(pid_t(m_process.processId()), SIGKILL);
    m_process.waitForFinished();
}

QString ServiceProcess::token(const QString &email)
{
    QProcess command;
    command.setProcessEnvironment(m_environment);
    command.start(m_binary, QStringList{u"token"_qs, email} + m_store);
    if (!command.waitForFinished(30000) || command.exitCode() != 0)
        return QString();
    return QString::fromUtf8(command.readAllStandardOutput()).trimmed();
}

} // namespace clipvane::test
