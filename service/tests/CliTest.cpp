// The program itself: the token command, serve on a free port, and a clean stop on SIGTERM.

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>

#include <csignal>

namespace {

constexpr char kPage[] = R"({"url":"https://example.com/page","title":"A page"})";

// Runs the program to its end; its standard output and exit code (-1 when it hung).
std::pair<QString, int> run(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral(CLIPVANE_SERVICE_BINARY), arguments);
    if (!process.waitForFinished(30000))
        return {QString(), -1};
    return {QString::fromUtf8(process.readAllStandardOutput()), process.exitCode()};
}

} // namespace

class CliTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_data;

    QString token(const QString &email) { return run({u"token"_qs, email, u"--data"_qs, m_data.path()}).first; }

    // Starts serving the data folder on a free port; the port, or 0 when it never said.
    int serve(QProcess &process)
    {
        process.start(QStringLiteral(CLIPVANE_SERVICE_BINARY),
                      {u"serve"_qs, u"--listen"_qs, u"127.0.0.1:0"_qs, u"--data"_qs, m_data.path()});
        const QRegularExpression listening(u"listening on http://127\\.0\\.0\\.1:(\\d+)"_qs);
        QString log;
        for (int attempt = 0; attempt < 200; ++attempt) {
            process.waitForReadyRead(100);
            log += QString::fromUtf8(process.readAllStandardError());
            if (const int port = listening.match(log).captured(1).toInt(); port > 0)
                return port;
        }
        return 0;
    }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void tokenCommandPrintsOneToken()
    {
        const QString first = token(u"A@Example.com"_qs);
        QVERIFY(QRegularExpression(u"^[A-Za-z0-9_-]{43}\n$"_qs).match(first).hasMatch());
        QVERIFY(token(u"a@example.com"_qs) != first);
        QCOMPARE(run({u"token"_qs, u"not-an-address"_qs, u"--data"_qs, m_data.path()}).second, 2);
        QCOMPARE(run({u"frobnicate"_qs}).second, 2);
    }

    void servesAndStopsCleanly()
    {
        const httplib::Headers auth{{"Authorization", "Bearer " + token(u"a@example.com"_qs).trimmed().toStdString()}};
        QProcess service;
        const int port = serve(service);
        QVERIFY(port > 0);
        httplib::Client client("127.0.0.1", port);
        const auto added = client.Post("/api/upsert.php", auth, kPage, "application/json");
        QVERIFY(added && added->status == 200);
        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(20000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        QVERIFY(QString::fromUtf8(service.readAllStandardError()).contains(u"stopped"_qs));

        // What was confirmed is still there after the restart.
        QProcess again;
        httplib::Client second("127.0.0.1", serve(again));
        const auto kept = second.Get("/api/videos.php", auth);
        QVERIFY(kept && kept->body.find("A page") != std::string::npos);
        again.terminate();
        QVERIFY(again.waitForFinished(20000));
        QCOMPARE(again.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "CliTest.moc"
