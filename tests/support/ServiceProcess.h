#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace clipvane::test {

// The real clipvane-service as a child process on a free loopback port, with its own data
// folder (or a database). Stopped with SIGTERM (and waited for) when destroyed.
class ServiceProcess
{
public:
    // environment: added to the child's.
    explicit ServiceProcess(QString binary, const QProcessEnvironment &environment = {}, QString dataDir = QString());
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    // Serves (and issues tokens for) this database instead of the data folder; before start().
    void useDatabase(const QString &url) { m_store = {u"--database"_qs, url}; }
    // Starts the service and waits until it listens; false, with the reason in error(), if not.
    bool start(int timeoutMs = 30000);
    // SIGTERM; true when the service stopped cleanly (exit status 0) within 20 s.
    bool stop();
    // kill -9.
    void killHard();
    // Waits until the service's log holds pattern; its first capture ("" when it has none),
    // or none.
    std::optional<QString> awaitLog(const QString &pattern, int timeoutMs = 20000);

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
    QStringList m_store;
    QProcess m_process;
    QString m_error;
    int m_port = 0;
};

} // namespace clipvane::test
