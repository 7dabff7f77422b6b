// Several service instances on one PostgreSQL database: pulls through any instance miss
// nothing and repeat nothing while others write, background work moves to a surviving
// instance, and a SQLite library moves to PostgreSQL with every client's cursor still good.
// Skipped unless CLIPVANE_TEST_DATABASE names a PostgreSQL server.

#include "TestService.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <atomic>
#include <csignal>
#include <thread>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

// Outside the test class: moc drops a class whose body holds such raw literals.
constexpr char kAddBody[] = R"({"url":"https://youtu.be/dQw4w9WgXcQ"})";
constexpr char kFilledIn[] = R"({"title":"Filled in"})";

QString videoLink(int n)
{
    return u"https://youtu.be/video%1"_qs.arg(n, 4, 10, QLatin1Char('0'));
}

// The program on the test's database, until killed or stopped.
class ServiceProcess
{
public:
    ServiceProcess(const QString &database, const QString &oembedBase)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"CLIPVANE_OEMBED_BASE"_qs, oembedBase);
        m_process.setProcessEnvironment(environment);
        m_process.start(QStringLiteral(CLIPVANE_SERVICE_BINARY),
                        {u"serve"_qs, u"--listen"_qs, u"127.0.0.1:0"_qs, u"--database"_qs, database});
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
    bool leads() { return !await(u"runs the background work"_qs).isEmpty(); }
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
        *output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    return process.exitCode();
}

} // namespace

class SharedDatabaseTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        if (!TestDatabase::postgres())
            QSKIP("needs CLIPVANE_TEST_DATABASE (a PostgreSQL server)");
    }

    // Writers on two instances, readers paging with stored cursors through both in turn:
    // every row reaches every reader once, in order, and none is passed over for good.
    void pullsThroughEitherInstanceMissNothing_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 2u, 3u})
            QTest::addRow("seed %u", seed) << seed;
    }
    void pullsThroughEitherInstanceMissNothing()
    {
        QFETCH(quint32, seed);
        TestDatabase database;
        TestService first({}, {}, &database);
        TestService second({}, {}, &database);
        TestService *instances[] = {&first, &second};
        const QStringList owners{u"a@example.com"_qs, u"a@example.com"_qs, u"b@example.com"_qs};
        const QString reader = first.token(owners[0]);
        const QString sharer = first.token(owners[2]);
        first.share(sharer, owners[0]);

        constexpr int kOperations = 250;
        constexpr int kIds = 40;
        std::atomic<int> running{int(owners.size())};
        std::vector<std::thread> writers;
        for (int w = 0; w < int(owners.size()); ++w) {
            writers.emplace_back([&, w] {
                QRandomGenerator random(seed * 10 + quint32(w));
                TestService &via = *instances[w % 2];
                const QString token = via.token(owners[w]);
                for (int op = 0; op < kOperations; ++op) {
                    const int n = int(random.bounded(kIds));
                    const QString id = u"video%1"_qs.arg(n, 4, 10, QLatin1Char('0'));
                    switch (random.bounded(3)) {
                    case 0:
                        via.add(token, videoLink(n));
                        break;
                    case 1:
                        via.patch(token, QJsonObject{{u"youtube_id"_qs, id}, {u"duration"_qs, u"%1:00"_qs.arg(op)}});
                        break;
                    default:
                        via.remove(token, id);
                        break;
                    }
                }
                --running;
            });
        }
        std::vector<Client> readers;
        readers.emplace_back(first, reader, 0, 5).alsoVia(second);
        readers.emplace_back(second, reader, 0, 7).alsoVia(first);
        while (running > 0)
            for (Client &client : readers)
                client.sync();
        for (std::thread &writer : writers)
            writer.join();
        const auto settled = Client(first, reader).sync().liveRows();
        QVERIFY(!settled.isEmpty());
        for (Client &client : readers) {
            client.sync();
            QVERIFY2(client.problems().isEmpty(), qPrintable(client.problems().join(u'\n')));
            QCOMPARE(client.liveRows(), settled);
        }
    }

    // The instance running the metadata worker dies; another takes the work over and fills in
    // a title the dead one never got.
    void backgroundWorkMovesToASurvivor()
    {
        TestDatabase database;
        std::atomic<bool> known{false};
        httplib::Server oembed;
        oembed.Get("/oembed", [&](const httplib::Request &, httplib::Response &response) {
            if (known)
                response.set_content(kFilledIn, "application/json");
            else
                response.status = 503;
        });
        const int port = oembed.bind_to_any_port("127.0.0.1");
        std::thread serving([&] { oembed.listen_after_bind(); });
        const QString base = u"http://127.0.0.1:%1/oembed"_qs.arg(port);

        auto leader = std::make_unique<ServiceProcess>(database.url(), base);
        QVERIFY(leader->leads());
        ServiceProcess survivor(database.url(), base);
        const int survivorPort = survivor.await(u"listening on http://127\\.0\\.0\\.1:(\\d+)"_qs).toInt();
        QVERIFY(survivorPort > 0);
        QVERIFY(!survivor.leads());

        QString token;
        QCOMPARE(run({u"token"_qs, u"a@example.com"_qs, u"--database"_qs, database.url()}, &token), 0);
        httplib::Client http("127.0.0.1", survivorPort);
        const httplib::Headers bearer{{"Authorization", "Bearer " + token.toStdString()}};
        const auto added = http.Post("/api/upsert.php", bearer, kAddBody, "application/json");
        QVERIFY(added && added->status == 200);
        QVERIFY(added->body.find("Filled in") == std::string::npos);

        leader->killHard();
        leader.reset();
        known = true;
        // The retry falls due at once instead of in a minute.
        PgConnection(database.url().toStdString()).exec("UPDATE videos SET meta_next_at = 0 WHERE meta_pending = 1");
        QVERIFY(survivor.leads());
        const auto title = [&] {
            const auto page = http.Get("/api/videos.php?since=0&after_id=0&limit=10", bearer);
            return page ? QString::fromStdString(page->body) : QString();
        };
        QTRY_VERIFY_WITH_TIMEOUT(title().contains(u"Filled in"_qs), 20000);
        oembed.stop();
        serving.join();
    }

    // A family's SQLite file moves to PostgreSQL: tokens still work, and a client's stored
    // cursor goes on without downloading its library again.
    void migrateKeepsCursorsAndTokens()
    {
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

QTEST_GUILESS_MAIN(SharedDatabaseTest)
#include "SharedDatabaseTest.moc"
