#pragma once

#include "db/SqlConnection.h"

#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace clipvane::service {

class Storage;

// The open write transaction. Every change that clients must learn of carries the
// transaction's stamp: a value of the server clock that is larger than every stamp handed
// out before, so a pull cursor never skips a later change.
class WriteTransaction
{
public:
    WriteTransaction(Storage &storage, SqlConnection &db, qint64 wallNow);

    SqlConnection &db;
    qint64 stamp();
    qint64 wallNow() const { return m_wallNow; }
    std::optional<qint64> usedStamp() const { return m_stamp; }

    // What the account's pull delivers changed: once this commits, its open event streams
    // (on every instance) learn of it. Takes the stamp, which dates the change.
    void changedFor(qint64 accountId);
    const std::vector<qint64> &changedAccounts() const { return m_changed; }

private:
    Storage &m_storage;
    qint64 m_wallNow;
    std::optional<qint64> m_stamp;
    std::vector<qint64> m_changed; // without repeats
};

// The service's database: SQLite in one file (the default: one process, nothing to set up)
// or PostgreSQL (several service instances on one database). Reads run in one consistent
// snapshot; writes in one transaction that commits whole or not at all.
class Storage
{
public:
    using WallClock = std::function<qint64()>;
    // After a commit that changed what some accounts' pulls deliver: the accounts, and the
    // clock a pull must report for the change to be delivered (its stamp + 1).
    using ChangeObserver = std::function<void(const std::vector<qint64> &accountIds, qint64 now)>;

    // Commit: every commit reaches the disk before it is confirmed (about 3 ms a write here).
    // Checkpoint: a commit survives the process being killed at once; an operating-system crash
    // or power cut may take the last moments back (the database stays consistent).
    enum class Durability { Commit, Checkpoint };

    // database: "sqlite:PATH" (the file), "postgresql://…" or "postgres://…". Creates and
    // migrates the schema. Throws SqlError, naming the cause.
    static std::unique_ptr<Storage> open(const QString &database, WallClock wallClock = {},
                                         Durability durability = Durability::Checkpoint);
    // The SQLite file in a data folder, as "sqlite:PATH"; creates the folder, private to the
    // service's user. Throws SqlError.
    static QString sqliteIn(const QString &dataDir);

    virtual ~Storage();
    Storage(const Storage &) = delete;
    Storage &operator=(const Storage &) = delete;

    qint64 wallNow() const;

    // Whether other service instances may share the database (background work then runs on
    // one of them at a time, see Leadership).
    virtual bool shared() const = 0;

    // The clock value a pull reports as "now", read in the pull's snapshot. Every row the
    // snapshot shows with a stamp below it is final, and every row that becomes visible later
    // carries a stamp at or above it; so a pull serves only rows stamped below it, and a cursor
    // at "now" misses nothing.
    virtual qint64 readNow(SqlConnection &db) = 0;

    // Called on the committing thread after each commit that named changed accounts (see
    // WriteTransaction::changedFor). Set before the storage is shared between threads.
    void setChangeObserver(ChangeObserver observer) { m_changeObserver = std::move(observer); }

    // After rows were copied in with their IDs: new rows get IDs above them.
    virtual void continueIdentities(SqlConnection &) {}

    // For tests of cost: while on, every read adds the work its transaction did
    // (SqlConnection::work) to readWork().
    void countReadWork(bool on) { m_countReadWork = on; }
    qint64 readWork() const { return m_readWork; }

    // Runs fn(SqlConnection &) inside one read transaction (one consistent snapshot).
    template<typename Fn> auto read(Fn &&fn)
    {
        Reader reader(*this);
        return fn(*reader.connection);
    }

    // Runs fn(WriteTransaction &) inside one write transaction; commits when fn returns,
    // rolls back when it throws. A transaction that lost to a concurrent one is run again
    // from the start (fn must not keep effects of an earlier run).
    template<typename Fn> auto write(Fn &&fn)
    {
        for (int attempt = 1;; ++attempt) {
            Writer writer(*this, attempt);
            try {
                WriteTransaction transaction(*this, *writer.connection, wallNow());
                if constexpr (std::is_void_v<decltype(fn(transaction))>) {
                    fn(transaction);
                    writer.commit(transaction);
                    return;
                } else {
                    auto result = fn(transaction);
                    writer.commit(transaction);
                    return result;
                }
            } catch (const SqlConflict &) {
                writer.rollback();
                if (attempt >= kWriteAttempts)
                    throw;
                backOff(attempt);
            } catch (...) {
                writer.rollback();
                throw;
            }
        }
    }

protected:
    Storage(WallClock wallClock, Durability durability);

    // A connection inside a read transaction, given back when the read ends.
    virtual std::unique_ptr<SqlConnection> beginRead() = 0;
    virtual void endRead(std::unique_ptr<SqlConnection> connection) = 0;
    // A connection inside a write transaction (holding the writer's turn where there is one);
    // attempt counts from 1, and grows each time the transaction lost to a concurrent one.
    virtual SqlConnection &beginWrite(int attempt) = 0;
    virtual qint64 takeStamp(WriteTransaction &transaction) = 0;
    // Commits; on failure the transaction stays open for rollback.
    virtual void commit(WriteTransaction &transaction) = 0;
    // Rolls back (when still open) and gives up the writer's turn and the connection.
    virtual void rollback(SqlConnection &connection) = 0;

    Durability durability() const { return m_durability; }

private:
    friend class WriteTransaction;
    static constexpr int kWriteAttempts = 16;
    // A random pause that grows with the attempt, so transactions that collided part ways.
    static void backOff(int attempt);

    struct Reader
    {
        explicit Reader(Storage &storage);
        ~Reader();
        Storage &storage;
        std::unique_ptr<SqlConnection> connection;
        qint64 workAtStart = 0;
    };
    struct Writer
    {
        Writer(Storage &storage, int attempt);
        ~Writer();
        void commit(WriteTransaction &transaction);
        void rollback();
        Storage &storage;
        SqlConnection *connection;
        bool open = true;
    };

    WallClock m_wallClock;
    Durability m_durability;
    ChangeObserver m_changeObserver;
    std::atomic<bool> m_countReadWork{false};
    std::atomic<qint64> m_readWork{0};
};

} // namespace clipvane::service
