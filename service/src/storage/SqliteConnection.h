#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

namespace clipvane::service {

// A failed SQLite call. Handlers turn it into a 500 reply; a write transaction that throws
// it is rolled back, so a request never leaves half its changes behind.
class SqliteError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class SqliteConnection;

// One prepared statement, reset and rebound for every use. Columns and parameters count
// from 0 for columns and from 1 for parameters, as SQLite does.
class SqliteStatement
{
public:
    SqliteStatement(SqliteConnection &connection, sqlite3_stmt *statement);
    // Resets the statement, so no finished read keeps its snapshot or lock open.
    ~SqliteStatement();
    SqliteStatement(SqliteStatement &&other) noexcept;
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;
    SqliteStatement &operator=(SqliteStatement &&) = delete;

    SqliteStatement &bind(int index, qint64 value);
    SqliteStatement &bind(int index, int value) { return bind(index, qint64(value)); }
    SqliteStatement &bind(int index, bool value) { return bind(index, qint64(value ? 1 : 0)); }
    SqliteStatement &bind(int index, const QString &value);
    SqliteStatement &bind(int index, const QByteArray &blob);

    // Advances to the next row; false when the statement is done.
    bool step();
    // Runs a statement that returns no rows (or ignores them).
    void run();

    qint64 int64(int column) const;
    QString text(int column) const;
    QByteArray blob(int column) const;
    // The raw UTF-8 text of a column, valid until the next step.
    std::string_view utf8(int column) const;
    bool isNull(int column) const;

private:
    SqliteConnection &m_connection;
    sqlite3_stmt *m_statement;
};

// One connection with a cache of prepared statements. Not thread-safe: each thread uses
// its own connection (the storage hands them out).
class SqliteConnection
{
public:
    explicit SqliteConnection(const QString &path);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection &) = delete;
    SqliteConnection &operator=(const SqliteConnection &) = delete;

    // Runs one or more statements without results (schema, pragmas, transaction control).
    void exec(const char *sql);
    // A cached statement, reset and with its bindings cleared.
    SqliteStatement prepare(const char *sql);
    qint64 changes() const;
    qint64 lastInsertId() const;

    [[noreturn]] void fail(const char *what) const;
    sqlite3 *handle() const { return m_db; }

private:
    sqlite3 *m_db = nullptr;
    std::unordered_map<const char *, sqlite3_stmt *> m_statements;
};

} // namespace clipvane::service
