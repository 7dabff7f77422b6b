#include "VideoStore.h"

#include "SqliteDatabase.h"
#include "SqliteStatement.h"
#include "SqliteTransaction.h"
#include "StoreColumns.h"
#include "StoreSchema.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <cstring>
#include <future>
#include <limits>
#include <sqlite3.h>
#include <type_traits>
#include <utility>

namespace clipvane {

namespace {

// Another process of the application family (the command-line tool) may hold the write
// lock for a moment; waiting this long for it beats failing a save.
constexpr int kBusyTimeoutMs = 5000;

// Bounds on the pool of shared short texts, so that texts of removed records kept alive by
// the pool stay a small, fixed amount of memory.
constexpr qsizetype kSharedTextLimit = 20000;
constexpr qsizetype kSharedTextMaxLength = 64;

// Below this many rows a library is read in one go: a second connection is not worth its start.
constexpr qint64 kSplitLoadRows = 20000;

constexpr QByteArrayView kSqliteMagic("SQLite format 3\0", 16);

// A text of up to 15 bytes packed into two words (the length in the last byte): hashing and
// comparing it costs a few instructions, where a QByteArray key costs a SipHash and a memcmp.
struct ShortText
{
    static constexpr qsizetype kMaxBytes = 15;

    ShortText() = default;
    explicit ShortText(QByteArrayView bytes)
    {
        std::array<char, 16> packed{};
        if (!bytes.isEmpty())
            std::memcpy(packed.data(), bytes.data(), std::size_t(bytes.size()));
        packed[kMaxBytes] = char(bytes.size());
        std::memcpy(&head, packed.data(), sizeof head);
        std::memcpy(&tail, packed.data() + sizeof head, sizeof tail);
    }

    quint64 head = 0;
    quint64 tail = 0;
    bool operator==(const ShortText &) const = default;
};

size_t qHash(const ShortText &text, size_t seed = 0)
{
    // The finaliser of MurmurHash3: every input bit reaches the low bits QHash indexes by.
    quint64 x = text.head ^ (text.tail * 0x9E3779B97F4A7C15ULL) ^ seed;
    x ^= x >> 33;
    x *= 0xFF51AFD7ED558CCDULL;
    x ^= x >> 33;
    x *= 0xC4CEB9FE1A85EC53ULL;
    x ^= x >> 33;
    return size_t(x);
}

// Load-time sharing of the low-variety columns, looked up by their bytes in the file so a
// repeated text costs no allocation. Short texts go through a direct-mapped cache: one probe,
// small enough to stay in the processor's cache, which a full hash table of every date and
// duration of a large library is not (it made loading slower than allocating each text).
// Longer texts (owners' e-mail addresses) are few per library: a short list serves them.
class TextPool
{
public:
    TextPool()
        : m_slots(kSlots)
    {
        for (const QString *state :
             {&SyncStateRaw::synced, &SyncStateRaw::needsAdd, &SyncStateRaw::needsPatch, &SyncStateRaw::needsDelete})
            shared(state->toUtf8(), *state);
    }

    QString shared(QByteArrayView bytes, const QString &known = {})
    {
        if (bytes.isEmpty())
            return {};
        if (bytes.size() <= ShortText::kMaxBytes) {
            const ShortText key(bytes);
            Slot &slot = m_slots[qsizetype(qHash(key) & (kSlots - 1))];
            if (!slot.text.isNull() && slot.key == key)
                return slot.text;
            slot.key = key;
            slot.text = known.isNull() ? QString::fromUtf8(bytes) : known;
            return slot.text;
        }
        for (const auto &[utf8, text] : std::as_const(m_long)) {
            if (utf8 == bytes)
                return text;
        }
        QString text = QString::fromUtf8(bytes);
        if (text.size() <= kSharedTextMaxLength) {
            if (m_long.size() == kLongTexts)
                m_long.removeLast();
            m_long.prepend({bytes.toByteArray(), text});
        }
        return text;
    }

    QList<QString> texts() const
    {
        QList<QString> result;
        for (const Slot &slot : m_slots) {
            if (!slot.text.isNull())
                result.append(slot.text);
        }
        for (const auto &entry : m_long)
            result.append(entry.second);
        return result;
    }

private:
    static constexpr qsizetype kSlots = 4096; // a power of two
    static constexpr qsizetype kLongTexts = 8;

    struct Slot
    {
        ShortText key;
        QString text;
    };
    QList<Slot> m_slots;
    QList<std::pair<QByteArray, QString>> m_long;
};

template<typename Field> using Column = StoreColumns::Column<Field>;

QString readField(const SqliteStatement &select, int index, const Column<QString> &column, TextPool &pool)
{
    return column.shared ? pool.shared(select.utf8(index)) : select.text(index);
}

bool readField(const SqliteStatement &select, int index, const Column<bool> &, TextPool &)
{
    return select.integer(index) != 0;
}

qint64 readField(const SqliteStatement &select, int index, const Column<qint64> &, TextPool &)
{
    return select.integer(index);
}

// A number beyond int in a file written by hand or damaged reads as 0, never as a wrapped value.
int readField(const SqliteStatement &select, int index, const Column<int> &, TextPool &)
{
    const qint64 value = select.integer(index);
    return value >= std::numeric_limits<int>::min() && value <= std::numeric_limits<int>::max() ? int(value) : 0;
}

void bindField(SqliteStatement &statement, int index, const QString &value)
{
    statement.bind(index, value);
}

void bindField(SqliteStatement &statement, int index, bool value)
{
    statement.bind(index, qint64(value));
}

void bindField(SqliteStatement &statement, int index, qint64 value)
{
    statement.bind(index, value);
}

void bindField(SqliteStatement &statement, int index, int value)
{
    statement.bind(index, qint64(value));
}

// The record of the row select stands on.
Video *newRecord(const SqliteStatement &select, TextPool &pool)
{
    auto *record = new Video;
    StoreColumns::forEach(
        [&](const auto &column, int index) { record->*column.field = readField(select, index, column, pool); });
    return record;
}

// The rows from the id first on, read on a read-only connection of their own.
struct LaterRows
{
    std::vector<Video *> records;
    QList<QString> texts; // the shared ones
    QString error;        // empty when every row was read
};

LaterRows readLaterRows(const QByteArray &path, int version, qint64 first)
{
    LaterRows later;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        later.error = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QStringLiteral("the library cannot be read");
        sqlite3_close_v2(db);
        return later;
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    {
        SqliteStatement select(db, StoreSchema::selectAll(version));
        if (select.isValid()) {
            select.bind(1, first);
            select.bind(2, std::numeric_limits<qint64>::max());
            TextPool pool;
            while (select.next())
                later.records.push_back(newRecord(select, pool));
            later.texts = pool.texts();
            if (!select.succeeded())
                later.error = QString::fromUtf8(sqlite3_errmsg(db));
        } else {
            later.error = QString::fromUtf8(sqlite3_errmsg(db));
        }
    }
    sqlite3_close_v2(db);
    return later;
}

} // namespace

VideoStore::VideoStore()
    : m_database(std::make_unique<SqliteDatabase>())
{
    for (const QString *state :
         {&SyncStateRaw::synced, &SyncStateRaw::needsAdd, &SyncStateRaw::needsPatch, &SyncStateRaw::needsDelete})
        m_texts.insert(*state);
}

VideoStore::~VideoStore()
{
    // Changes that no save managed to write get one last chance; nobody listens any more.
    if (m_upsert && hasUnsavedChanges()) {
        blockSignals(true);
        save();
    }
    compact();
    qDeleteAll(m_all);
}

std::unique_ptr<VideoStore> VideoStore::open(const QString &path, QString *error)
{
    const auto fail = [&](const QString &cause) -> std::unique_ptr<VideoStore> {
        if (error)
            *error = QCoreApplication::translate("VideoStore", "Cannot open the library %1: %2")
                         .arg(QDir::toNativeSeparators(path), cause);
        return nullptr;
    };
    if (path.isEmpty())
        return fail(QStringLiteral("no file name was given"));

    const QFileInfo info(path);
    const bool exists = info.exists();
    if (exists) {
        if (!info.isFile())
            return fail(QStringLiteral("it is not a file"));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("it cannot be read (%1)").arg(file.errorString()));
        // An empty file is a database without tables, as SQLite sees it; anything else must
        // start with SQLite's signature before SQLite is let near it.
        if (file.size() > 0 && file.read(kSqliteMagic.size()) != kSqliteMagic)
            return fail(QStringLiteral("it is not an SQLite database"));
        if (!info.isWritable())
            return fail(QStringLiteral("it cannot be written (read-only)"));
    } else if (!QDir().mkpath(info.absolutePath())) {
        return fail(QStringLiteral("its folder cannot be created"));
    }

    std::unique_ptr<VideoStore> store(new VideoStore);
    SqliteDatabase &database = *store->m_database;
    if (!database.open(path, !exists))
        return fail(database.errorText());
    // Until the file has proved usable nothing may write to it, not even SQLite's checkpoint
    // on close, which would copy a leftover write-ahead log into it.
    sqlite3_db_config(database.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_busy_timeout(database.handle(), kBusyTimeoutMs);

    QString cause;
    const std::optional<int> version = StoreSchema::inspect(database, &cause);
    if (!version)
        return fail(cause);
    if (!store->load(*version, &cause))
        return fail(cause);

    sqlite3_db_config(database.handle(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
    // Write-ahead logging: a save appends to the log and never rewrites pages in place, so a
    // crash at any moment leaves the last committed save intact. synchronous=FULL syncs the
    // log at every commit, so a save that reported success also survives a power cut; saves
    // come at human pace or once per page of a pull, so the one sync each costs is negligible.
    if (!database.execute("PRAGMA journal_mode = WAL") || !database.execute("PRAGMA synchronous = FULL"))
        return fail(database.errorText());
    if (!StoreSchema::migrate(database, *version, &cause))
        return fail(cause);

    store->m_startedEmpty = *version == 0;
    store->m_generation = store->meta(QStringLiteral("generation"));
    store->m_upsert = std::make_unique<SqliteStatement>(database.handle(), StoreSchema::upsert());
    store->m_delete = std::make_unique<SqliteStatement>(database.handle(), StoreSchema::remove());
    if (!store->m_upsert->isValid() || !store->m_delete->isValid())
        return fail(database.errorText());
    return store;
}

bool VideoStore::load(int version, QString *error)
{
    if (version == 0)
        return true;
    const std::optional<qint64> count = m_database->integer("SELECT count(*) FROM videos");
    SqliteStatement select(m_database->handle(), StoreSchema::selectAll(version));
    if (!count || !select.isValid()) {
        *error = m_database->errorText();
        return false;
    }
    m_index.reserve(*count);
    m_all.reserve(*count);

    // A large library is read in two halves at once, the later one on a connection of its own:
    // reading the rows is most of opening a library, and start-up waits for it.
    qint64 last = std::numeric_limits<qint64>::max();
    std::future<LaterRows> later;
    if (*count >= kSplitLoadRows) {
        const std::optional<qint64> middle = m_database->integer("SELECT min(id) / 2 + max(id) / 2 FROM videos");
        if (middle && *middle < last) {
            last = *middle;
            later = std::async(std::launch::async, readLaterRows,
                               QByteArray(sqlite3_db_filename(m_database->handle(), "main")), version, last + 1);
        }
    }
    select.bind(1, std::numeric_limits<qint64>::min());
    select.bind(2, last);

    TextPool pool;
    while (select.next())
        adoptLoaded(newRecord(select, pool));
    const bool read = select.succeeded();
    if (!read)
        *error = m_database->errorText();
    for (const QString &text : pool.texts())
        m_texts.insert(text);
    if (!later.valid())
        return read;
    LaterRows rows = later.get();
    if (!read || !rows.error.isEmpty()) {
        if (read)
            *error = rows.error;
        qDeleteAll(rows.records);
        return false;
    }
    // The earlier half comes first in store order: its record wins a shared ID.
    for (Video *record : rows.records)
        adoptLoaded(record);
    for (const QString &text : std::as_const(rows.texts))
        m_texts.insert(text);
    return true;
}

void VideoStore::adoptLoaded(Video *record)
{
    // One probe of the index per row: it finds the place and tells whether the ID is new.
    // A damaged index may have let a second row with one ID in; the first one wins.
    const qsizetype known = m_index.size();
    Entry &entry = m_index[record->youtubeID];
    if (m_index.size() == known) {
        delete record;
        return;
    }
    entry = Entry{record, true};
    recount(entry);
    m_all.append(record);
}

const QList<const Video *> &VideoStore::all() const
{
    compact();
    return m_all;
}

const Video *VideoStore::find(const QString &youtubeID) const
{
    const auto found = m_index.constFind(youtubeID);
    return found == m_index.cend() ? nullptr : found->video;
}

QList<const Video *> VideoStore::pending() const
{
    QList<const Video *> result;
    if (m_unsynced == 0)
        return result;
    m_recordsVisited += all().size();
    for (const Video *video : all()) {
        if (video->syncStateRaw != SyncStateRaw::synced)
            result.append(video);
    }
    return result;
}

QList<const Video *> VideoStore::synced() const
{
    QList<const Video *> result;
    m_recordsVisited += all().size();
    for (const Video *video : all()) {
        if (video->syncStateRaw == SyncStateRaw::synced)
            result.append(video);
    }
    return result;
}

const Video *VideoStore::insert(Video video)
{
    if (const Video *existing = find(video.youtubeID))
        return existing;
    intern(video);
    auto *record = new Video(std::move(video));
    // A row removed since the last save is still in the file; the save deletes it first.
    recount(*m_index.insert(record->youtubeID, Entry{record, m_deletions.contains(record->youtubeID)}));
    m_all.append(record);
    markDirty(record);
    ++m_revision;
    Q_EMIT inserted(record);
    return record;
}

bool VideoStore::update(const QString &youtubeID, const std::function<bool(Video &)> &change)
{
    const auto entry = m_index.find(youtubeID);
    if (entry == m_index.end())
        return false;
    Video &video = *entry->video;
    const bool changed = change(video);
    // The ID is the record's identity: a change cannot give it another.
    video.youtubeID = entry.key();
    if (changed)
        markChanged(&video);
    return true;
}

void VideoStore::markChanged(Video *video)
{
    if (!video || m_removed.contains(video))
        return;
    auto entry = locate(video);
    if (entry == m_index.end())
        return;
    recount(*entry);
    intern(*video);
    markDirty(video);
    ++m_revision;
    Q_EMIT changed(video);
}

void VideoStore::remove(const Video *video)
{
    remove(QList<const Video *>{video});
}

void VideoStore::remove(const QList<const Video *> &videos)
{
    QList<const Video *> doomed;
    QSet<const Video *> seen;
    doomed.reserve(videos.size());
    seen.reserve(videos.size());
    for (const Video *video : videos) {
        if (!video || m_removed.contains(video) || seen.contains(video) || locate(video) == m_index.end())
            continue;
        seen.insert(video);
        doomed.append(video);
    }
    if (doomed.isEmpty())
        return;

    Q_EMIT aboutToRemove(doomed);
    QStringList youtubeIDs;
    youtubeIDs.reserve(doomed.size());
    for (const Video *video : std::as_const(doomed)) {
        // A listener of aboutToRemove may already have removed some of them.
        if (m_removed.contains(video))
            continue;
        const auto entry = locate(video);
        if (entry == m_index.end())
            continue;
        if (entry->stored)
            m_deletions.insert(entry.key());
        if (entry->unsynced)
            --m_unsynced;
        youtubeIDs.append(entry.key());
        m_index.erase(entry);
        m_dirty.remove(video);
        m_removed.insert(video);
    }
    if (youtubeIDs.isEmpty())
        return;
    ++m_revision;
    Q_EMIT removed(youtubeIDs);
}

bool VideoStore::hasUnsavedChanges() const
{
    return !m_dirty.isEmpty() || !m_deletions.isEmpty();
}

bool VideoStore::save(QString *error)
{
    if (!hasUnsavedChanges())
        return true;
    // Called before the transaction guard rolls back, while SQLite's message is the cause.
    const auto fail = [&] {
        if (error)
            *error = QCoreApplication::translate("VideoStore", "The library could not be saved: %1")
                         .arg(m_database->errorText());
        return false;
    };

    // New rows are numbered in the order they became dirty, so the next start loads them in
    // the order they were inserted.
    QList<std::pair<quint64, const Video *>> writes;
    writes.reserve(m_dirty.size());
    for (auto dirty = m_dirty.cbegin(); dirty != m_dirty.cend(); ++dirty)
        writes.append({dirty.value(), dirty.key()});
    std::sort(writes.begin(), writes.end());

    SqliteTransaction transaction(*m_database);
    if (!transaction.isActive())
        return fail();
    // Deletions first: an ID removed and inserted again gets a fresh row at the end.
    for (const QString &youtubeID : std::as_const(m_deletions)) {
        m_delete->bind(1, youtubeID);
        if (!m_delete->run())
            return fail();
    }
    for (const auto &[sequence, video] : std::as_const(writes)) {
        StoreColumns::forEach(
            [&](const auto &column, int index) { bindField(*m_upsert, index + 1, video->*column.field); });
        if (!m_upsert->run())
            return fail();
    }
    if (!transaction.commit())
        return fail();

    for (const auto &[sequence, video] : std::as_const(writes)) {
        const auto entry = m_index.find(video->youtubeID);
        if (entry != m_index.end())
            entry->stored = true;
    }
    m_dirty.clear();
    m_deletions.clear();
    Q_EMIT saved();
    return true;
}

quint64 VideoStore::revision() const
{
    return m_revision;
}

VideoStore::Work VideoStore::work() const
{
    Work work{0, 0, 0, m_recordsVisited};
    for (const SqliteStatement *statement : {m_upsert.get(), m_delete.get()}) {
        if (statement == nullptr)
            continue;
        const SqliteStatement::Work done = statement->work();
        work.statementSteps += done.steps;
        work.fullScanSteps += done.fullScanSteps;
        work.sorts += done.sorts;
    }
    return work;
}

// A record's ID never changes: a record not found under its own ID is none of this store's.
QHash<QString, VideoStore::Entry>::iterator VideoStore::locate(const Video *video)
{
    const auto found = m_index.find(video->youtubeID);
    return found != m_index.end() && found->video == video ? found : m_index.end();
}

void VideoStore::markDirty(const Video *video)
{
    if (!m_dirty.contains(video))
        m_dirty.insert(video, ++m_dirtySequence);
}

void VideoStore::intern(Video &video)
{
    StoreColumns::forEach([&](const auto &column, int) {
        if constexpr (std::is_same_v<std::remove_cvref_t<decltype(video.*column.field)>, QString>) {
            if (column.shared)
                intern(video.*column.field);
        }
    });
}

void VideoStore::intern(QString &text)
{
    if (text.isEmpty() || text.size() > kSharedTextMaxLength)
        return;
    const auto found = m_texts.constFind(text);
    if (found != m_texts.cend())
        text = *found;
    else if (m_texts.size() < kSharedTextLimit)
        m_texts.insert(text);
}

void VideoStore::recount(Entry &entry)
{
    const bool unsynced = entry.video->syncStateRaw != SyncStateRaw::synced;
    if (unsynced != entry.unsynced)
        m_unsynced += unsynced ? 1 : -1;
    entry.unsynced = unsynced;
}

void VideoStore::compact() const
{
    if (m_removed.isEmpty())
        return;
    m_recordsVisited += m_all.size();
    m_all.removeIf([this](const Video *video) { return m_removed.contains(video); });
    qDeleteAll(m_removed);
    m_removed.clear();
}

} // namespace clipvane
