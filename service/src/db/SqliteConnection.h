#pragma once

#include "db/SqlConnection.h"

#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace clipvane::service {

// A connection to the service's SQLite file, with a cache of prepared statements.
class SqliteConnection : public SqlConnection
{
public:
    explicit SqliteConnection(const QString &path);
    ~SqliteConnection() override;
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    void exec(const char *sql) override;
    SqlStatement prepare(const char *sql) override;
    qint64 changes() const override;
    qint64 work() override { return m_work; }
    void addWork(qint64 steps) { m_work += steps; }

    [[noreturn]] void fail(const char *what) const;

private:
    sqlite3 *m_db = nullptr;
    std::unordered_map<const char *, sqlite3_stmt *> m_statements;
    qint64 m_work = 0;
};

} // namespace clipvane::service
