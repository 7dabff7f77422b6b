#pragma once

#include "db/LeaseLiveness.h"
#include "db/PgConnection.h"
#include "db/Storage.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace clipvane::service {

// The service's database on a PostgreSQL server, shared by any number of service instances.
// Writes run serializable (a transaction that loses a race is run again; one that keeps
// losing, a family share say, then runs with the other writers held back); reads run in one
// repeatable-read snapshot.
//
// The pull's rule: a row is served only when no transaction still running can commit a row
// with a smaller stamp. Each write transaction takes its stamp before it begins, as a lease
// that commits at once (so every instance sees it), and removes the lease in its own commit,
// so the lease disappears exactly when the rows appear. "now" is the smallest live lease (or
// the clock + 1 when there is none) and the pull serves only rows stamped below it; a cursor
// never passes a row that can still appear. A lease whose connection is gone (its instance
// died, so its transaction rolled back) no longer counts. The instances must connect as one
// role (or one with pg_read_all_stats), so each sees the others' connections.
class PgStorage : public Storage
{
public:
    // Connects, creating the schema when the database has none. Throws SqlError.
    explicit PgStorage(std::string conninfo, WallClock wallClock = {});
    ~PgStorage() override;

    bool shared() const override { return true; }
    qint64 readNow(SqlConnection &db) override;
    void continueIdentities(SqlConnection &db) override;

    // A new connection of its own (for a session-long lock, say).
    std::unique_ptr<PgConnection> connect() const;
    const std::string &conninfo() const { return m_conninfo; }
    // The channel every instance of this database (and schema) announces its changes on,
    // and what names this instance in its notices (see PgChangeListener).
    const std::string &changeChannel() const { return m_channel; }
    const std::string &instance() const { return m_instance; }
    // For tests of cost: the times pulls read pg_stat_activity.
    quint64 livenessReads() const { return m_liveness.reads(); }

protected:
    std::unique_ptr<SqlConnection> beginRead() override;
    void endRead(std::unique_ptr<SqlConnection> connection) override;
    SqlConnection &beginWrite(int attempt) override;
    qint64 takeStamp(WriteTransaction &transaction) override;
    void commit(WriteTransaction &transaction) override;
    void rollback(SqlConnection &connection) override;

private:
    std::unique_ptr<PgConnection> take(std::vector<std::unique_ptr<PgConnection>> &pool);
    void give(std::vector<std::unique_ptr<PgConnection>> &pool, std::unique_ptr<PgConnection> connection);
    struct Writing
    {
        std::unique_ptr<PgConnection> connection;
        qint64 lease = 0;
        QString row; // the lease's row address
        bool alone = false;
    };
    Writing finish(SqlConnection &connection);
    // Ends the transaction if still open, drops the lease if still held, opens the gate and
    // pools the connection (or closes it when any of that fails).
    void release(Writing &writing);
    void migrate();
    // Of these stamps, those whose leases exist now, each read in a snapshot taken after the
    // call began (an idle connection, outside any transaction).
    std::vector<qint64> stillLeased(const std::vector<qint64> &stamps);

    std::string m_conninfo;
    std::string m_channel;
    std::string m_instance;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<PgConnection>> m_readers;
    std::vector<std::unique_ptr<PgConnection>> m_writers;
    std::map<SqlConnection *, Writing> m_writing;
    quint64 m_writes = 0;
    LeaseLiveness m_liveness;
};

} // namespace clipvane::service
