// The program itself: the token command, serve on a free port, and a clean stop on SIGTERM.

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <httplib.h>

#include <csignal>

class CliTest : public QObject
{
    Q_OBJECT

private:
    static QString binary() { return QStringLiteral(CLIPVANE_SERVICE_BINARY); }

    QString runToken(const QString &dataDir, const QString &email, int *exitCode)
    {
        QProcess process;
        process.start(binary(), {u"token"_qs, email, u"--data"_qs, dataDir});
        if (!process.waitForFinished(30000))
            return QString();
        *exitCode = process.exitCode();
        return QString::fromUtf8(process.readAllStandardOutput());
    }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void tokenCommandPrintsOneToken()
    {
        QTemporaryDir data;
        int exitCode = -1;
        const QString output = runToken(data.path(), u"A@Example.com"_qs, &exitCode);
        QCOMPARE(exitCode, 0);
        QVERIFY(QRegularExpression(u"^[A-Za-z0-9_-]{43}\n$"_qs).match(output).hasMatch());
        QVERIFY(runToken(data.path(), u"a@example.com"_qs, &exitCode) != output);

        runToken(data.path(), u"not-an-address"_qs, &exitCode);
        QCOMPARE(exitCode, 2);
        QProcess usage;
        usage.start(binary(), {u"frobnicate"_qs});
        QVERIFY(usage.waitForFinished(30000));
        QCOMPARE(usage.exitCode(), 2);
    }

    void servesAndStopsCleanly()
    {
        QTemporaryDir data;
        int exitCode = -1;
        const QString token = runToken(data.path(), u"a@example.com"_qs, &exitCode).trimmed();
        QProcess service;
        service.start(binary(), {u"serve"_qs, u"--listen"_qs, u"127.0.0.1:0"_qs, u"--data"_qs, data.path()});
        QVERIFY(service.waitForStarted());
        QString log;
        int port = 0;
        const QRegularExpression listening(u"listening on http://127\\.0\\.0\\.1:(\\d+)"_qs);
        QTRY_VERIFY_WITH_TIMEOUT((log += QString::fromUtf8(service.readAllStandardError()),
                                  port = listening.match(log).captured(1).toInt()) > 0,
                                 20000);

        httplib::Headers auth;
        auth.emplace("Authorization", "Bearer " + token.toStdString());
        httplib::Client client("127.0.0.1", port);
        const auto added =
            client.Post("/api/upsert.php", auth, R"json({"url":"https://example.com/page","title":"A page"})json",
                        "application/json");
        QVERIFY(added);
        QCOMPARE(added->status, 200);
        const auto page = client.Get("/api/videos.php?since=0&after_id=0&limit=600", auth);
        QVERIFY(page);
        QCOMPARE(page->status, 200);
        QVERIFY(page->body.find("A page") != std::string::npos);

        ::kill(pid_t(service.processId()), SIGTERM);
        QVERIFY(service.waitForFinished(20000));
        QCOMPARE(service.exitStatus(), QProcess::NormalExit);
        QCOMPARE(service.exitCode(), 0);
        QVERIFY(QString::fromUtf8(service.readAllStandardError()).contains(u"stopped"_qs));

        // What was confirmed is still there after the restart.
        QProcess again;
        again.start(binary(), {u"serve"_qs, u"--listen"_qs, u"127.0.0.1:0"_qs, u"--data"_qs, data.path()});
        log.clear();
        port = 0;
        QTRY_VERIFY_WITH_TIMEOUT((log += QString::fromUtf8(again.readAllStandardError()),
                                  port = listening.match(log).captured(1).toInt()) > 0,
                                 20000);
        httplib::Client second("127.0.0.1", port);
        const auto kept = second.Get("/api/videos.php", auth);
        QVERIFY(kept);
        QVERIFY(kept->body.find("A page") != std::string::npos);
        again.terminate();
        QVERIFY(again.waitForFinished(20000));
        QCOMPARE(again.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "CliTest.moc"
