// The storage adapters below the rules: transactions that leave nothing half done, and a
// PostgreSQL database of the previous release taken forward.

#include "TestService.h"

#include "db/PgConnection.h"
#include "db/ScopedTransaction.h"
#include "db/SqliteConnection.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <type_traits>

using namespace clipvane::service;
using namespace clipvane::service::test;

// A copy would close the same handle twice, and a moved-from connection would be left to close
// nothing or something else: connections are neither copied nor moved.
template<typename Connection>
constexpr bool kStaysPut = !std::is_copy_constructible_v<Connection> && !std::is_copy_assignable_v<Connection> &&
                           !std::is_move_constructible_v<Connection> && !std::is_move_assignable_v<Connection>;
static_assert(kStaysPut<SqliteConnection>);
static_assert(kStaysPut<PgConnection>);
static_assert(kStaysPut<ScopedTransaction>);

namespace {

qint64 single(SqlConnection &db, const char *sql)
{
    auto query = db.prepare(sql);
    return query.step() ? query.int64(0) : -1;
}

// What the previous release wrote: one account with one video, through its identities.
constexpr const char *kPreviousData = R"sql(
INSERT INTO users (email, created_at, family_rev) VALUES ('old@example.com', 1000, 0);
INSERT INTO videos (user_id, youtube_id, title, url, upload_date, duration, source, created_at, updated_at)
    SELECT id, 'dQw4w9WgXcQ', 'Kept title', 'https://www.youtube.com/watch?v=dQw4w9WgXcQ', '2009-10-25', '3:33',
           'app', 1000, 2 FROM users;
INSERT INTO feed (user_id, youtube_id, owner_id, owner_email, title, url, upload_date, duration, excluded, source,
                  created_at, read_only, deleted, updated_at)
    SELECT id, 'dQw4w9WgXcQ', id, '', 'Kept title', 'https://www.youtube.com/watch?v=dQw4w9WgXcQ', '2009-10-25',
           '3:33', 0, 'app', 1000, 0, 0, 2 FROM users;
UPDATE meta SET value = 2 WHERE key = 'clock';
)sql";

QByteArray previousSchema()
{
    QFile file(QStringLiteral(CLIPVANE_SERVICE_TEST_DATA "/pg-schema-3.sql"));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read the previous release's schema");
    return file.readAll();
}

} // namespace

class DbTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aScopedTransactionKeepsOnlyWhatItCommits_data()
    {
        QTest::addColumn<bool>("commits");
        QTest::addColumn<bool>("throws");
        QTest::addColumn<bool>("kept");
        QTest::newRow("committed") << true << false << true;
        QTest::newRow("left") << false << false << false;
        QTest::newRow("thrown out of") << false << true << false;
    }
    void aScopedTransactionKeepsOnlyWhatItCommits()
    {
        QFETCH(bool, commits);
        QFETCH(bool, throws);
        QFETCH(bool, kept);
        QTemporaryDir dir;
        SqliteConnection db(dir.filePath(QStringLiteral("t.sqlite")));
        db.exec("CREATE TABLE t (v INTEGER)");
        try {
            ScopedTransaction transaction(db, "BEGIN IMMEDIATE");
            db.exec("INSERT INTO t VALUES (1)");
            if (throws)
                db.exec("INSERT INTO missing VALUES (1)");
            if (commits)
                transaction.commit();
        } catch (const SqlError &) {
        }
        QCOMPARE(single(db, "SELECT count(*) FROM t"), kept ? 1 : 0);
        db.exec("BEGIN"); // no transaction was left open
        db.exec("ROLLBACK");
    }

    void postgresTakesThePreviousReleaseForward()
    {
        if (!TestDatabase::postgres())
            QSKIP("PostgreSQL only (CLIPVANE_TEST_DATABASE)");
        TestDatabase database;
        PgConnection db(database.url().toStdString());
        db.exec(previousSchema().constData());
        db.exec(kPreviousData);

        {
            TestService service({}, {}, &database);
            QCOMPARE(single(db, "SELECT value FROM meta WHERE key = 'schema'"), 6);
            QCOMPARE(single(db, "SELECT count(*) FROM schema_steps WHERE version IN (4, 5, 6)"), 3);

            // The old account and its video are there, unwatched from the start, and the
            // library goes on from them.
            const QString token = service.token(u"old@example.com"_qs);
            Client client(service, token);
            const QJsonObject kept = client.sync().row(u"dQw4w9WgXcQ"_qs);
            QCOMPARE(kept.value(u"title"_qs).toString(), u"Kept title"_qs);
            QCOMPARE(kept.value(u"watched"_qs).toInt(-1), 0);
            QCOMPARE(kept.value(u"position"_qs).toInt(-1), 0);
            const QJsonObject resumed =
                service.patch(token, QJsonObject{{u"youtube_id"_qs, u"dQw4w9WgXcQ"_qs}, {u"position"_qs, 42}});
            QCOMPARE(resumed.value(u"position"_qs).toInt(), 42);
            service.add(token, videoLink(1));
            QCOMPARE(client.sync().problems(), QStringList());
            QCOMPARE(client.live().size(), 2);
        }
        // A second start finds nothing left to do.
        TestService again({}, {}, &database);
        QCOMPARE(single(db, "SELECT count(*) FROM schema_steps"), 3);
    }

    void aFailedPostgresStepLeavesThePreviousVersion()
    {
        if (!TestDatabase::postgres())
            QSKIP("PostgreSQL only (CLIPVANE_TEST_DATABASE)");
        TestDatabase database;
        PgConnection db(database.url().toStdString());
        db.exec(previousSchema().constData());
        db.exec("CREATE TABLE schema_steps (unrelated TEXT)"); // the next step cannot run

        QVERIFY_THROWS_EXCEPTION(SqlError, database.open());
        QCOMPARE(single(db, "SELECT value FROM meta WHERE key = 'schema'"), 3);

        db.exec("DROP TABLE schema_steps");
        QVERIFY(database.open() != nullptr);
        QCOMPARE(single(db, "SELECT value FROM meta WHERE key = 'schema'"), 6);
    }
};

QTEST_GUILESS_MAIN(DbTest)
#include "DbTest.moc"
