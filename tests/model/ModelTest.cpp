// The record, links to videos, and the store on disk: what it keeps and what it refuses to open.
#include "Duration.h"
#include "LinkParser.h"
#include "StoreColumns.h"
#include "SyncState.h"
#include "Video.h"
#include "VideoStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <limits>
#include <sqlite3.h>
#include <unistd.h>

using namespace clipvane;

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

Video record(const QString &duration = {}, const QString &state = {})
{
    return Video(u"abcdef"_qs, {}, {}, {}, duration, false, {}, 0, 0, state);
}

Video sample(const QString &youtubeID, const QString &state = SyncStateRaw::synced)
{
    return Video(youtubeID, u"title-"_qs + youtubeID, u"https://youtu.be/"_qs + youtubeID, u"2021-03-04"_qs, u"4:05"_qs,
                 false, u"web"_qs, 1000, 2000, state);
}

QStringList list(const char *spaced)
{
    return QString::fromUtf8(spaced).split(u' ', Qt::SkipEmptyParts);
}

// Changes a stored record as the library's door does.
void change(VideoStore &store, const QString &id, const std::function<void(Video &)> &fn)
{
    QVERIFY(store.update(id, [&](Video &video) {
        fn(video);
        return true;
    }));
}

QStringList idsOf(const QList<const Video *> &videos)
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

// Runs SQL on a second, independent connection to the file: what is really on disk, and a way
// to make the store's writes fail the way a full disk would. The first column of every row.
QStringList sqlite(const QString &path, const QByteArray &sql)
{
    sqlite3 *db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_busy_timeout(db, 2000);
    QStringList rows;
    char *error = nullptr;
    const auto collect = [](void *into, int, char **values, char **) {
        static_cast<QStringList *>(into)->append(QString::fromUtf8(values[0] ? values[0] : ""));
        return 0;
    };
    if (sqlite3_exec(db, sql.constData(), collect, &rows, &error) != SQLITE_OK)
        rows = {u"<error: %1>"_qs.arg(QString::fromUtf8(error))};
    sqlite3_free(error);
    sqlite3_close(db);
    return rows;
}

// A file as the first released layout wrote it (no owner_email, no read_only), two records.
QByteArray firstLayout(bool unique = true)
{
    return "CREATE TABLE videos (id INTEGER PRIMARY KEY, youtube_id TEXT NOT NULL" +
           QByteArray(unique ? " UNIQUE" : "") +
           ", title TEXT NOT NULL, url TEXT NOT NULL, upload_date TEXT NOT NULL, duration TEXT NOT NULL, excluded "
           "INTEGER NOT NULL, source TEXT NOT NULL, created_at INTEGER NOT NULL, updated_at INTEGER NOT NULL, "
           "sync_state TEXT NOT NULL); INSERT INTO videos (youtube_id, title, url, upload_date, duration, excluded, "
           "source, created_at, updated_at, sync_state) VALUES ('old-one', 'First', 'https://youtu.be/old-one', "
           "'2019-01-01', '1:00', 1, 'ios', 5, 6, 'synced'), ('old-two', 'Second', 'https://youtu.be/old-two', '', "
           "'', 0, 'telegram', 7, 8, 'needsPatch'); PRAGMA user_version = 1";
}

// Every signal of a store as a line of text, in order: "+id" inserted, "~id" changed, "?ids"
// about to be removed (each ID still found in the store then), "-ids" removed, "saved".
class StoreEvents : public QObject
{
public:
    QStringList log;

    explicit StoreEvents(VideoStore *store)
    {
        connect(store, &VideoStore::inserted, this,
                [this](const Video *video) { log.append(u"+%1"_qs.arg(video->youtubeID)); });
        connect(store, &VideoStore::changed, this,
                [this](const Video *video) { log.append(u"~%1"_qs.arg(video->youtubeID)); });
        connect(store, &VideoStore::aboutToRemove, this, [this, store](const QList<const Video *> &videos) {
            QStringList found;
            for (const Video *video : videos)
                found.append(store->find(video->youtubeID) == video ? video->youtubeID : u"<missing>"_qs);
            log.append(u"?%1"_qs.arg(found.join(u' ')));
        });
        connect(store, &VideoStore::removed, this,
                [this](const QStringList &ids) { log.append(u"-%1"_qs.arg(ids.join(u' '))); });
        connect(store, &VideoStore::saved, this, [this] { log.append(u"saved"_qs); });
    }

    QStringList take() { return std::exchange(log, {}); }
};

} // namespace

class ModelTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_path;

    // Every test expects its store to open; one that does not leaves nothing to test.
    std::unique_ptr<VideoStore> open()
    {
        QString error;
        std::unique_ptr<VideoStore> store = VideoStore::open(m_path, &error);
        if (!store)
            qFatal("%s", qPrintable(error));
        return store;
    }

    // Why the store refuses the file (empty when it opened).
    QString refusal()
    {
        QString error;
        return VideoStore::open(m_path, &error) ? QString() : error;
    }

    void seed(const QStringList &ids)
    {
        const auto store = open();
        for (const QString &id : ids)
            store->insert(sample(id));
        QVERIFY(store->save());
    }

    // What the file holds, row by row in the order they were written.
    QStringList onDisk(const QByteArray &columns = "youtube_id")
    {
        return sqlite(m_path, "SELECT " + columns + " FROM videos ORDER BY id");
    }

private Q_SLOTS:
    void youtubeID_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("id"); // empty: no ID
        const auto row = [](const char *name, const QString &text, const QString &id = {}) {
            QTest::newRow(name) << text << id;
        };
        row("watch, v after list", u"https://youtube.com/watch?list=PL123&index=2&v=abcdef123&x=1"_qs, u"abcdef123"_qs);
        row("short link with query", u"https://youtu.be/XyZ_-12?si=tracking"_qs, u"XyZ_-12"_qs);
        row("shorts, no scheme", u"youtube.com/shorts/Short_ID1/"_qs, u"Short_ID1"_qs);
        row("embed", u"https://www.youtube.com/embed/EmbedID#frag"_qs, u"EmbedID"_qs);
        row("live", u"m.youtube.com/live/LiveID9"_qs, u"LiveID9"_qs);
        row("words around", u"look at this https://youtu.be/abcdef please"_qs, u"abcdef"_qs);
        row("two links, first wins", u"youtu.be/first1 youtu.be/second2"_qs, u"first1"_qs);
        row("second link after a bad first one", u"youtu.be/abc youtu.be/abcdefg"_qs, u"abcdefg"_qs);
        row("no length limit", u"https://youtu.be/ABCDEFGHIJ0123456789"_qs, u"ABCDEFGHIJ0123456789"_qs);
        row("word characters of any script", u"https://youtu.be/видео_ролик"_qs, u"видео_ролик"_qs);
        row("combining marks stay in the run", u"youtu.be/नमस्ते_abc"_qs, u"नमस्ते_abc"_qs);
        row("zero-width joiner stays in the run", u"youtu.be/abc\u200Ddef"_qs, u"abc\u200Ddef"_qs);
        row("other numbers end the run", u"youtu.be/abcdef\u00B2x"_qs, u"abcdef"_qs);
        row("any text in front of the host", u"xyzyoutube.com/embed/abcdefg"_qs, u"abcdefg"_qs);
        row("later v too short, earlier one taken", u"youtube.com/watch?v=abcdefgh&x=1&v=ab"_qs, u"abcdefgh"_qs);
        row("last v wins when long enough", u"youtube.com/watch?v=abcdefgh&v=ijklmnop"_qs, u"ijklmnop"_qs);
        row("unpaired surrogate after the run", (u"youtu.be/abcdefg"_qs + QChar(0xD800) + u"xyz"_qs), u"abcdefg"_qs);
        row("unpaired surrogate before the link", (QString(QChar(0xDC00)) + u" youtu.be/abcdefg"_qs), u"abcdefg"_qs);
        row("hosts and keywords are case-sensitive",
            u"www.YOUTUBE.com/watch?v=dQw4w9WgXcQ YOUTU.BE/abcdefg youtube.com/Shorts/abcdefg"_qs);
        row("privacy host", u"https://www.youtube-nocookie.com/embed/dQw4w9WgXcQ"_qs);
        row("five characters", u"https://youtu.be/abcde"_qs);
        row("channel page", u"https://www.youtube.com/@someone/videos"_qs);
        row("empty", QString());
        row("host dot not a wildcard", u"https://youtubexcom/embed/abcdefg"_qs);
        row("watch without v", u"https://youtube.com/watch?list=PLabcdefg"_qs);
        row("watch without question mark", u"youtube.com/watchv=abcdefg"_qs);
        row("v= never read across a line end",
            u"youtube.com/watch?list=x\n&v=abcdefg youtube.com/watch?list=x\u2028&v=abcdefg "
            u"youtube.com/watch?list=x\r&v=abcdefg"_qs);
        row("lone surrogates only", QString(3, QChar(0xD800)));
    }
    void youtubeID()
    {
        QFETCH(QString, text);
        QFETCH(QString, id);
        QCOMPARE(clipvane::youtubeID(text), id.isEmpty() ? std::nullopt : std::optional<QString>(id));
        if (!id.isEmpty())
            QCOMPARE(clipvane::youtubeID(clipvane::shortLink(id)), std::optional<QString>(id));
        QCOMPARE(clipvane::shortLink(u"a-b_c1"_qs), u"https://youtu.be/a-b_c1"_qs);
    }

    // Every ID a link yields can be stored, changed and deleted: at most 256 characters of the
    // ID run's own set.
    void isVideoID_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("valid");
        QTest::newRow("usual") << u"dQw4w9WgXcQ"_qs << true;
        QTest::newRow("another web link's") << u"x-0123456789"_qs << true;
        QTest::newRow("other scripts") << u"видео_1-é"_qs << true;
        QTest::newRow("longest") << QString(256, u'a') << true;
        QTest::newRow("too long") << QString(257, u'a') << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("blank") << u"abc def"_qs << false;
        QTest::newRow("slash") << u"abc/def"_qs << false;
        QTest::newRow("control") << u"abc\u0001"_qs << false;
        QTest::newRow("lone surrogate") << QString(2, QChar(0xD800)) << false;
    }
    void isVideoID()
    {
        QFETCH(QString, id);
        QTEST(clipvane::isVideoID(id), "valid");
        // A link to a video whose ID is too long names no video that can be added.
        if (id.size() > clipvane::kMaxVideoIDLength)
            QVERIFY(!clipvane::isVideoID(*clipvane::youtubeID(clipvane::shortLink(id))));
    }

    // One reader of length text for the list and the assistant (plain lengths are the service's metadata
    // test's); the list counts an unknown length as 0.
    void durationSeconds_data()
    {
        QTest::addColumn<QString>("duration");
        QTest::addColumn<bool>("known");
        QTest::addColumn<qint64>("seconds");
        QTest::newRow("empty is unknown") << QString() << false << qint64(0);
        QTest::newRow("no number is unknown") << u"live"_qs << false << qint64(0);
        QTest::newRow("ISO-8601 is no length text") << u"PT1H2M3S"_qs << false << qint64(0);
        QTest::newRow("pieces trimmed of any white space") << u"\t1\n:\r2 "_qs << true << qint64(62);
        QTest::newRow("both separators") << u"1:30;15"_qs << true << qint64(5415);
        QTest::newRow("empty pieces dropped") << u"::5::"_qs << true << qint64(5);
        QTest::newRow("signed pieces") << u"+1:-30"_qs << true << qint64(30);
        QTest::newRow("leading zeros, minutes past 59") << u"007:0129"_qs << true << qint64(549);
        // Each of these pieces is no whole number: it is dropped and holds no place.
        QTest::newRow("pieces that are no whole number") << u"1:x:+:-:--5:1 0:1.5:\u0663:30"_qs << true << qint64(90);
        // Sums saturate at the 64-bit limits, but only at the end: a huge piece can cancel out.
        QTest::newRow("one past smallest") << u"-9223372036854775809"_qs << true << kMin;
        QTest::newRow("huge pieces cancel") << u"99999999999999999999:-5999999999999999999939"_qs << true << qint64(1);
        QTest::newRow("long run of places") << QString(u"9:"_qs).repeated(200) + u"9"_qs << true << kMax;
    }
    void durationSeconds()
    {
        QFETCH(QString, duration);
        QFETCH(qint64, seconds);
        const std::optional<qint64> read = Duration::seconds(duration);
        QTEST(read.has_value(), "known");
        QCOMPARE(read.value_or(0), seconds);
        QCOMPARE(record(duration).durationSeconds(), seconds);
    }

    void syncState_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<SyncState>("state");
        QTest::addColumn<bool>("pending");
        QTest::newRow("synced") << u"synced"_qs << SyncState::synced << false;
        QTest::newRow("needsDelete") << u"needsDelete"_qs << SyncState::needsDelete << true;
        QTest::newRow("other case") << u"Synced"_qs << SyncState::unrecognised << false;
        QTest::newRow("padded") << u"needsAdd "_qs << SyncState::unrecognised << false;
        QTest::newRow("empty") << QString() << SyncState::unrecognised << false;
    }
    void syncState()
    {
        QFETCH(QString, raw);
        QFETCH(SyncState, state);
        const Video video = record({}, raw);
        QCOMPARE(video.syncState(), state);
        QTEST(video.isPending(), "pending");
        // An unrecognised state is written back as synced, the state it is treated as.
        QCOMPARE(rawFromSyncState(state), state == SyncState::unrecognised ? SyncStateRaw::synced : raw);
    }

    void thumbnailURL()
    {
        Video video = record();
        for (const QString &id : {u"dQw4w9WgXcQ"_qs, u"X-1a2b3c"_qs, u"видео_ролик"_qs}) {
            video.youtubeID = id;
            QCOMPARE(video.thumbnailURL(), QUrl(u"https://i.ytimg.com/vi/%1/mqdefault.jpg"_qs.arg(id)));
        }
        // A link added locally that is no YouTube video ("x-"), and IDs that make no valid URL.
        for (const QString &id : {u"x-1a2b3c"_qs, u"ab cdef"_qs, u"ab%zzef"_qs}) {
            video.youtubeID = id;
            QCOMPARE(video.thumbnailURL(), std::nullopt);
        }
    }

    void init()
    {
        QVERIFY(m_dir.isValid());
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('-'));
        m_path = m_dir.filePath(
            u"store-%1-%2/library.sqlite"_qs.arg(QString::fromLatin1(QTest::currentTestFunction()), tag));
        QDir().mkpath(QFileInfo(m_path).absolutePath());
    }

    void queriesAndInsert()
    {
        auto store = open();
        const QList<const Video *> &all = store->all();
        const QStringList states{SyncStateRaw::synced, u"needsMerge"_qs,          SyncStateRaw::needsAdd,
                                 SyncStateRaw::synced, SyncStateRaw::needsDelete, SyncStateRaw::needsPatch};
        for (int i = 0; i < states.size(); ++i)
            store->insert(sample(u"v%1"_qs.arg(i), states[i]));
        QCOMPARE(idsOf(all), list("v0 v1 v2 v3 v4 v5"));
        // An unrecognised state is not "synced", so that query lists it with the pending ones.
        QCOMPARE(idsOf(store->pending()), list("v1 v2 v4 v5"));
        QCOMPARE(idsOf(store->synced()), list("v0 v3"));
        QCOMPARE(store->find(u"V0"_qs), nullptr); // IDs are case-sensitive
        // A state changed in place moves the record between the queries at once.
        const Video *video = store->find(u"v3"_qs);
        change(*store, u"v3"_qs, [](Video &v) { v.syncStateRaw = SyncStateRaw::needsPatch; });
        QCOMPARE(idsOf(store->synced()), list("v0"));
        store->remove(store->find(u"v0"_qs));
        QCOMPARE(idsOf(store->all()), list("v1 v2 v3 v4 v5"));
        QCOMPARE(&store->all(), &all); // one live list
        // Inserting an ID that is there changes nothing and hands back the stored record.
        StoreEvents events(store.get());
        const quint64 revision = store->revision();
        Video other = sample(u"v4"_qs);
        other.title = u"Other"_qs;
        QCOMPARE(store->insert(other), store->find(u"v4"_qs));
        QCOMPARE(*store->find(u"v4"_qs), sample(u"v4"_qs, SyncStateRaw::needsDelete));
        QCOMPARE(store->all().size(), 5);
        QCOMPARE(store->revision(), revision);
        QVERIFY(store->save());
        QCOMPARE(events.log, list("saved"));
        QCOMPARE(onDisk(), list("v1 v2 v3 v4 v5"));
        // With nothing left to push the query answers without a pass over the library; a record
        // that changes its state, or goes, is counted right.
        for (const Video *record : store->pending())
            change(*store, record->youtubeID, [](Video &v) { v.syncStateRaw = SyncStateRaw::synced; });
        const qint64 visited = store->work().recordsVisited;
        QVERIFY(store->pending().isEmpty());
        QCOMPARE(store->work().recordsVisited, visited);
        change(*store, u"v3"_qs, [](Video &v) { v.syncStateRaw = SyncStateRaw::needsDelete; });
        QCOMPARE(idsOf(store->pending()), list("v3"));
        store->remove(video);
        QVERIFY(store->pending().isEmpty());
    }

    void fieldsAndOrderSurviveReopening()
    {
        Video full(u"dQw4w9WgXcQ"_qs, u"Ünïcødé — “quoted” 'single' \U0001F3B5"_qs, u"https://youtu.be/dQw4w9WgXcQ"_qs,
                   u"2009-10-25"_qs, u"3:33"_qs, true, u"telegram"_qs, std::numeric_limits<qint64>::min(),
                   std::numeric_limits<qint64>::max(), u"needsMerge"_qs);
        full.ownerEmail = u"owner@example.com"_qs;
        full.readOnly = true;
        write(m_path, {}); // an empty file is a database without tables: it becomes a store
        {
            auto store = open();
            store->insert(sample(u"zzz-first"_qs));
            store->insert(full);
            store->insert(sample(u"aaa-third"_qs, SyncStateRaw::needsAdd));
            change(*store, u"zzz-first"_qs, [](Video &v) { v.title = u"lone "_qs + QChar(0xD800) + u" surrogate"_qs; });
            QVERIFY(store->save());
        }
        {
            auto store = open();
            QCOMPARE(idsOf(store->all()), list("zzz-first dQw4w9WgXcQ aaa-third"));
            QCOMPARE(*store->find(full.youtubeID), full);
            // Never stored as malformed UTF-8: an unpaired surrogate is written as U+FFFD.
            QCOMPARE(store->find(u"zzz-first"_qs)->title, u"lone \uFFFD surrogate"_qs);
            QCOMPARE(*store->find(u"aaa-third"_qs), sample(u"aaa-third"_qs, SyncStateRaw::needsAdd));
            QVERIFY(!store->hasUnsavedChanges());
            // Loaded records then newly inserted ones, in insertion order, also after saving.
            store->insert(sample(u"new-b"_qs));
            store->insert(sample(u"new-a"_qs));
            change(*store, u"zzz-first"_qs, [](Video &) {});
            QVERIFY(store->save());
        }
        QCOMPARE(idsOf(open()->all()), list("zzz-first dQw4w9WgXcQ aaa-third new-b new-a"));
        QCOMPARE(sqlite(m_path, "PRAGMA user_version; PRAGMA journal_mode"), list("4 wal"));
    }

    // The steps that build the file and the table the store reads and writes through name the
    // same columns: a column added by one alone would be lost or fail every open.
    void migrationsMakeTheColumnsOfTheTable()
    {
        QVERIFY(open());
        QStringList columns = {u"id"_qs};
        StoreColumns::forEach([&](const auto &column, int) { columns.append(QString::fromLatin1(column.name)); });
        QCOMPARE(sqlite(m_path, "SELECT name FROM pragma_table_info('videos') ORDER BY cid"), columns);
    }

    // Nothing reaches the file before save(); a failed save leaves nothing of itself behind,
    // keeps every change pending (also one made after it) and the next save writes them all.
    void changesWaitForASuccessfulSave_data()
    {
        QTest::addColumn<QByteArray>("failure"); // a trigger making one kind of write fail
        const auto failing = [](const char *when) {
            return "CREATE TRIGGER fail BEFORE " + QByteArray(when) +
                   " BEGIN SELECT RAISE(ABORT, 'database or disk is full'); END";
        };
        QTest::newRow("no failure") << QByteArray();
        // Some rows of the transaction are written before the one that fails.
        QTest::newRow("insert fails") << failing("INSERT ON videos WHEN NEW.youtube_id = 'new-b'");
        QTest::newRow("update fails") << failing("UPDATE ON videos");
        QTest::newRow("delete fails") << failing("DELETE ON videos");
    }
    void changesWaitForASuccessfulSave()
    {
        QFETCH(QByteArray, failure);
        seed(list("kept changed removed again"));
        auto store = open();
        const QByteArray columns = "youtube_id || ':' || title";
        const QStringList before = onDisk(columns);
        store->insert(sample(u"new-a"_qs, SyncStateRaw::needsAdd));
        store->insert(sample(u"new-b"_qs, SyncStateRaw::needsAdd));
        change(*store, u"changed"_qs, [](Video &v) { v.title = u"Changed"_qs; });
        store->remove(store->find(u"removed"_qs));
        // Removed and inserted again: the old row goes, the new one comes last.
        store->remove(store->find(u"again"_qs));
        const Video *again = store->insert(Video(u"again"_qs, u"New"_qs, {}, {}, {}, false, {}, 0, 0, {}));
        QVERIFY(store->hasUnsavedChanges());
        QCOMPARE(onDisk(columns), before);
        StoreEvents events(store.get());
        if (!failure.isEmpty()) {
            QCOMPARE(sqlite(m_path, failure), QStringList());
            for (int attempt = 0; attempt < 2; ++attempt) {
                QString error;
                QVERIFY(!store->save(&error));
                QVERIFY2(error.contains(u"database or disk is full"_qs), qPrintable(error));
                QVERIFY(store->hasUnsavedChanges());
                QCOMPARE(onDisk(columns), before);
            }
            QCOMPARE(sqlite(m_path, "DROP TRIGGER fail"), QStringList());
        }
        change(*store, u"changed"_qs, [](Video &v) { v.title = u"Changed-again"_qs; });
        QVERIFY(store->save());
        QCOMPARE(events.take(), list("~changed saved")); // no saved() for a failed save
        QVERIFY(!store->hasUnsavedChanges());
        QCOMPARE(onDisk(columns),
                 list("kept:title-kept changed:Changed-again new-a:title-new-a new-b:title-new-b again:New"));
        // Removed after the save that wrote it: the row goes.
        store->remove(again);
        QVERIFY(store->save());
        QCOMPARE(onDisk(), list("kept changed new-a new-b"));
    }

    void largeLibraryLoadsWhole()
    {
        // Large enough to be read in two halves at once; ids with gaps, so the halves are uneven.
        constexpr int kRows = 30000;
        seed({u"first"_qs});
        QCOMPARE(
            sqlite(m_path, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                               QByteArray::number(kRows - 1) +
                               ") INSERT INTO videos (id, youtube_id, title, url, upload_date, duration, excluded, "
                               "source, created_at, updated_at, sync_state, owner_email, read_only) SELECT "
                               "i * i + 1, 'v' || i, 'title ' || i, 'https://youtu.be/v' || i, '2020-01-0' || (i % 9 + "
                               "1), '1:0' || (i % 10), i % 2, 'web', i, i, 'synced', '', 0 FROM n"),
            QStringList());
        const auto store = open();
        const QList<const Video *> all = store->all();
        QCOMPARE(all.size(), kRows);
        QStringList expected{u"first"_qs};
        for (int i = 1; i < kRows; ++i)
            expected.append(u"v%1"_qs.arg(i));
        QCOMPARE(idsOf(all), expected);
        for (const int i : {1, kRows / 2, kRows - 1}) {
            const Video *video = store->find(u"v%1"_qs.arg(i));
            QVERIFY(video);
            QCOMPARE(video->title, u"title %1"_qs.arg(i));
            QCOMPARE(video->uploadDate, u"2020-01-0%1"_qs.arg(i % 9 + 1));
            QCOMPARE(video->excluded, i % 2 == 1);
        }
        QVERIFY(!store->hasUnsavedChanges());
        store->remove(store->find(u"v%1"_qs.arg(kRows - 1)));
        QVERIFY(store->save());
        QCOMPARE(open()->all().size(), kRows - 1);
    }

    void firstLayoutOpensWithDefaults()
    {
        QCOMPARE(sqlite(m_path, firstLayout()), QStringList());
        {
            auto store = open();
            QCOMPARE(idsOf(store->all()), list("old-one old-two"));
            QCOMPARE(*store->find(u"old-one"_qs),
                     Video(u"old-one"_qs, u"First"_qs, u"https://youtu.be/old-one"_qs, u"2019-01-01"_qs, u"1:00"_qs,
                           true, u"ios"_qs, 5, 6, SyncStateRaw::synced));
            QCOMPARE(store->find(u"old-two"_qs)->syncStateRaw, SyncStateRaw::needsPatch);
            QVERIFY(!store->hasUnsavedChanges());
            change(*store, u"old-two"_qs, [](Video &v) {
                v.ownerEmail = u"family@example.com"_qs;
                v.readOnly = true;
            });
            QVERIFY(store->save());
        }
        QCOMPARE(sqlite(m_path, "PRAGMA user_version"), list("4"));
        QCOMPARE(onDisk("owner_email || ':' || read_only"), list(":0 family@example.com:1"));
        QVERIFY(open()->find(u"old-two"_qs)->readOnly);
        // A first-layout file that already has one of the later columns: the upgrade step
        // fails half-way and must leave nothing of itself behind.
        m_path = m_dir.filePath(u"half-upgraded.sqlite"_qs);
        QCOMPARE(sqlite(m_path, firstLayout() + "; ALTER TABLE videos ADD COLUMN read_only INTEGER"), QStringList());
        const QString error = refusal();
        QVERIFY2(error.contains(u"read_only"_qs), qPrintable(error));
        QCOMPARE(sqlite(m_path, "PRAGMA user_version; SELECT count(*) FROM videos; SELECT name FROM "
                                "pragma_table_info('videos') WHERE name IN ('owner_email', 'read_only')"),
                 list("1 2 read_only"));
    }

    // A file of the previous release opens in place: its records read unwatched from the start,
    // a change it kept pending still sends the details, and the new fields are kept from then on.
    void previousLayoutUpgradesInPlace()
    {
        QCOMPARE(sqlite(m_path, firstLayout() +
                                    "; ALTER TABLE videos ADD COLUMN owner_email TEXT NOT NULL DEFAULT '';"
                                    "ALTER TABLE videos ADD COLUMN read_only INTEGER NOT NULL DEFAULT 0;"
                                    "CREATE TABLE store_meta (key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
                                    "INSERT INTO store_meta VALUES ('generation', 'g3'); PRAGMA user_version = 3"),
                 QStringList());
        {
            auto store = open();
            QCOMPARE(store->generation(), u"g3"_qs);
            const Video *pending = store->find(u"old-two"_qs);
            QVERIFY(!pending->watched);
            QCOMPARE(pending->position, 0);
            QCOMPARE(pending->pendingFields(), int(Video::detailsChanged));
            change(*store, u"old-one"_qs, [](Video &v) {
                v.watched = true;
                v.position = 4321;
                v.changedFields = Video::watchedChanged | Video::positionChanged;
            });
            QVERIFY(store->save());
        }
        QCOMPARE(sqlite(m_path, "PRAGMA user_version"), list("4"));
        QCOMPARE(onDisk("youtube_id || ':' || watched || ':' || position || ':' || changed_fields"),
                 list("old-one:1:4321:6 old-two:0:0:0"));
        QCOMPARE(open()->find(u"old-one"_qs)->position, 4321);
    }

    void unusableFileIsLeftUntouched_data()
    {
        QTest::addColumn<QByteArray>("bytes");  // the file's content, or
        QTest::addColumn<QByteArray>("sql");    // what makes the database, or
        QTest::addColumn<QByteArray>("damage"); // the kind of page of a sound store overwritten
        QTest::addColumn<QString>("cause");
        const auto row = [](const char *name, const QByteArray &bytes, const QByteArray &sql, const QByteArray &damage,
                            const QString &cause) { QTest::newRow(name) << bytes << sql << damage << cause; };
        QByteArray garbage("SQLite format 3\0", 16);
        for (int i = 0; garbage.size() < 8192; ++i)
            garbage.append(char((i * 151 + 7) % 251));
        const QByteArray videos = "CREATE TABLE videos (id INTEGER PRIMARY KEY, youtube_id TEXT NOT NULL UNIQUE";
        row("text file", QByteArray("My favourite videos:\n").repeated(300), {}, {}, u"not an SQLite database"_qs);
        row("short file", "SQLite", {}, {}, u"not an SQLite database"_qs);
        row("header then garbage", garbage, {}, {}, u"not a database"_qs);
        row("damaged table page", {}, {}, "table", u"malformed"_qs);
        row("damaged index page", {}, {}, "index", u"malformed"_qs);
        row("newer version", {}, videos + ", colour TEXT); PRAGMA user_version = 5", {}, u"newer version"_qs);
        row("negative version", {}, "PRAGMA user_version = -1", {}, u"unknown library version"_qs);
        row("another program's database", {}, "CREATE TABLE notes (id INTEGER PRIMARY KEY, body TEXT)", {},
            u"another program"_qs);
        row("missing column", {},
            videos + ", title TEXT, url TEXT, upload_date TEXT, duration TEXT, excluded INTEGER, source TEXT, "
                     "created_at INTEGER, updated_at INTEGER, sync_state TEXT, owner_email TEXT); "
                     "PRAGMA user_version = 2",
            {}, u"no column read_only"_qs);
        row("no table", {}, "CREATE TABLE clips (id INTEGER PRIMARY KEY); PRAGMA user_version = 1", {},
            u"no table of videos"_qs);
        row("IDs not unique", {}, firstLayout(false), {}, u"not kept unique"_qs);
    }
    void unusableFileIsLeftUntouched()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, sql);
        QFETCH(QByteArray, damage);
        QFETCH(QString, cause);
        if (!bytes.isEmpty())
            write(m_path, bytes);
        if (!sql.isEmpty())
            QCOMPARE(sqlite(m_path, sql), QStringList());
        if (!damage.isEmpty()) {
            QStringList ids;
            for (int i = 0; i < 3000; ++i)
                ids.append(u"video-%1"_qs.arg(i));
            seed(ids);
            QVERIFY(!QFileInfo::exists(m_path + u"-wal"_qs)); // checkpointed on close
            const QStringList layout =
                sqlite(m_path, "SELECT rootpage FROM sqlite_master WHERE tbl_name = 'videos' AND type = '" + damage +
                                   "'; PRAGMA page_size");
            const qsizetype root = layout.value(0).toLongLong();
            const qsizetype pageSize = layout.value(1).toLongLong();
            QVERIFY(root > 1);
            write(m_path, contents(m_path).replace((root - 1) * pageSize, pageSize, QByteArray(pageSize, '\xff')));
        }
        const QByteArray before = contents(m_path);
        const QString error = refusal();
        QVERIFY2(error.contains(cause), qPrintable(error));
        QVERIFY2(error.contains(QDir::toNativeSeparators(m_path)), qPrintable(error));
        QCOMPARE(contents(m_path), before);
        // Nothing left to replay into it later either.
        QVERIFY(!QFileInfo::exists(m_path + u"-wal"_qs) || QFileInfo(m_path + u"-wal"_qs).size() == 0);
    }

    void unusablePath()
    {
        QVERIFY(QDir().mkpath(m_path));
        QString error = refusal();
        QVERIFY2(error.contains(u"not a file"_qs), qPrintable(error));
        QVERIFY(QFileInfo(m_path).isDir());
        const QString blocker = m_dir.filePath(u"blocker"_qs);
        write(blocker, "a file where a folder should be");
        m_path = blocker + u"/library.sqlite"_qs;
        error = refusal();
        QVERIFY2(error.contains(u"folder"_qs), qPrintable(error));
        QCOMPARE(contents(blocker), QByteArray("a file where a folder should be"));
    }

    void fileWithoutPermissions()
    {
        if (::geteuid() == 0)
            QSKIP("file permissions do not bind the superuser");
        seed(list("abcdef"));
        const QByteArray before = contents(m_path);
        for (const auto &[permissions, cause] :
             {std::pair{QFile::WriteOwner, u"cannot be read"_qs}, std::pair{QFile::ReadOwner, u"read-only"_qs}}) {
            QVERIFY(QFile::setPermissions(m_path, permissions));
            const QString error = refusal();
            QVERIFY(QFile::setPermissions(m_path, QFile::ReadOwner | QFile::WriteOwner));
            QVERIFY2(error.contains(cause), qPrintable(error));
            QCOMPARE(contents(m_path), before);
        }
    }

    void signalsAndRevision()
    {
        auto store = open();
        StoreEvents events(store.get());
        quint64 revision = store->revision();
        const auto bumped = [&] {
            const quint64 before = std::exchange(revision, store->revision());
            return revision > before;
        };
        const Video *a = store->insert(sample(u"aaaaaa"_qs));
        QVERIFY(bumped());
        const Video *b = store->insert(sample(u"bbbbbb"_qs));
        QVERIFY(bumped());
        change(*store, u"aaaaaa"_qs, [](Video &v) { v.excluded = true; });
        QVERIFY(bumped());
        store->remove({a, b, a, nullptr});
        QVERIFY(bumped());
        QVERIFY(store->all().isEmpty());
        // While they are announced, the records are still in the store and readable.
        QCOMPARE(events.take(), (QStringList{u"+aaaaaa"_qs, u"+bbbbbb"_qs, u"~aaaaaa"_qs, u"?aaaaaa bbbbbb"_qs,
                                             u"-aaaaaa bbbbbb"_qs}));
        // Inserted then removed before any save: nothing to write, so no signal.
        QVERIFY(!store->hasUnsavedChanges());
        QVERIFY(store->save());
        store->insert(sample(u"cccccc"_qs));
        QVERIFY(bumped());
        QVERIFY(store->save());
        QVERIFY(!bumped()); // saving changes no record
        QCOMPARE(events.take(), list("+cccccc saved"));
        QCOMPARE(onDisk(), list("cccccc"));
        // Records the store does not hold are ignored: none, a copy of a stored one, a removed one.
        Video stranger = sample(u"cccccc"_qs);
        const Video *gone = store->insert(sample(u"gone01"_qs));
        store->remove(gone); // not yet swept out of the order list
        events.take();
        bumped();
        for (const Video *video : {static_cast<const Video *>(nullptr), static_cast<const Video *>(&stranger), gone})
            store->remove(video);
        QVERIFY(!store->update(u"gone01"_qs, [](Video &) { return true; }));
        store->remove(QList<const Video *>{});
        QCOMPARE(events.log, QStringList());
        QVERIFY(!bumped());
        QCOMPARE(idsOf(store->all()), list("cccccc"));
    }

    void otherConnectionsAndClosing()
    {
        auto first = open();
        first->insert(sample(u"shared"_qs));
        QVERIFY(first->save());
        auto second = open();
        QVERIFY(second->find(u"shared"_qs));
        second->insert(sample(u"second"_qs));
        QVERIFY(second->save());
        first->insert(sample(u"first1"_qs));
        QVERIFY(first->save());
        // Closing makes a last attempt at what was never saved.
        second->insert(sample(u"unsaved"_qs, SyncStateRaw::needsAdd));
        second.reset();
        QCOMPARE(onDisk(), list("shared second first1 unsaved"));
    }
};

QTEST_GUILESS_MAIN(ModelTest)
#include "ModelTest.moc"
