#pragma once

#include "db/SqliteConnection.h"
#include "db/Storage.h"

#include <mutex>
#include <vector>

namespace clipvane::service {

// The service's database in one SQLite file: one writer at a time (a mutex around each write
// transaction; other processes wait on SQLite's lock) and a pool of reader connections.
class SqliteStorage : public Storage
{
public:
    // Opens (creating and migrating) the file at path; it and its companions are the service
    // user's alone. Throws SqlError.
    SqliteStorage(const QString &path, WallClock wallClock = {}, Durability durability = Durability::Checkpoint);
    ~SqliteStorage() override;

    bool shared() const override { return false; }
    qint64 readNow(SqlConnection &db) override;

protected:
    std::unique_ptr<SqlConnection> beginRead() override;
    void endRead(std::unique_ptr<SqlConnection> connection) override;
    SqlConnection &beginWrite(int attempt) override;
    qint64 takeStamp(WriteTransaction &transaction) override;
    void commit(WriteTransaction &transaction) override;
    void rollback(SqlConnection &connection) override;

private:
    std::unique_ptr<SqliteConnection> openConnection(bool writer) const;
    void migrate();

    QString m_path;
    std::mutex m_writeMutex;
    std::unique_ptr<SqliteConnection> m_writer;
    std::mutex m_poolMutex;
    std::vector<std::unique_ptr<SqlConnection>> m_readers;
};

} // namespace clipvane::service
