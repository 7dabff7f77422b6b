#include "db/SqliteStorage.h"

#include "db/ScopedTransaction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>

namespace clipvane::service {

namespace {

constexpr int kSchemaVersion = 5;
constexpr int kReaderPoolSize = 4; // idle readers kept; more are opened under load and closed after
// A stamp leaves a gap of one after the previous one, so "now" (last stamp + 1) lies strictly
// between everything already stored and everything stored later.
constexpr qint64 kStampStep = 2;

// Forward-only migrations, indexed by the version they lead to.
constexpr const char *kMigrations[] = {
    nullptr,
    R"sql(
CREATE TABLE meta (key TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;
INSERT INTO meta (key, value) VALUES ('clock', 0);

CREATE TABLE users (
    id INTEGER PRIMARY KEY,
    email TEXT NOT NULL UNIQUE,
    created_at INTEGER NOT NULL,
    family_rev INTEGER NOT NULL DEFAULT 0
);

CREATE TABLE tokens (
    hash BLOB PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    created_at INTEGER NOT NULL
) WITHOUT ROWID;
CREATE INDEX tokens_user ON tokens(user_id);

-- Each owner's own videos; deleted ones stay as tombstones.
CREATE TABLE videos (
    id INTEGER PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    youtube_id TEXT NOT NULL,
    title TEXT NOT NULL,
    url TEXT NOT NULL,
    upload_date TEXT NOT NULL DEFAULT '',
    duration TEXT NOT NULL DEFAULT '',
    excluded INTEGER NOT NULL DEFAULT 0,
    source TEXT NOT NULL DEFAULT '',
    created_at INTEGER NOT NULL,
    updated_at INTEGER NOT NULL,
    deleted INTEGER NOT NULL DEFAULT 0,
    title_from_user INTEGER NOT NULL DEFAULT 0,
    meta_pending INTEGER NOT NULL DEFAULT 0,
    meta_attempts INTEGER NOT NULL DEFAULT 0,
    meta_next_at INTEGER NOT NULL DEFAULT 0,
    UNIQUE (user_id, youtube_id)
);
CREATE INDEX videos_metadata_due ON videos(meta_next_at) WHERE meta_pending = 1;

-- owner_id shares the library with member_email (an account may not exist yet).
CREATE TABLE family (
    owner_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    member_email TEXT NOT NULL,
    created_at INTEGER NOT NULL,
    PRIMARY KEY (owner_id, member_email)
) WITHOUT ROWID;
CREATE INDEX family_member ON family(member_email);

-- What each user sees: one row per video ID (the standing copy, or a tombstone), stamped
-- whenever it changes. The pull pages through it by (updated_at, id).
CREATE TABLE feed (
    id INTEGER PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    youtube_id TEXT NOT NULL,
    owner_id INTEGER NOT NULL,
    owner_email TEXT NOT NULL DEFAULT '',
    title TEXT NOT NULL,
    url TEXT NOT NULL,
    upload_date TEXT NOT NULL,
    duration TEXT NOT NULL,
    excluded INTEGER NOT NULL,
    source TEXT NOT NULL,
    created_at INTEGER NOT NULL,
    read_only INTEGER NOT NULL,
    deleted INTEGER NOT NULL,
    updated_at INTEGER NOT NULL,
    UNIQUE (user_id, youtube_id)
);
CREATE INDEX feed_page ON feed(user_id, updated_at, id);
CREATE INDEX feed_owner ON feed(user_id, owner_id) WHERE deleted = 0;

CREATE TABLE telegram_codes (
    code TEXT PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    expires_at INTEGER NOT NULL
) WITHOUT ROWID;
CREATE INDEX telegram_codes_user ON telegram_codes(user_id);

CREATE TABLE telegram_chats (
    chat_id INTEGER PRIMARY KEY,
    user_id INTEGER NOT NULL REFERENCES users(id) ON DELETE CASCADE,
    linked_at INTEGER NOT NULL
);
CREATE INDEX telegram_chats_user ON telegram_chats(user_id);
)sql",
    R"sql(
-- member_email declined the libraries owner_email shares: no share between them until lifted.
CREATE TABLE family_blocks (
    member_email TEXT NOT NULL,
    owner_email TEXT NOT NULL,
    created_at INTEGER NOT NULL,
    PRIMARY KEY (member_email, owner_email)
) WITHOUT ROWID;
)sql",
    R"sql(
-- Sign-ins waiting for Google's answer (the state carried through the flow).
CREATE TABLE signin_states (
    state TEXT PRIMARY KEY,
    app_state TEXT NOT NULL DEFAULT '',
    expires_at INTEGER NOT NULL
) WITHOUT ROWID;
CREATE INDEX signin_states_expiry ON signin_states(expires_at);
)sql",
    R"sql(
-- The owner's viewing of each own video, and the same on the owner's feed rows (a shared
-- library's rows carry none: viewing is each viewer's own).
ALTER TABLE videos ADD COLUMN watched INTEGER NOT NULL DEFAULT 0;
ALTER TABLE videos ADD COLUMN position INTEGER NOT NULL DEFAULT 0;
ALTER TABLE feed ADD COLUMN watched INTEGER NOT NULL DEFAULT 0;
ALTER TABLE feed ADD COLUMN position INTEGER NOT NULL DEFAULT 0;
)sql",
    R"sql(
-- An account's videos waiting for the metadata worker, found without passing over the
-- waiting videos of every other account.
CREATE INDEX videos_account_metadata_due ON videos(user_id, meta_next_at) WHERE meta_pending = 1;
)sql",
};

// Every library in one file: only the service's own user may read it, whatever the umask.
// SQLite gives its WAL and shared-memory files the database file's mode, so the database is
// created (or corrected) first.
void keepPrivate(const QString &databasePath)
{
    const auto fail = [](const QString &path) {
        throw SqlError("cannot make " + path.toStdString() + " private: " + std::strerror(errno));
    };
    const QByteArray database = QFile::encodeName(databasePath);
    const int fd = ::open(database.constData(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0)
        fail(databasePath);
    const int changed = ::fchmod(fd, S_IRUSR | S_IWUSR);
    ::close(fd);
    if (changed != 0)
        fail(databasePath);
    for (const char *suffix : {"-wal", "-shm", "-journal"}) {
        const QByteArray companion = database + suffix;
        if (::chmod(companion.constData(), S_IRUSR | S_IWUSR) != 0 && errno != ENOENT)
            fail(QFile::decodeName(companion));
    }
}

} // namespace

SqliteStorage::SqliteStorage(const QString &path, WallClock wallClock, Durability durability)
    : Storage(std::move(wallClock), durability)
    , m_path(path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir(folder).exists()) {
        if (!QDir().mkpath(folder))
            throw SqlError("cannot create the data folder " + folder.toStdString());
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    keepPrivate(path);
    m_writer = openConnection(true);
    migrate();
}

SqliteStorage::~SqliteStorage() = default;

qint64 SqliteStorage::readNow(SqlConnection &db)
{
    // One writer at a time: whatever a snapshot shows is final, and every later stamp is
    // larger than the clock it shows.
    auto clock = db.prepare("SELECT value FROM meta WHERE key = 'clock'");
    return (clock.step() ? clock.int64(0) : 0) + 1;
}

std::unique_ptr<SqlConnection> SqliteStorage::beginRead()
{
    std::unique_ptr<SqlConnection> connection;
    {
        std::lock_guard lock(m_poolMutex);
        if (!m_readers.empty()) {
            connection = std::move(m_readers.back());
            m_readers.pop_back();
        }
    }
    if (!connection)
        connection = openConnection(false);
    connection->exec("BEGIN");
    return connection;
}

void SqliteStorage::endRead(std::unique_ptr<SqlConnection> connection)
{
    try {
        connection->exec("COMMIT");
    } catch (const SqlError &) {
        // A read transaction has nothing to lose; a connection left inside one is not kept.
        try {
            connection->exec("ROLLBACK");
        } catch (const SqlError &) {
            return;
        }
    }
    std::lock_guard lock(m_poolMutex);
    if (m_readers.size() < size_t(kReaderPoolSize))
        m_readers.push_back(std::move(connection));
}

SqlConnection &SqliteStorage::beginWrite(int)
{
    m_writeMutex.lock();
    try {
        m_writer->exec("BEGIN IMMEDIATE");
    } catch (...) {
        m_writeMutex.unlock();
        throw;
    }
    return *m_writer;
}

qint64 SqliteStorage::takeStamp(WriteTransaction &transaction)
{
    // The last stamp is read inside the transaction, so another process writing the same
    // database (the token command) never makes the clock step back.
    return std::max(transaction.wallNow(), readNow(transaction.db) - 1 + kStampStep);
}

void SqliteStorage::commit(WriteTransaction &transaction)
{
    if (const auto stamp = transaction.usedStamp())
        m_writer->prepare("UPDATE meta SET value = ?1 WHERE key = 'clock'").bind(1, *stamp).run();
    m_writer->exec("COMMIT");
    m_writeMutex.unlock();
}

void SqliteStorage::rollback(SqlConnection &)
{
    try {
        m_writer->exec("ROLLBACK");
    } catch (const SqlError &) {
        // SQLite may already have rolled back on its own (for example after a full disk).
    }
    m_writeMutex.unlock();
}

std::unique_ptr<SqliteConnection> SqliteStorage::openConnection(bool writer) const
{
    auto connection = std::make_unique<SqliteConnection>(m_path);
    connection->exec("PRAGMA busy_timeout = 10000");
    connection->exec("PRAGMA foreign_keys = ON");
    connection->exec("PRAGMA temp_store = MEMORY");
    if (writer) {
        connection->exec("PRAGMA journal_mode = WAL");
        connection->exec(durability() == Durability::Commit ? "PRAGMA synchronous = FULL"
                                                            : "PRAGMA synchronous = NORMAL");
        connection->exec("PRAGMA cache_size = -8192");
    } else {
        connection->exec("PRAGMA cache_size = -4096");
        connection->exec("PRAGMA query_only = ON");
    }
    return connection;
}

void SqliteStorage::migrate()
{
    const int current = [this] {
        auto version = m_writer->prepare("PRAGMA user_version");
        return version.step() ? int(version.int64(0)) : 0;
    }();
    if (current > kSchemaVersion)
        throw SqlError("the database was written by a newer clipvane-service");
    for (int next = current + 1; next <= kSchemaVersion; ++next) {
        ScopedTransaction step(*m_writer, "BEGIN IMMEDIATE");
        m_writer->exec(kMigrations[next]);
        m_writer->exec(("PRAGMA user_version = " + std::to_string(next)).c_str());
        step.commit();
    }
}

} // namespace clipvane::service
