#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

namespace clipvane::test {

// The real clipvane-service as a child process on a free loopback port, with its own data
// folder. Stopped with SIGTERM (and waited for) when destroyed.
class ServiceProcess
{
public:
    // environment: added to the child's.
    explicit ServiceProcess(QString binary, const QProcessEnvironment &environment = {}, QString dataDir = QString());
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    // Starts the service and waits until it listens; false, with the reason in error(), if not.
    bool start(int timeoutMs = 30000);
    void stop();

    // A bearer token for the e-mail address, from the service's administrator command.
    QString token(const QString &email);

    int port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }
    QString apiBase() const; // http://127.0.0.1:<port>/api
    const QString &error() const { return m_error; }

private:
    QString m_binary;
    QProcessEnvironment m_environment;
    QTemporaryDir m_ownDir;
    QTemporaryDir m_logDir;
    QString m_dataDir;
    QProcess m_process;
    QString m_error;
    int m_port = 0;
};

} // namespace clipvane::test
