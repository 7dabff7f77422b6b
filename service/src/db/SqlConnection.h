#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <stdexcept>
#include <string_view>

namespace clipvane::service {

// A failed database call. Handlers turn it into a 500 reply; a write transaction that throws
// it is rolled back, so a request never leaves half its changes behind.
class SqlError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A transaction that lost to a concurrent one (PostgreSQL's serialization failures and
// deadlocks): nothing of it was kept, and running it again may well succeed.
class SqlConflict : public SqlError
{
public:
    using SqlError::SqlError;
};

// One prepared statement of either database, rebound for every use. Parameters are written
// ?1, ?2, … in the SQL text and count from 1; columns count from 0.
class SqlStatement
{
public:
    // What a database does for a statement.
    class Cursor
    {
    public:
        virtual ~Cursor() = default;
        virtual void bind(int index, qint64 value) = 0;
        virtual void bindText(int index, const QByteArray &utf8) = 0;
        virtual void bindBlob(int index, const QByteArray &blob) = 0;
        virtual bool step() = 0;
        virtual qint64 int64(int column) const = 0;
        virtual std::string_view utf8(int column) const = 0;
        virtual QByteArray blob(int column) const = 0;
        virtual bool isNull(int column) const = 0;
    };

    explicit SqlStatement(std::unique_ptr<Cursor> cursor);

    SqlStatement &bind(int index, qint64 value);
    SqlStatement &bind(int index, int value) { return bind(index, qint64(value)); }
    SqlStatement &bind(int index, bool value) { return bind(index, qint64(value ? 1 : 0)); }
    SqlStatement &bind(int index, const QString &value);
    SqlStatement &bind(int index, const QByteArray &blob);

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
    std::unique_ptr<Cursor> m_cursor;
};

// One connection to the service's database. Not thread-safe: each thread uses its own
// connection (the storage hands them out). The SQL the service writes is understood by both
// SQLite and PostgreSQL.
class SqlConnection
{
public:
    virtual ~SqlConnection() = default;

    // Runs one or more statements without parameters or results (schema, transaction control).
    virtual void exec(const char *sql) = 0;
    // A prepared statement, cached for the connection. sql must outlive the connection (every
    // caller passes a string literal).
    virtual SqlStatement prepare(const char *sql) = 0;
    // The rows the last statement run changed.
    virtual qint64 changes() const = 0;
    // The work done so far, in the database's own unit: SQLite's virtual-machine steps over the
    // connection's life, PostgreSQL's rows read from tables and indexes in the current
    // transaction. It grows with the rows statements visit, so only differences within one
    // transaction mean anything; tests of cost compare them across library sizes.
    virtual qint64 work() = 0;
};

} // namespace clipvane::service
