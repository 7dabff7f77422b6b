// The program itself: its commands, serving and a clean stop; and, when CLIPVANE_TEST_DATABASE
// names a PostgreSQL server, background work moving to a surviving instance and a family's
// SQLite file moving to PostgreSQL.

#include "ServiceProcess.h"
#include "TestService.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

using namespace clipvane::service;
using namespace clipvane::service::test;
using clipvane::test::ServiceProcess;

namespace {

const QString kBinary = QStringLiteral(CLIPVANE_SERVICE_BINARY);

// Outside the test class: moc drops a class whose body holds such raw literals.
constexpr char kAddBody[] = R"({"url":"https://youtu.be/dQw4w9WgXcQ"})";
constexpr char kPage[] = R"({"url":"https://example.com/page","title":"A page"})";
constexpr char kFilledIn[] = R"({"title":"Filled in"})";

// Runs the program to its end: its exit code (-1 when it hung), and what it printed.
int run(const QStringList &arguments, QString *output = nullptr)
{
    QProcess process;
    process.start(kBinary, arguments);
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

        ServiceProcess service(kBinary, {}, folder.path());
        QVERIFY2(service.start(), qPrintable(service.error()));
        httplib::Client client("127.0.0.1", service.port());
        const auto added = client.Post("/api/upsert.php", bearer(token), kPage, "application/json");
        QVERIFY(added && added->status == 200);
        QVERIFY(service.stop());
        QVERIFY(service.awaitLog(u"stopped"_qs));
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
        QProcessEnvironment environment;
        environment.insert(u"CLIPVANE_OEMBED_BASE"_qs, oembed.url(u"/oembed"_qs).toString());
        const QString leads = u"runs the background work"_qs;

        auto leader = std::make_unique<ServiceProcess>(kBinary, environment);
        leader->useDatabase(database.url());
        QVERIFY2(leader->start() && leader->awaitLog(leads), qPrintable(leader->error()));
        ServiceProcess survivor(kBinary, environment);
        survivor.useDatabase(database.url());
        QVERIFY2(survivor.start(), qPrintable(survivor.error()));
        QVERIFY(!survivor.awaitLog(leads));

        const QString token = survivor.token(u"a@example.com"_qs);
        httplib::Client http("127.0.0.1", survivor.port());
        const auto added = http.Post("/api/upsert.php", bearer(token), kAddBody, "application/json");
        QVERIFY(added && added->status == 200);
        QVERIFY(added->body.find("Filled in") == std::string::npos);

        leader->killHard();
        leader.reset();
        oembed.setDefaultReply(FakeReply::json(kFilledIn));
        // The retry falls due at once instead of in a minute.
        PgConnection(database.url().toStdString()).exec("UPDATE videos SET meta_next_at = 0 WHERE meta_pending = 1");
        QVERIFY(survivor.awaitLog(leads));
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
