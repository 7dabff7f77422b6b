#include "storage/SqliteConnection.h"

#include <sqlite3.h>

#include <utility>

namespace clipvane::service {

SqliteStatement::SqliteStatement(SqliteConnection &connection, sqlite3_stmt *statement)
    : m_connection(connection)
    , m_statement(statement)
{}

SqliteStatement::~SqliteStatement()
{
    if (m_statement)
        sqlite3_reset(m_statement);
}

SqliteStatement::SqliteStatement(SqliteStatement &&other) noexcept
    : m_connection(other.m_connection)
    , m_statement(std::exchange(other.m_statement, nullptr))
{}

SqliteStatement &SqliteStatement::bind(int index, qint64 value)
{
    if (sqlite3_bind_int64(m_statement, index, value) != SQLITE_OK)
        m_connection.fail("bind");
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    if (sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        m_connection.fail("bind");
    return *this;
}

SqliteStatement &SqliteStatement::bind(int index, const QByteArray &blob)
{
    if (sqlite3_bind_blob(m_statement, index, blob.constData(), int(blob.size()), SQLITE_TRANSIENT) != SQLITE_OK)
        m_connection.fail("bind");
    return *this;
}

bool SqliteStatement::step()
{
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    m_connection.fail("step");
}

void SqliteStatement::run()
{
    while (step()) {
    }
}

qint64 SqliteStatement::int64(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

QString SqliteStatement::text(int column) const
{
    const std::string_view raw = utf8(column);
    return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
}

std::string_view SqliteStatement::utf8(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    const int size = sqlite3_column_bytes(m_statement, column);
    return data ? std::string_view(data, size_t(size)) : std::string_view();
}

QByteArray SqliteStatement::blob(int column) const
{
    const auto *data = static_cast<const char *>(sqlite3_column_blob(m_statement, column));
    const int size = sqlite3_column_bytes(m_statement, column);
    return data ? QByteArray(data, size) : QByteArray();
}

bool SqliteStatement::isNull(int column) const
{
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

SqliteConnection::SqliteConnection(const QString &path)
{
    const QByteArray file = path.toUtf8();
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(file.constData(), &m_db, flags, nullptr) != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw SqliteError("cannot open database " + file.toStdString() + ": " + message);
    }
    sqlite3_extended_result_codes(m_db, 1);
}

SqliteConnection::~SqliteConnection()
{
    for (auto &entry : m_statements)
        sqlite3_finalize(entry.second);
    sqlite3_close(m_db);
}

void SqliteConnection::exec(const char *sql)
{
    char *error = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw SqliteError(std::string("exec: ") + message);
    }
}

// Statements are keyed by the address of their SQL text: every caller passes a string
// literal, so one text is prepared once per connection.
SqliteStatement SqliteConnection::prepare(const char *sql)
{
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        sqlite3_stmt *statement = nullptr;
        if (sqlite3_prepare_v3(m_db, sql, -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr) != SQLITE_OK)
            fail("prepare");
        it = m_statements.emplace(sql, statement).first;
    } else {
        sqlite3_reset(it->second);
        sqlite3_clear_bindings(it->second);
    }
    return SqliteStatement(*this, it->second);
}

qint64 SqliteConnection::changes() const
{
    return sqlite3_changes64(m_db);
}

qint64 SqliteConnection::lastInsertId() const
{
    return sqlite3_last_insert_rowid(m_db);
}

void SqliteConnection::fail(const char *what) const
{
    throw SqliteError(std::string(what) + ": " + sqlite3_errmsg(m_db));
}

} // namespace clipvane::service
