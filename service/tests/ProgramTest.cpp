// The program itself; and, when CLIPVANE_TEST_DATABASE names a PostgreSQL server, instances
// sharing it (pulls through two instances are in the library's test).

#include "FakeHttpServer.h"
#include "TestService.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <csignal>

using namespace clipvane::service;
using namespace clipvane::service::test;
using clipvane::test::FakeHttpServer;
using clipvane::test::FakeReply;

namespace {

// Outside the test class: moc drops a class whose body holds such raw literals.
constexpr char kAddBody[] = R"({"url":"https://youtu.be/dQw4w9WgXcQ"})";
constexpr char kPage[] = R"({"url":"https://example.com/page","title":"A page"})";
constexpr char kFilledIn[] = R"({"title":"Filled in"})";

// The program serving a data folder ("--data DIR") or a database ("--database URL").
class ServiceProcess
{
public:
    ServiceProcess(const QStringList &store, const QString &oembedBase = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!oembedBase.isEmpty())
            environment.insert(u"CLIPVANE_OEMBED_BASE"_qs, oembedBase);
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral(CLIPVANE_SERVICE_BINARY),
                        QStringList{u"serve"_qs, u"--listen"_qs, u"127.0.0.1:0"_qs} + store);
    }
    ~ServiceProcess()
    {
        m_process.kill();
        m_process.waitForFinished();
    }
    // Waits until the log holds pattern; its first capture, or empty after 20 s.
    QString await(const QString &pattern)
    {
        const QRegularExpression expression(pattern);
        for (int i = 0; i < 200; ++i) {
            if (const auto match = expression.match(m_log); match.hasMatch())
                return match.captured(1).isEmpty() ? u"yes"_qs : match.captured(1);
            m_process.waitForReadyRead(100);
            m_log += QString::fromUtf8(m_process.readAllStandardError());
        }
        return QString();
    }
    int port() { return await(u"listening on http://127\\.0\\.0\\.1:(\\d+)"_qs).toInt(); }
    bool leads() { return !await(u"runs the background work"_qs).isEmpty(); }
    // SIGTERM: true when the program stopped cleanly within 20 s and said so.
    bool terminate()
    {
        ::kill(pid_t(m_process.processId()), SIGTERM);
        return m_process.waitForFinished(20000) && m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == 0 && !await(u"stopped"_qs).isEmpty();
    }
    void killHard()
    {
        ::kill(pid_t(m_process.processId()), SIGKILL);
        m_process.waitForFinished();
    }

private:
    QProcess m_process;
    QString m_log;
};

// Runs the program to its end: its exit code (-1 when it hung), and what it printed.
int run(const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.start(QStringLiteral(CLIPVANE_SERVICE_BINARY), arguments);
    if (!process.waitForFinished(60000))
        return -1;
    if (output)
        *output = QString::fromUtf8(process.readAllStandardOutput());
    return process.exitCode();
}

httplib::Headers bearer(const QString &token)
{
    return {{"Authorization", "Bearer " + token.trimmed().toStdString()}};
}

} // namespace

class ProgramTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Surviving a restart is the crash campaign's check (with kill -9, not SIGTERM).
    void tokensServingAndACleanStop()
    {
        QTemporaryDir folder;
        const QStringList data{u"--data"_qs, folder.path()};
        QString first, token;
        QCOMPARE(run(QStringList{u"token"_qs, u"A@Example.com"_qs} + data, &first), 0);
        QVERIFY(QRegularExpression(u"^[A-Za-z0-9_-]{43}\n$"_qs).match(first).hasMatch());
        QCOMPARE(run(QStringList{u"token"_qs, u"a@example.com"_qs} + data, &token), 0);
        QVERIFY(token != first);
        QCOMPARE(run(QStringList{u"token"_qs, u"not-an-address"_qs} + data), 2);
        QCOMPARE(run({u"frobnicate"_qs}), 2);

        ServiceProcess service(data);
        httplib::Client client("127.0.0.1", service.port());
        const auto added = client.Post("/api/upsert.php", bearer(token), kPage, "application/json");
        QVERIFY(added && added->status == 200);
        QVERIFY(service.terminate());
    }

    // The instance running the metadata worker dies; another takes the work over and fills in
    // a title the dead one never got.
    void backgroundWorkMovesToASurvivor()
    {
        if (!TestDatabase::postgres())
            QSKIP("needs CLIPVANE_TEST_DATABASE (a PostgreSQL server)");
        TestDatabase database;
        FakeHttpServer oembed;
        QVERIFY(oembed.start());
        oembed.setDefaultReply(FakeReply::json("{}", 503));
        const QString base = oembed.url(u"/oembed"_qs).toString();
        const QStringList store{u"--database"_qs, database.url()};

        auto leader = std::make_unique<ServiceProcess>(store, base);
        QVERIFY(leader->leads());
        ServiceProcess survivor(store, base);
        const int survivorPort = survivor.port();
        QVERIFY(survivorPort > 0);
        QVERIFY(!survivor.leads());

        QString token;
        QCOMPARE(run(QStringList{u"token"_qs, u"a@example.com"_qs} + store, &token), 0);
        httplib::Client http("127.0.0.1", survivorPort);
        const auto added = http.Post("/api/upsert.php", bearer(token), kAddBody, "application/json");
        QVERIFY(added && added->status == 200);
        QVERIFY(added->body.find("Filled in") == std::string::npos);

        leader->killHard();
        leader.reset();
        oembed.setDefaultReply(FakeReply::json(kFilledIn));
        // The retry falls due at once instead of in a minute.
        PgConnection(database.url().toStdString()).exec("UPDATE videos SET meta_next_at = 0 WHERE meta_pending = 1");
        QVERIFY(survivor.leads());
        const auto title = [&] {
            const auto page = http.Get("/api/videos.php?since=0&after_id=0&limit=10", bearer(token));
            return page ? QString::fromStdString(page->body) : QString();
        };
        QTRY_VERIFY_WITH_TIMEOUT(title().contains(u"Filled in"_qs), 20000);
    }

    // A family's SQLite file moves to PostgreSQL: tokens still work, and a client's stored
    // cursor goes on without downloading its library again.
    void migrateKeepsCursorsAndTokens()
    {
        if (!TestDatabase::postgres())
            QSKIP("needs CLIPVANE_TEST_DATABASE (a PostgreSQL server)");
        QTemporaryDir folder;
        QString readerToken;
        QMap<QString, QJsonObject> before;
        qint64 cursor = 0;
        {
            TestService sqlite([&](ServiceConfig &config) {
                config.dataDir = folder.path();
                config.database.clear();
            });
            readerToken = sqlite.token(u"a@example.com"_qs);
            const QString owner = sqlite.token(u"b@example.com"_qs);
            for (int i = 0; i < 30; ++i)
                sqlite.add(i % 2 ? owner : readerToken, videoLink(i));
            sqlite.remove(readerToken, u"video0002"_qs);
            sqlite.share(owner, u"a@example.com"_qs);
            Client client(sqlite, readerToken);
            before = client.sync().liveRows();
            cursor = client.cursor();
            QCOMPARE(before.size(), 29);
        }
        TestDatabase database;
        const QString file = u"sqlite:"_qs + folder.filePath(u"clipvane-service.sqlite"_qs);
        QCOMPARE(run({u"migrate"_qs, u"--from"_qs, file, u"--to"_qs, database.url()}), 0);
        QCOMPARE(run({u"migrate"_qs, u"--from"_qs, file, u"--to"_qs, database.url()}), 1); // only into an empty one

        TestService postgres({}, {}, &database);
        Client resumed(postgres, readerToken, cursor);
        QVERIFY(resumed.sync().pulled().isEmpty());
        QCOMPARE(Client(postgres, readerToken).sync().liveRows(), before);
        const QJsonObject added = postgres.add(readerToken, videoLink(99));
        QVERIFY(num(added, "updated_at") > cursor);
        QCOMPARE(resumed.sync().pulled(), QList<QJsonObject>{added});
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "ProgramTest.moc"
