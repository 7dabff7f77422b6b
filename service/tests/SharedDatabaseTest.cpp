// A database shared and moved: a member's pull while everyone writes and devices of one
// account racing (on PostgreSQL, through two instances sharing one database), how often pulls
// ask whether stamp leases are live, and the copy to another database.

#include "LibraryFill.h"
#include "TestService.h"
#include "db/DatabaseCopy.h"
#include "db/PgStorage.h"

#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>

#include <atomic>
#include <barrier>
#include <map>
#include <optional>
#include <set>
#include <thread>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

QJsonObject edit(const QString &id, const QString &title)
{
    return QJsonObject{{u"youtube_id"_qs, id}, {u"title"_qs, title}};
}

// Every row of the tables a copy carries, as text, in key order (token hashes left out: their
// text differs between the databases).
QStringList dump(Storage &storage)
{
    static const char *const tables[] = {
        "SELECT id, email, created_at, family_rev FROM users ORDER BY id",
        "SELECT user_id, created_at FROM tokens ORDER BY user_id, created_at",
        "SELECT id, user_id, youtube_id, title, url, updated_at, deleted, watched, position FROM videos ORDER BY id",
        "SELECT owner_id, member_email, created_at FROM family ORDER BY owner_id, member_email",
        "SELECT member_email, owner_email FROM family_blocks ORDER BY member_email, owner_email",
        "SELECT id, user_id, youtube_id, owner_id, title, updated_at, watched, position FROM feed ORDER BY id",
    };
    return storage.read([](SqlConnection &db) {
        QStringList rows;
        for (const char *sql : tables) {
            auto query = db.prepare(sql);
            while (query.step()) {
                QStringList row;
                for (int c = 0; c < 9 && !query.isNull(c); ++c)
                    row.append(query.text(c));
                rows.append(row.join(u'|'));
            }
        }
        return rows;
    });
}

} // namespace

class SharedDatabaseTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestService> m_service; // fresh for each test

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() { m_service = std::make_unique<TestService>(); }
    void cleanup() { m_service.reset(); }

    // On PostgreSQL a pull learns which stamp leases are live from pg_stat_activity at most once
    // a second, however many pulls there are: a lease of an ended connection is passed over, a
    // live one holds "now" back, and one seen ended is never asked about again.
    void leaseLivenessIsReadAtMostOnceASecond()
    {
        if (!TestDatabase::postgres())
            QSKIP("needs CLIPVANE_TEST_DATABASE (a PostgreSQL server)");
        std::atomic<qint64> wall{1'000'000};
        const TestDatabase database;
        const auto storage = Storage::open(database.url(), [&] { return wall.load(); });
        auto &pg = dynamic_cast<PgStorage &>(*storage);
        const qint64 stamp = storage->write([](WriteTransaction &tx) { return tx.stamp(); });
        // A lease of a connection that is gone, and one of a connection still open.
        auto holder = pg.connect();
        auto pid = holder->prepare("SELECT pg_backend_pid()");
        const qint64 holderPid = pid.step() ? pid.int64(0) : 0;
        const auto watcher = pg.connect();
        const auto holderGone = [&] {
            auto found = watcher->prepare("SELECT 1 FROM pg_stat_activity WHERE pid = ?1");
            return !found.bind(1, holderPid).step();
        };
        holder->exec("INSERT INTO stamp_leases VALUES (1000010, 0, now())");
        holder->exec("INSERT INTO stamp_leases SELECT 1000020, pid, backend_start FROM pg_stat_activity "
                     "WHERE pid = pg_backend_pid()");
        const auto now = [&] { return storage->read([&](SqlConnection &db) { return storage->readNow(db); }); };
        struct Step
        {
            qint64 advanceMs;
            bool holderEnds;
            qint64 now;
            quint64 reads; // of pg_stat_activity so far
        };
        const Step steps[] = {
            {0, false, 1'000'020, 1},   // the ended lease is passed over
            {999, true, 1'000'020, 1},  // within the second the live one still holds "now"
            {1, false, stamp + 1, 2},   // a second on, its end is seen
            {5000, false, stamp + 1, 2} // both seen ended: nothing left to ask about
        };
        for (const Step &step : steps) {
            wall += step.advanceMs;
            if (step.holderEnds) {
                holder.reset();
                QTRY_VERIFY(holderGone());
            }
            for (int pull = 0; pull < 100; ++pull)
                QCOMPARE(now(), step.now);
            QCOMPARE(pg.livenessReads(), step.reads);
        }
    }

    // A writer that commits and disconnects between a pull's snapshot and that pull's look at
    // pg_stat_activity: the snapshot still holds its lease but not its rows, so the lease holds
    // that pull's "now" back rather than letting the cursor pass over rows it cannot see.
    void aLeaseEndedByItsCommitHoldsBackAnOlderSnapshot()
    {
        if (!TestDatabase::postgres())
            QSKIP("needs CLIPVANE_TEST_DATABASE (a PostgreSQL server)");
        const TestDatabase database;
        const auto storage = Storage::open(database.url());
        auto &pg = dynamic_cast<PgStorage &>(*storage);
        auto writer = pg.connect();
        auto pid = writer->prepare("SELECT pg_backend_pid()");
        const qint64 writerPid = pid.step() ? pid.int64(0) : 0;
        writer->exec("INSERT INTO stamp_leases SELECT 1000020, pid, backend_start FROM pg_stat_activity "
                     "WHERE pid = pg_backend_pid()");
        const auto watcher = pg.connect();
        const qint64 now = storage->read([&](SqlConnection &db) {
            db.prepare("SELECT count(*) FROM stamp_leases").step(); // the pull's snapshot
            writer->exec("DELETE FROM stamp_leases");               // the writer's commit
            writer.reset();
            for (int wait = 0; wait < 500; ++wait, QTest::qSleep(10))
                if (!watcher->prepare("SELECT 1 FROM pg_stat_activity WHERE pid = ?1").bind(1, writerPid).step())
                    break;
            return storage->readNow(db);
        });
        QCOMPARE(now, qint64(1000020));
    }

    // A copy to another database reads its source in batches: every row arrives once, across
    // the batches' seams, whichever the key (a number, two numbers and texts, two texts).
    void copyCarriesEveryRowAcrossBatches()
    {
        QTemporaryDir folder;
        const auto source = Storage::open(Storage::sqliteIn(folder.path()));
        Accounts accounts(*source);
        const Account owner = *accounts.authenticate(accounts.issueToken(u"owner@example.com"_qs));
        accounts.issueToken(u"member@example.com"_qs);
        bench::fillLibrary(*source, owner, 2'500, 500);
        source->write([&](WriteTransaction &tx) {
            for (int i = 0; i < 2'100; ++i) {
                const QString email = u"m%1@example.com"_qs.arg(i, 4, 10, QLatin1Char('0'));
                tx.db.prepare("INSERT INTO family (owner_id, member_email, created_at) VALUES (?1, ?2, 0)")
                    .bind(1, owner.id)
                    .bind(2, email)
                    .run();
                tx.db.prepare("INSERT INTO family_blocks (member_email, owner_email, created_at) VALUES (?1, ?2, 0)")
                    .bind(1, email)
                    .bind(2, u"o%1@example.com"_qs.arg(i % 3))
                    .run();
            }
        });
        source->write([&](WriteTransaction &tx) {
            tx.db.exec("UPDATE videos SET watched = id % 2, position = id * 7");
            tx.db.exec("UPDATE feed SET watched = id % 2, position = id * 7");
        });
        const TestDatabase database;
        const auto destination = database.open();
        const QStringList before = dump(*source);
        QCOMPARE(DatabaseCopy::run(*source, *destination), qint64(2 + 2 + 2'500 + 2 * 2'100 + 2'500));
        QCOMPARE(dump(*destination), before);
    }

    // A client paging with the returned values never misses a change nor sees one out of order,
    // whatever writes interleave; one live row stands per ID, and the standing copy moves as
    // copies come and go. On PostgreSQL, writers and pages go through two instances.
    void concurrentWritersNeverSkipOrReorder_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 2u, 3u})
            if (seed == 1 || TestDatabase::postgres())
                QTest::addRow("seed %u", seed) << seed;
    }
    void concurrentWritersNeverSkipOrReorder()
    {
        QFETCH(quint32, seed);
        std::optional<TestService> other;
        if (TestDatabase::postgres())
            other.emplace(std::function<void(ServiceConfig &)>(), Storage::WallClock(), &m_service->database());
        TestService *instances[] = {m_service.get(), other ? &*other : m_service.get()};
        const QStringList owners{u"a@example.com"_qs, u"b@example.com"_qs, u"c@example.com"_qs};
        QStringList tokens;
        for (const QString &owner : owners)
            tokens.append(m_service->token(owner));
        m_service->share(tokens[1], owners[0]);
        m_service->share(tokens[2], owners[0]);

        constexpr int kOperations = 150;
        constexpr int kIds = 24; // few IDs, so the owners' copies collide
        std::atomic<int> running{int(owners.size()) + 1};
        // Each writer's own view of its library: ID -> title, for live videos.
        std::vector<std::map<QString, QString>> truth(owners.size());
        std::vector<std::thread> writers;
        for (qsizetype w = 0; w < owners.size(); ++w) {
            writers.emplace_back([&, w] {
                QRandomGenerator random(seed * 10 + quint32(w));
                TestService &via = *instances[w % 2];
                std::map<QString, int> versions;
                std::set<QString> everAdded;
                for (int op = 0; op < kOperations; ++op) {
                    const int n = int(random.bounded(kIds));
                    const QString id = u"video%1"_qs.arg(n, 4, 10, QLatin1Char('0'));
                    const QString title = u"%1:%2:v%3"_qs.arg(owners[w], id).arg(++versions[id]);
                    const int kind = int(random.bounded(3));
                    if (kind == 0 && !via.add(tokens[w], videoLink(n), title).isEmpty()) {
                        truth[w][id] = title;
                        everAdded.insert(id);
                    } else if (kind == 1) {
                        // An edit revives a deleted own copy; an ID never added stays absent.
                        via.patch(tokens[w], edit(id, title));
                        if (everAdded.count(id))
                            truth[w][id] = title;
                    } else if (kind == 2) {
                        via.remove(tokens[w], id);
                        truth[w].erase(id);
                    }
                }
                --running;
            });
        }
        // The family changes while everyone writes: c stops and starts sharing with a.
        writers.emplace_back([&] {
            for (int i = 0; i < 4; ++i) {
                instances[1]->unshare(tokens[2], owners[0]);
                QTest::qSleep(15);
                instances[0]->share(tokens[2], owners[0]);
                QTest::qSleep(15);
            }
            --running;
        });

        std::vector<Client> readers;
        readers.emplace_back(*instances[0], tokens[0], 0, 5, true).alsoVia(*instances[1]);
        readers.emplace_back(*instances[1], tokens[0], 0, 7, true).alsoVia(*instances[0]);
        int pulls = 0;
        for (; running > 0; ++pulls)
            for (Client &client : readers)
                client.sync();
        for (std::thread &writer : writers)
            writer.join();
        QVERIFY(pulls > 1);

        // What the readers see is what the writers wrote: the own copy wins, otherwise the copy
        // of the smallest sharing address; and it equals one quiet pull from the start.
        QMap<QString, QString> expected;
        for (qsizetype w = owners.size() - 1; w >= 0; --w)
            for (const auto &[id, title] : truth[size_t(w)])
                expected.insert(id, title);
        const auto settled = Client(*m_service, tokens[0], 0, 1000, true).sync().liveRows();
        for (Client &client : readers) {
            QCOMPARE(client.sync().problems(), QStringList());
            QCOMPARE(client.liveRows(), settled);
        }
        QMap<QString, QString> actual;
        for (const QJsonObject &row : settled) {
            actual.insert(str(row, "youtube_id"), str(row, "title"));
            QCOMPARE(num(row, "read_only") == 0, str(row, "owner_email").isEmpty());
        }
        QCOMPARE(actual, expected);
    }

    // Devices of one account add, edit and delete the same few videos at once (on PostgreSQL
    // through two instances): a write that loses a race is run again, never answered 5xx; and
    // one quiet pull afterwards brings each video once, in cursor order, as it is stored.
    void devicesOfOneAccountRaceWithoutErrors()
    {
        std::optional<TestService> other;
        if (TestDatabase::postgres())
            other.emplace(std::function<void(ServiceConfig &)>(), Storage::WallClock(), &m_service->database());
        TestService *instances[] = {m_service.get(), other ? &*other : m_service.get()};
        constexpr int kDevices = 6;
        constexpr int kOperations = 60;
        constexpr int kWindow = 3;   // each step works on one of a few IDs, new ones coming all along
        std::barrier step(kDevices); // all devices write at the same moment, step after step
        const QString kAccount = u"devices@example.com"_qs;
        std::vector<QString> tokens(kDevices);
        std::vector<std::thread> devices;
        std::mutex failuresMutex;
        QStringList failures;
        for (int d = 0; d < kDevices; ++d) {
            devices.emplace_back([&, d] {
                // The devices sign in to a new account at the same moment, too.
                step.arrive_and_wait();
                try {
                    tokens[size_t(d)] = instances[d % 2]->token(kAccount);
                } catch (const SqlError &error) {
                    std::lock_guard lock(failuresMutex);
                    failures.append(QString::fromUtf8(error.what()));
                    step.arrive_and_drop();
                    return;
                }
                const QString &token = tokens[size_t(d)];
                TestService &via = *instances[d % 2];
                QRandomGenerator random(quint32(d) + 1);
                for (int op = 0; op < kOperations; ++op) {
                    step.arrive_and_wait();
                    const int n = op + int(random.bounded(kWindow));
                    const QString id = u"video%1"_qs.arg(n, 4, 10, QLatin1Char('0'));
                    const QString title = u"device %1, step %2"_qs.arg(d).arg(op);
                    const int kind = int(random.bounded(3));
                    const Reply reply = kind == 0   ? via.post(token, "/api/upsert.php",
                                                               {{u"url"_qs, videoLink(n)}, {u"title"_qs, title}})
                                        : kind == 1 ? via.post(token, "/api/upsert.php", edit(id, title))
                                                    : via.post(token, "/api/delete.php", {{u"youtube_id"_qs, id}});
                    if (reply.status != 200) {
                        std::lock_guard lock(failuresMutex);
                        failures.append(u"%1 %2"_qs.arg(reply.status).arg(QString::fromStdString(reply.body)));
                    }
                }
            });
        }
        for (std::thread &device : devices)
            device.join();
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u"\n"_qs)));

        Client client(*instances[0], tokens[0], 0, 2);
        client.alsoVia(*instances[1]).sync();
        QCOMPARE(client.problems(), QStringList());
        QStringList seen;
        for (const QJsonObject &row : client.pulled())
            seen.append(str(row, "youtube_id"));
        QCOMPARE(seen.size(), QSet<QString>(seen.begin(), seen.end()).size());
        QMap<QString, QString> pulled;
        for (const QJsonObject &row : client.liveRows())
            pulled.insert(str(row, "youtube_id"), str(row, "title"));
        const Account owner = *m_service->service().accounts().authenticate(tokens[0]);
        const auto stored = m_service->service().storage().read([&](SqlConnection &db) {
            QMap<QString, QString> videos;
            auto rows = db.prepare("SELECT youtube_id, title FROM videos WHERE user_id = ?1 AND deleted = 0");
            rows.bind(1, owner.id);
            while (rows.step())
                videos.insert(rows.text(0), rows.text(1));
            return videos;
        });
        QCOMPARE(pulled, stored);
    }
};

QTEST_GUILESS_MAIN(SharedDatabaseTest)
#include "SharedDatabaseTest.moc"
