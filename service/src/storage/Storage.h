#pragma once

#include "storage/SqliteConnection.h"

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace clipvane::service {

// The open write transaction. Every change that clients must learn of carries the
// transaction's stamp: a value of the server clock that is larger than every stamp and
// every "now" handed out before, so a pull cursor never skips a later change.
class WriteTransaction
{
public:
    WriteTransaction(SqliteConnection &db, qint64 wallNow);

    SqliteConnection &db;
    qint64 stamp();
    qint64 wallNow() const { return m_wallNow; }
    std::optional<qint64> usedStamp() const { return m_stamp; }

private:
    qint64 m_wallNow;
    std::optional<qint64> m_stamp;
};

// The SQLite database of the service: one writer at a time (a mutex around each write
// transaction) and a pool of reader connections, each read running in one snapshot.
class Storage
{
public:
    using WallClock = std::function<qint64()>;

    // Commit: every commit reaches the disk before it is confirmed (about 3 ms a write here).
    // Checkpoint: a commit survives the process being killed at once; an operating-system crash
    // or power cut may take the last moments back (the database stays consistent).
    enum class Durability { Commit, Checkpoint };

    // Opens (creating and migrating) clipvane-service.sqlite in dataDir. Throws SqliteError.
    explicit Storage(const QString &dataDir, WallClock wallClock = {}, Durability durability = Durability::Checkpoint);
    ~Storage();
    Storage(const Storage &) = delete;
    Storage &operator=(const Storage &) = delete;

    qint64 wallNow() const;

    // The clock value a pull reports as "now": larger than every stamp given so far, and
    // every later stamp is larger still. Read it inside the pull's read transaction.
    static qint64 readNow(SqliteConnection &db);

    // Runs fn(SqliteConnection &) inside one read transaction (one consistent snapshot).
    template<typename Fn> auto read(Fn &&fn)
    {
        Reader reader(*this);
        reader.connection->exec("BEGIN");
        Finish finish{reader.connection.get()};
        return fn(*reader.connection);
    }

    // Runs fn(WriteTransaction &) inside one write transaction; commits when fn returns,
    // rolls back when it throws.
    template<typename Fn> auto write(Fn &&fn)
    {
        std::lock_guard lock(m_writeMutex);
        m_writer->exec("BEGIN IMMEDIATE");
        WriteTransaction transaction(*m_writer, wallNow());
        try {
            if constexpr (std::is_void_v<decltype(fn(transaction))>) {
                fn(transaction);
                commit(transaction);
            } else {
                auto result = fn(transaction);
                commit(transaction);
                return result;
            }
        } catch (...) {
            rollback();
            throw;
        }
    }

private:
    struct Finish
    {
        SqliteConnection *connection;
        ~Finish();
    };
    struct Reader
    {
        explicit Reader(Storage &storage);
        ~Reader();
        Storage &storage;
        std::unique_ptr<SqliteConnection> connection;
    };

    std::unique_ptr<SqliteConnection> openConnection(bool writer) const;

    void migrate();
    void commit(WriteTransaction &transaction);
    void rollback();

    QString m_path;
    WallClock m_wallClock;
    Durability m_durability;
    std::mutex m_writeMutex;
    std::unique_ptr<SqliteConnection> m_writer;
    std::mutex m_poolMutex;
    std::vector<std::unique_ptr<SqliteConnection>> m_readers;
};

} // namespace clipvane::service
