#include "VideoStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstdio>
#include <sqlite3.h>
#include <unistd.h>

using namespace clipvane;

namespace {

constexpr char kChildSaveOnce[] = "--save-once";
constexpr char kChildSaveForever[] = "--save-forever";
constexpr int kChildBatch = 25;
constexpr int kChildLimit = 20000;

Video sample(const QString &youtubeID, const QString &state = SyncStateRaw::synced)
{
    return Video(youtubeID, u"Title of "_qs + youtubeID, u"https://youtu.be/"_qs + youtubeID, u"2021-03-04"_qs,
                 u"4:05"_qs, false, u"web"_qs, 1000, 2000, state);
}

QStringList idsOf(const QList<Video *> &videos)
{
    QStringList ids;
    for (const Video *video : videos)
        ids.append(video->youtubeID);
    return ids;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// A second, independent connection to the file: what is really on disk, and a way to
// make the store's writes fail the way a full disk would.
class RawDatabase
{
public:
    explicit RawDatabase(const QString &path)
    {
        if (sqlite3_open(path.toUtf8().constData(), &m_db) != SQLITE_OK)
            qFatal("cannot open %s", qPrintable(path));
        sqlite3_busy_timeout(m_db, 2000);
    }
    ~RawDatabase() { sqlite3_close(m_db); }

    bool exec(const char *sql) { return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

    QStringList column(const char *sql)
    {
        QStringList values;
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK)
            return {u"<error: "_qs + QString::fromUtf8(sqlite3_errmsg(m_db)) + u">"_qs};
        while (sqlite3_step(statement) == SQLITE_ROW)
            values.append(QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0))));
        sqlite3_finalize(statement);
        return values;
    }

    QString value(const char *sql) { return column(sql).value(0); }

private:
    sqlite3 *m_db = nullptr;
};

// Runs in a child copy of this program: saves records, reports each successful save on
// stdout and waits to be killed.
int childMain(const char *mode, const QString &path)
{
    QString error;
    std::unique_ptr<VideoStore> store = VideoStore::open(path, &error);
    if (!store) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    const bool forever = qstrcmp(mode, kChildSaveForever) == 0;
    for (int total = 0; total < kChildLimit;) {
        for (int i = 0; i < kChildBatch; ++i, ++total)
            store->insert(sample(u"child-%1"_qs.arg(total, 6, 10, QLatin1Char('0'))));
        if (!store->save(&error)) {
            std::fprintf(stderr, "%s\n", qPrintable(error));
            return 3;
        }
        std::printf("saved %d\n", total);
        std::fflush(stdout);
        if (!forever)
            break;
    }
    ::sleep(60); // killed long before; never outlives a crashed parent by much
    return 0;
}

} // namespace

class VideoStoreTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;

    std::unique_ptr<VideoStore> openStore(QString *error = nullptr)
    {
        QString message;
        std::unique_ptr<VideoStore> store = VideoStore::open(m_path, &message);
        if (error)
            *error = message;
        else if (!store)
            qWarning("%s", qPrintable(message));
        return store;
    }

    // Creates a file the way the first released layout did: no owner_email, no read_only.
    void writeFirstLayout(const QString &path, bool unique = true)
    {
        RawDatabase raw(path);
        const QByteArray table =
            QByteArrayLiteral("CREATE TABLE videos (id INTEGER PRIMARY KEY, youtube_id TEXT NOT "
                              "NULL") +
            (unique ? " UNIQUE" : "") +
            ", title TEXT NOT NULL, url TEXT NOT NULL, upload_date TEXT NOT NULL, duration TEXT NOT "
            "NULL, excluded INTEGER NOT NULL, source TEXT NOT NULL, created_at INTEGER NOT NULL, "
            "updated_at INTEGER NOT NULL, sync_state TEXT NOT NULL)";
        QVERIFY(raw.exec(table.constData()));
        QVERIFY(raw.exec("INSERT INTO videos (youtube_id, title, url, upload_date, duration, excluded, source, "
                         "created_at, updated_at, sync_state) VALUES "
                         "('old-one', 'First', 'https://youtu.be/old-one', '2019-01-01', '1:00', 1, 'ios', 5, 6, "
                         "'synced'), "
                         "('old-two', 'Second', 'https://youtu.be/old-two', '', '', 0, 'telegram', 7, 8, "
                         "'needsPatch')"));
        QVERIFY(raw.exec("PRAGMA user_version = 1"));
    }

private Q_SLOTS:
    void init()
    {
        QVERIFY(m_dir.isValid());
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
        m_path = m_dir.filePath(
            u"store-%1-%2/library.sqlite"_qs.arg(QString::fromLatin1(QTest::currentTestFunction()), tag));
        QDir().mkpath(QFileInfo(m_path).absolutePath());
    }

    void createsMissingFileAndFolders()
    {
        m_path = m_dir.filePath(u"a/b/c/library.sqlite"_qs);
        auto store = openStore();
        QVERIFY(store);
        QVERIFY(QFileInfo::exists(m_path));
        QVERIFY(store->all().isEmpty());
        QVERIFY(!store->hasUnsavedChanges());
        RawDatabase raw(m_path);
        QCOMPARE(raw.value("PRAGMA user_version"), u"2"_qs);
        QCOMPARE(raw.value("PRAGMA journal_mode"), u"wal"_qs);
    }

    void emptyFileBecomesAStore()
    {
        write(m_path, {});
        auto store = openStore();
        QVERIFY(store);
        store->insert(sample(u"abcdef"_qs));
        QVERIFY(store->save());
        QCOMPARE(RawDatabase(m_path).value("SELECT count(*) FROM videos"), u"1"_qs);
    }

    void queries()
    {
        auto store = openStore();
        QVERIFY(store);
        store->insert(sample(u"synced-1"_qs));
        store->insert(sample(u"add-1"_qs, SyncStateRaw::needsAdd));
        store->insert(sample(u"odd-1"_qs, u"needsMerge"_qs));
        store->insert(sample(u"synced-2"_qs));
        store->insert(sample(u"delete-1"_qs, SyncStateRaw::needsDelete));
        store->insert(sample(u"patch-1"_qs, SyncStateRaw::needsPatch));

        QCOMPARE(idsOf(store->all()), QStringList({u"synced-1"_qs, u"add-1"_qs, u"odd-1"_qs, u"synced-2"_qs,
                                                   u"delete-1"_qs, u"patch-1"_qs}));
        // An unrecognised state is not "synced", so that query lists it with the pending ones.
        QCOMPARE(idsOf(store->pending()), QStringList({u"add-1"_qs, u"odd-1"_qs, u"delete-1"_qs, u"patch-1"_qs}));
        QCOMPARE(idsOf(store->synced()), QStringList({u"synced-1"_qs, u"synced-2"_qs}));
        QCOMPARE(store->find(u"odd-1"_qs)->syncStateRaw, u"needsMerge"_qs);
        QCOMPARE(store->find(u"nothing"_qs), nullptr);
        QCOMPARE(store->find(u"SYNCED-1"_qs), nullptr); // IDs are case-sensitive

        // A state changed in place moves the record between the queries at once.
        Video *video = store->find(u"synced-2"_qs);
        video->syncStateRaw = SyncStateRaw::needsPatch;
        store->markChanged(video);
        QCOMPARE(idsOf(store->synced()), QStringList({u"synced-1"_qs}));
    }

    void allIsOneLiveList()
    {
        auto store = openStore();
        QVERIFY(store);
        const QList<Video *> &all = store->all();
        Video *first = store->insert(sample(u"first1"_qs));
        store->insert(sample(u"second"_qs));
        QCOMPARE(all.size(), 2);
        store->remove(first);
        QCOMPARE(idsOf(store->all()), QStringList({u"second"_qs}));
        QCOMPARE(&store->all(), &all);
        QCOMPARE(idsOf(all), QStringList({u"second"_qs}));
    }

    void insertingAnExistingIDReturnsTheStoredRecord()
    {
        auto store = openStore();
        QVERIFY(store);
        Video *stored = store->insert(sample(u"abcdef"_qs, SyncStateRaw::needsDelete));
        QSignalSpy inserted(store.get(), &VideoStore::inserted);
        const quint64 revision = store->revision();

        Video other = sample(u"abcdef"_qs);
        other.title = u"Other"_qs;
        QCOMPARE(store->insert(other), stored);
        QCOMPARE(stored->title, u"Title of abcdef"_qs);
        QCOMPARE(stored->syncStateRaw, SyncStateRaw::needsDelete);
        QCOMPARE(store->all().size(), 1);
        QCOMPARE(inserted.count(), 0);
        QCOMPARE(store->revision(), revision);
        QVERIFY(store->save());
        QCOMPARE(RawDatabase(m_path).value("SELECT count(*) FROM videos"), u"1"_qs);
    }

    void fieldsAndOrderSurviveReopening()
    {
        Video full(u"dQw4w9WgXcQ"_qs, u"Ünïcødé — “quoted” 'single' \U0001F3B5"_qs, u"https://youtu.be/dQw4w9WgXcQ"_qs,
                   u"2009-10-25"_qs, u"3:33"_qs, true, u"telegram"_qs, std::numeric_limits<qint64>::min(),
                   std::numeric_limits<qint64>::max(), u"needsMerge"_qs);
        full.ownerEmail = u"owner@example.com"_qs;
        full.readOnly = true;
        {
            auto store = openStore();
            QVERIFY(store);
            store->insert(sample(u"zzz-first"_qs));
            store->insert(full);
            store->insert(sample(u"aaa-third"_qs, SyncStateRaw::needsAdd));
            QVERIFY(store->save());
        }
        {
            auto store = openStore();
            QVERIFY(store);
            QCOMPARE(idsOf(store->all()), QStringList({u"zzz-first"_qs, u"dQw4w9WgXcQ"_qs, u"aaa-third"_qs}));
            QCOMPARE(*store->find(full.youtubeID), full);
            QCOMPARE(*store->find(u"aaa-third"_qs), sample(u"aaa-third"_qs, SyncStateRaw::needsAdd));
            QVERIFY(!store->hasUnsavedChanges());
            // Loaded records then newly inserted ones, in insertion order, also after saving.
            store->insert(sample(u"new-b"_qs));
            store->insert(sample(u"new-a"_qs));
            store->markChanged(store->find(u"zzz-first"_qs));
            QVERIFY(store->save());
        }
        auto store = openStore();
        QVERIFY(store);
        QCOMPARE(idsOf(store->all()),
                 QStringList({u"zzz-first"_qs, u"dQw4w9WgXcQ"_qs, u"aaa-third"_qs, u"new-b"_qs, u"new-a"_qs}));
    }

    void changesStayPendingUntilSave()
    {
        {
            auto store = openStore();
            QVERIFY(store);
            store->insert(sample(u"keep-me"_qs));
            store->insert(sample(u"change-me"_qs));
            store->insert(sample(u"remove-me"_qs));
            QVERIFY(store->save());
        }
        auto store = openStore();
        QVERIFY(store);
        RawDatabase raw(m_path);
        const auto rows = [&] { return raw.column("SELECT youtube_id || ':' || title FROM videos ORDER BY id"); };
        const QStringList before = rows();

        store->insert(sample(u"added"_qs, SyncStateRaw::needsAdd));
        Video *changed = store->find(u"change-me"_qs);
        changed->title = u"Changed"_qs;
        store->markChanged(changed);
        store->remove(store->find(u"remove-me"_qs));
        QVERIFY(store->hasUnsavedChanges());
        QCOMPARE(rows(), before);

        QVERIFY(store->save());
        QVERIFY(!store->hasUnsavedChanges());
        QCOMPARE(rows(),
                 QStringList({u"keep-me:Title of keep-me"_qs, u"change-me:Changed"_qs, u"added:Title of added"_qs}));
        // A save with nothing pending writes nothing and succeeds.
        QSignalSpy saved(store.get(), &VideoStore::saved);
        QVERIFY(store->save());
        QCOMPARE(saved.count(), 0);
    }

    void insertThenRemoveWritesNothing()
    {
        auto store = openStore();
        QVERIFY(store);
        Video *video = store->insert(sample(u"fleeting"_qs, SyncStateRaw::needsAdd));
        store->remove(video);
        QVERIFY(!store->hasUnsavedChanges());
        QSignalSpy saved(store.get(), &VideoStore::saved);
        QVERIFY(store->save());
        QCOMPARE(saved.count(), 0);
        QCOMPARE(RawDatabase(m_path).value("SELECT count(*) FROM videos"), u"0"_qs);
    }

    void removeThenInsertWritesTheNewRecord()
    {
        {
            auto store = openStore();
            QVERIFY(store);
            store->insert(sample(u"again1"_qs));
            store->insert(sample(u"other1"_qs));
            QVERIFY(store->save());
        }
        auto store = openStore();
        QVERIFY(store);
        store->remove(store->find(u"again1"_qs));
        Video replacement = sample(u"again1"_qs, SyncStateRaw::needsAdd);
        replacement.title = u"New"_qs;
        Video *inserted = store->insert(replacement);
        QCOMPARE(idsOf(store->all()), QStringList({u"other1"_qs, u"again1"_qs}));
        QVERIFY(store->save());
        QCOMPARE(RawDatabase(m_path).column("SELECT youtube_id || ':' || title || ':' || sync_state FROM videos "
                                            "ORDER BY id"),
                 QStringList({u"other1:Title of other1:synced"_qs, u"again1:New:needsAdd"_qs}));

        // Removed again after the save: the row goes.
        store->remove(inserted);
        QVERIFY(store->save());
        QCOMPARE(RawDatabase(m_path).column("SELECT youtube_id FROM videos"), QStringList({u"other1"_qs}));
    }

    void failedSaveIsRetried_data()
    {
        QTest::addColumn<QByteArray>("trigger");
        QTest::newRow("insert fails") << QByteArrayLiteral(
            "CREATE TRIGGER fail BEFORE INSERT ON videos WHEN NEW.youtube_id = 'new-b' "
            "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");
        QTest::newRow("update fails") << QByteArrayLiteral(
            "CREATE TRIGGER fail BEFORE UPDATE ON videos "
            "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");
        QTest::newRow("delete fails") << QByteArrayLiteral(
            "CREATE TRIGGER fail BEFORE DELETE ON videos "
            "BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END");
    }

    void failedSaveIsRetried()
    {
        QFETCH(QByteArray, trigger);
        {
            auto store = openStore();
            QVERIFY(store);
            store->insert(sample(u"changed"_qs));
            store->insert(sample(u"removed"_qs));
            QVERIFY(store->save());
        }
        auto store = openStore();
        QVERIFY(store);
        RawDatabase raw(m_path);
        const auto rows = [&] { return raw.column("SELECT youtube_id || ':' || title FROM videos ORDER BY id"); };
        const QStringList before = rows();

        store->insert(sample(u"new-a"_qs, SyncStateRaw::needsAdd));
        store->insert(sample(u"new-b"_qs, SyncStateRaw::needsAdd));
        Video *changed = store->find(u"changed"_qs);
        changed->title = u"Changed"_qs;
        store->markChanged(changed);
        store->remove(store->find(u"removed"_qs));

        QVERIFY(raw.exec(trigger.constData()));
        QSignalSpy saved(store.get(), &VideoStore::saved);
        for (int attempt = 0; attempt < 2; ++attempt) {
            QString error;
            QVERIFY(!store->save(&error));
            QVERIFY2(error.contains(u"database or disk is full"_qs), qPrintable(error));
            QVERIFY(store->hasUnsavedChanges());
            QCOMPARE(rows(), before); // nothing of the failed transaction is left behind
        }
        QCOMPARE(saved.count(), 0);

        // A change made between the failed saves is written with the rest.
        changed->title = u"Changed again"_qs;
        store->markChanged(changed);
        QVERIFY(raw.exec("DROP TRIGGER fail"));
        QVERIFY(store->save());
        QCOMPARE(saved.count(), 1);
        QVERIFY(!store->hasUnsavedChanges());
        QCOMPARE(rows(),
                 QStringList({u"changed:Changed again"_qs, u"new-a:Title of new-a"_qs, u"new-b:Title of new-b"_qs}));
    }

    void firstLayoutOpensWithDefaults()
    {
        writeFirstLayout(m_path);
        {
            auto store = openStore();
            QVERIFY(store);
            QCOMPARE(idsOf(store->all()), QStringList({u"old-one"_qs, u"old-two"_qs}));
            const Video *one = store->find(u"old-one"_qs);
            QCOMPARE(one->ownerEmail, QString());
            QCOMPARE(one->readOnly, false);
            QCOMPARE(one->excluded, true);
            QCOMPARE(one->createdAt, qint64(5));
            QCOMPARE(store->find(u"old-two"_qs)->syncStateRaw, SyncStateRaw::needsPatch);
            QVERIFY(!store->hasUnsavedChanges());

            Video *two = store->find(u"old-two"_qs);
            two->ownerEmail = u"family@example.com"_qs;
            two->readOnly = true;
            store->markChanged(two);
            QVERIFY(store->save());
        }
        RawDatabase raw(m_path);
        QCOMPARE(raw.value("PRAGMA user_version"), u"2"_qs);
        QCOMPARE(raw.column("SELECT owner_email || ':' || read_only FROM videos ORDER BY id"),
                 QStringList({u":0"_qs, u"family@example.com:1"_qs}));
        auto store = openStore();
        QVERIFY(store);
        QCOMPARE(store->find(u"old-two"_qs)->ownerEmail, u"family@example.com"_qs);
        QVERIFY(store->find(u"old-two"_qs)->readOnly);
    }

    void failedUpgradeLeavesTheOldLayout()
    {
        // A first-layout file that already has one of the later columns: the upgrade step
        // fails half-way and must leave nothing of itself behind.
        writeFirstLayout(m_path);
        QVERIFY(RawDatabase(m_path).exec("ALTER TABLE videos ADD COLUMN read_only INTEGER"));
        QString error;
        QVERIFY(!openStore(&error));
        QVERIFY2(error.contains(u"read_only"_qs), qPrintable(error));
        RawDatabase raw(m_path);
        QCOMPARE(raw.value("PRAGMA user_version"), u"1"_qs);
        QCOMPARE(raw.column("SELECT name FROM pragma_table_info('videos') WHERE name IN ('owner_email', 'read_only')"),
                 QStringList({u"read_only"_qs}));
        QCOMPARE(raw.value("SELECT count(*) FROM videos"), u"2"_qs);
    }

    void unusableFileIsLeftUntouched_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("cause");

        QTest::newRow("text file") << u"text"_qs << u"not an SQLite database"_qs;
        QTest::newRow("short file") << u"short"_qs << u"not an SQLite database"_qs;
        QTest::newRow("header then garbage") << u"garbage"_qs << u"not a database"_qs;
        QTest::newRow("damaged table page") << u"damaged-table"_qs << u"malformed"_qs;
        QTest::newRow("damaged index page") << u"damaged-index"_qs << u"malformed"_qs;
        QTest::newRow("newer version") << u"newer"_qs << u"newer version"_qs;
        QTest::newRow("negative version") << u"negative"_qs << u"unknown library version"_qs;
        QTest::newRow("another program's database") << u"foreign"_qs << u"another program"_qs;
        QTest::newRow("missing column") << u"column"_qs << u"no column read_only"_qs;
        QTest::newRow("no table") << u"table"_qs << u"no table of videos"_qs;
        QTest::newRow("IDs not unique") << u"unique"_qs << u"not kept unique"_qs;
    }

    void unusableFileIsLeftUntouched()
    {
        QFETCH(QString, kind);
        QFETCH(QString, cause);

        if (kind == u"text"_qs) {
            write(m_path, QByteArray("My favourite videos:\n").repeated(300));
        } else if (kind == u"short"_qs) {
            write(m_path, "SQLite");
        } else if (kind == u"garbage"_qs) {
            QByteArray bytes("SQLite format 3\0", 16);
            for (int i = 0; bytes.size() < 8192; ++i)
                bytes.append(char((i * 151 + 7) % 251));
            write(m_path, bytes);
        } else if (kind.startsWith(u"damaged"_qs)) {
            {
                auto store = openStore();
                QVERIFY(store);
                for (int i = 0; i < 3000; ++i)
                    store->insert(sample(u"video-%1"_qs.arg(i)));
                QVERIFY(store->save());
            }
            QVERIFY(!QFileInfo::exists(m_path + u"-wal"_qs)); // checkpointed on close
            const char *rootQuery = kind.endsWith(u"index"_qs)
                                        ? "SELECT rootpage FROM sqlite_master WHERE type = 'index'"
                                        : "SELECT rootpage FROM sqlite_master WHERE type = 'table'";
            const qsizetype root = RawDatabase(m_path).value(rootQuery).toLongLong();
            const qsizetype pageSize = RawDatabase(m_path).value("PRAGMA page_size").toLongLong();
            QVERIFY(root > 1);
            QByteArray bytes = contents(m_path);
            bytes.replace((root - 1) * pageSize, pageSize, QByteArray(pageSize, '\xff'));
            write(m_path, bytes);
        } else {
            RawDatabase raw(m_path);
            if (kind == u"newer"_qs) {
                QVERIFY(raw.exec("CREATE TABLE videos (id INTEGER PRIMARY KEY, youtube_id TEXT UNIQUE, colour TEXT)"));
                QVERIFY(raw.exec("PRAGMA user_version = 3"));
            } else if (kind == u"negative"_qs) {
                QVERIFY(raw.exec("PRAGMA user_version = -1"));
            } else if (kind == u"foreign"_qs) {
                QVERIFY(raw.exec("CREATE TABLE notes (id INTEGER PRIMARY KEY, body TEXT)"));
            } else if (kind == u"column"_qs) {
                QVERIFY(raw.exec("CREATE TABLE videos (id INTEGER PRIMARY KEY, youtube_id TEXT NOT NULL UNIQUE, title "
                                 "TEXT, url TEXT, upload_date TEXT, duration TEXT, excluded INTEGER, source TEXT, "
                                 "created_at INTEGER, updated_at INTEGER, sync_state TEXT, owner_email TEXT)"));
                QVERIFY(raw.exec("PRAGMA user_version = 2"));
            } else if (kind == u"table"_qs) {
                QVERIFY(raw.exec("CREATE TABLE clips (id INTEGER PRIMARY KEY)"));
                QVERIFY(raw.exec("PRAGMA user_version = 1"));
            }
        }
        if (kind == u"unique"_qs)
            writeFirstLayout(m_path, false);

        const QByteArray before = contents(m_path);
        QString error;
        QVERIFY(!openStore(&error));
        QVERIFY2(error.contains(cause), qPrintable(error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(m_path)), qPrintable(error));
        QCOMPARE(contents(m_path), before);
        // Nothing left to replay into it later either.
        QVERIFY(!QFileInfo::exists(m_path + u"-wal"_qs) || QFileInfo(m_path + u"-wal"_qs).size() == 0);
    }

    void pathThatIsAFolder()
    {
        QVERIFY(QDir().mkpath(m_path));
        QString error;
        QVERIFY(!openStore(&error));
        QVERIFY2(error.contains(u"not a file"_qs), qPrintable(error));
        QVERIFY(QFileInfo(m_path).isDir());
    }

    void folderThatCannotBeCreated()
    {
        const QString blocker = m_dir.filePath(u"blocker"_qs);
        write(blocker, "a file where a folder should be");
        m_path = blocker + u"/library.sqlite"_qs;
        QString error;
        QVERIFY(!openStore(&error));
        QVERIFY2(error.contains(u"folder"_qs), qPrintable(error));
        QCOMPARE(contents(blocker), QByteArray("a file where a folder should be"));
    }

    void fileWithoutPermissions_data()
    {
        QTest::addColumn<int>("permissions");
        QTest::addColumn<QString>("cause");
        QTest::newRow("unreadable") << int(QFile::WriteOwner) << u"cannot be read"_qs;
        QTest::newRow("read-only") << int(QFile::ReadOwner) << u"read-only"_qs;
    }

    void fileWithoutPermissions()
    {
        QFETCH(int, permissions);
        QFETCH(QString, cause);
        if (::geteuid() == 0)
            QSKIP("file permissions do not bind the superuser");
        {
            auto store = openStore();
            QVERIFY(store);
            store->insert(sample(u"abcdef"_qs));
            QVERIFY(store->save());
        }
        const QByteArray before = contents(m_path);
        QVERIFY(QFile::setPermissions(m_path, QFile::Permissions(permissions)));
        QString error;
        QVERIFY(!openStore(&error));
        QVERIFY2(error.contains(cause), qPrintable(error));
        QVERIFY(QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(contents(m_path), before);
    }

    void savedRecordsSurviveAKill_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("killed after saving") << QString::fromLatin1(kChildSaveOnce);
        QTest::newRow("killed while saving") << QString::fromLatin1(kChildSaveForever);
    }

    void savedRecordsSurviveAKill()
    {
        QFETCH(QString, mode);
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {mode, m_path});
        QVERIFY(child.waitForStarted());

        // Kill once the child reported a few saves (just one in the first mode).
        const int wanted = mode == QLatin1String(kChildSaveOnce) ? kChildBatch : 10 * kChildBatch;
        int reported = 0;
        QByteArray output;
        const auto readReports = [&] {
            output += child.readAllStandardOutput();
            qsizetype newline;
            while ((newline = output.indexOf('\n')) >= 0) {
                const QByteArray line = output.left(newline);
                output.remove(0, newline + 1);
                QVERIFY2(line.startsWith("saved "), line.constData());
                reported = std::max(reported, line.mid(6).toInt());
            }
        };
        while (reported < wanted) {
            QVERIFY2(child.waitForReadyRead(30000), "the child reported no save");
            readReports();
        }
        child.kill();
        QVERIFY(child.waitForFinished());
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        readReports(); // saves reported just before the kill count too

        auto store = openStore();
        QVERIFY(store);
        const QList<Video *> &all = store->all();
        QVERIFY2(all.size() >= reported, qPrintable(u"%1 of %2"_qs.arg(all.size()).arg(reported)));
        QCOMPARE(all.size() % kChildBatch, 0); // a save is all or nothing
        for (int i = 0; i < all.size(); ++i)
            QCOMPARE(*all[i], sample(u"child-%1"_qs.arg(i, 6, 10, QLatin1Char('0'))));
    }

    void signalsAndRevision()
    {
        auto store = openStore();
        QVERIFY(store);
        QSignalSpy inserted(store.get(), &VideoStore::inserted);
        QSignalSpy changed(store.get(), &VideoStore::changed);
        QSignalSpy aboutToRemove(store.get(), &VideoStore::aboutToRemove);
        QSignalSpy removed(store.get(), &VideoStore::removed);
        QSignalSpy saved(store.get(), &VideoStore::saved);

        quint64 revision = store->revision();
        const auto bumped = [&] {
            const bool result = store->revision() > revision;
            revision = store->revision();
            return result;
        };

        Video *a = store->insert(sample(u"aaaaaa"_qs));
        QVERIFY(bumped());
        Video *b = store->insert(sample(u"bbbbbb"_qs));
        QVERIFY(bumped());
        QCOMPARE(inserted.count(), 2);
        QCOMPARE(inserted.at(0).at(0).value<Video *>(), a);

        a->excluded = true;
        store->markChanged(a);
        QVERIFY(bumped());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<Video *>(), a);

        // During aboutToRemove the records are still in the store and readable.
        QStringList seenDuringAboutToRemove;
        connect(store.get(), &VideoStore::aboutToRemove, this, [&](const QList<Video *> &videos) {
            for (Video *video : videos) {
                if (store->find(video->youtubeID) == video)
                    seenDuringAboutToRemove.append(video->youtubeID);
            }
        });
        store->remove({a, b, a, nullptr});
        QVERIFY(bumped());
        QCOMPARE(aboutToRemove.count(), 1);
        QCOMPARE(aboutToRemove.at(0).at(0).value<QList<Video *>>(), QList<Video *>({a, b}));
        QCOMPARE(seenDuringAboutToRemove, QStringList({u"aaaaaa"_qs, u"bbbbbb"_qs}));
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(0).toStringList(), QStringList({u"aaaaaa"_qs, u"bbbbbb"_qs}));
        QVERIFY(store->all().isEmpty());

        QVERIFY(store->save()); // nothing pending after insert and remove: no signal
        QCOMPARE(saved.count(), 0);
        store->insert(sample(u"cccccc"_qs));
        QVERIFY(bumped());
        QVERIFY(store->save());
        QCOMPARE(saved.count(), 1);
        QVERIFY(!bumped()); // saving changes no record
    }

    void foreignAndStalePointersAreIgnored()
    {
        auto store = openStore();
        QVERIFY(store);
        Video *kept = store->insert(sample(u"kept01"_qs));
        Video stranger = sample(u"kept01"_qs);
        QSignalSpy changed(store.get(), &VideoStore::changed);
        QSignalSpy removed(store.get(), &VideoStore::removed);
        const quint64 revision = store->revision();

        store->markChanged(nullptr);
        store->markChanged(&stranger); // same ID, but not the stored record
        store->remove(nullptr);
        store->remove(&stranger);
        store->remove(QList<Video *>{});
        QCOMPARE(changed.count(), 0);
        QCOMPARE(removed.count(), 0);
        QCOMPARE(store->revision(), revision);
        QCOMPARE(store->all(), QList<Video *>({kept}));

        // A removed record that was not yet swept out of the order list.
        Video *gone = store->insert(sample(u"gone01"_qs));
        store->remove(gone);
        store->markChanged(gone);
        store->remove(gone);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(removed.count(), 1);
        QCOMPARE(store->all(), QList<Video *>({kept}));
    }

    void changingTheIDInPlace()
    {
        auto store = openStore();
        QVERIFY(store);
        Video *first = store->insert(sample(u"first1"_qs));
        store->insert(sample(u"second"_qs));
        QVERIFY(store->save());

        first->youtubeID = u"renamed"_qs;
        store->markChanged(first);
        QCOMPARE(store->find(u"renamed"_qs), first);
        QCOMPARE(store->find(u"first1"_qs), nullptr);
        QVERIFY(store->save());
        QCOMPARE(RawDatabase(m_path).column("SELECT youtube_id FROM videos ORDER BY youtube_id"),
                 QStringList({u"renamed"_qs, u"second"_qs}));

        // Taking another record's ID would break uniqueness: the ID change is undone.
        first->youtubeID = u"second"_qs;
        first->title = u"Kept title change"_qs;
        store->markChanged(first);
        QCOMPARE(first->youtubeID, u"renamed"_qs);
        QCOMPARE(store->find(u"renamed"_qs), first);
        QVERIFY(store->find(u"second"_qs) != first);
        QVERIFY(store->save());
        QCOMPARE(RawDatabase(m_path).column("SELECT youtube_id || ':' || title FROM videos ORDER BY youtube_id"),
                 QStringList({u"renamed:Kept title change"_qs, u"second:Title of second"_qs}));
    }

    void batchRemovalOfSyncedRecords()
    {
        constexpr int kRecords = 20000;
        {
            auto store = openStore();
            QVERIFY(store);
            for (int i = 0; i < kRecords; ++i)
                store->insert(
                    sample(u"v%1"_qs.arg(i), i % 1000 == 0 ? SyncStateRaw::needsPatch : SyncStateRaw::synced));
            QVERIFY(store->save());
        }
        auto store = openStore();
        QVERIFY(store);
        QSignalSpy removed(store.get(), &VideoStore::removed);
        store->remove(store->synced());
        QCOMPARE(removed.count(), 1);
        QCOMPARE(removed.at(0).at(0).toStringList().size(), kRecords - kRecords / 1000);

        QStringList expected;
        for (int i = 0; i < kRecords; i += 1000)
            expected.append(u"v%1"_qs.arg(i));
        QCOMPARE(idsOf(store->all()), expected);
        QCOMPARE(store->find(u"v1"_qs), nullptr);
        QVERIFY(store->save());
        QCOMPARE(RawDatabase(m_path).column("SELECT youtube_id FROM videos ORDER BY id"), expected);

        // Removing one by one keeps the order of the rest.
        store->remove(store->find(u"v3000"_qs));
        store->remove(store->find(u"v0"_qs));
        store->insert(sample(u"v0"_qs));
        expected.removeOne(u"v3000"_qs);
        expected.removeOne(u"v0"_qs);
        expected.append(u"v0"_qs);
        QCOMPARE(idsOf(store->all()), expected);
    }

    void unsavedChangesAreWrittenOnClose()
    {
        {
            auto store = openStore();
            QVERIFY(store);
            store->insert(sample(u"unsaved"_qs, SyncStateRaw::needsAdd));
        }
        auto store = openStore();
        QVERIFY(store);
        QVERIFY(store->find(u"unsaved"_qs));
    }

    void secondStoreOnTheSameFileSeesSavedWork()
    {
        auto first = openStore();
        QVERIFY(first);
        first->insert(sample(u"shared"_qs));
        QVERIFY(first->save());
        auto second = openStore();
        QVERIFY(second);
        QVERIFY(second->find(u"shared"_qs));
        second->insert(sample(u"second"_qs));
        QVERIFY(second->save());
        first->insert(sample(u"first1"_qs));
        QVERIFY(first->save());
        QCOMPARE(RawDatabase(m_path).value("SELECT count(*) FROM videos"), u"3"_qs);
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && (qstrcmp(argv[1], kChildSaveOnce) == 0 || qstrcmp(argv[1], kChildSaveForever) == 0))
        return childMain(argv[1], QString::fromLocal8Bit(argv[2]));
    QCoreApplication app(argc, argv);
    VideoStoreTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "VideoStoreTest.moc"
