#include "db/SqliteConnection.h"

#include <sqlite3.h>

namespace clipvane::service {

namespace {

class SqliteCursor : public SqlStatement::Cursor
{
public:
    SqliteCursor(SqliteConnection &connection, sqlite3_stmt *statement)
        : m_connection(connection)
        , m_statement(statement)
    {}
    // Resets the statement, so no finished read keeps its snapshot or lock open.
    ~SqliteCursor() override
    {
        sqlite3_reset(m_statement);
        m_connection.addWork(sqlite3_stmt_status(m_statement, SQLITE_STMTSTATUS_VM_STEP, 1));
    }

    void bind(int index, qint64 value) override { check(sqlite3_bind_int64(m_statement, index, value)); }
    void bindText(int index, const QByteArray &utf8) override
    {
        check(sqlite3_bind_text(m_statement, index, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT));
    }
    void bindBlob(int index, const QByteArray &blob) override
    {
        check(sqlite3_bind_blob(m_statement, index, blob.constData(), int(blob.size()), SQLITE_TRANSIENT));
    }
    bool step() override
    {
        const int rc = sqlite3_step(m_statement);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        m_connection.fail("step");
    }
    qint64 int64(int column) const override { return sqlite3_column_int64(m_statement, column); }
    std::string_view utf8(int column) const override
    {
        const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
        const int size = sqlite3_column_bytes(m_statement, column);
        return data ? std::string_view(data, size_t(size)) : std::string_view();
    }
    QByteArray blob(int column) const override
    {
        const auto *data = static_cast<const char *>(sqlite3_column_blob(m_statement, column));
        const int size = sqlite3_column_bytes(m_statement, column);
        return data ? QByteArray(data, size) : QByteArray();
    }
    bool isNull(int column) const override { return sqlite3_column_type(m_statement, column) == SQLITE_NULL; }

private:
    void check(int rc) const
    {
        if (rc != SQLITE_OK)
            m_connection.fail("bind");
    }

    SqliteConnection &m_connection;
    sqlite3_stmt *m_statement;
};

} // namespace

SqliteConnection::SqliteConnection(const QString &path)
{
    const QByteArray file = path.toUtf8();
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(file.constData(), &m_db, flags, nullptr) != SQLITE_OK) {
        const std::string message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
        sqlite3_close(m_db);
        m_db = nullptr;
        throw SqlError("cannot open database " + file.toStdString() + ": " + message);
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
        throw SqlError(std::string("exec: ") + message);
    }
}

// Statements are keyed by the address of their SQL text: every caller passes a string
// literal, so one text is prepared once per connection.
SqlStatement SqliteConnection::prepare(const char *sql)
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
    return SqlStatement(std::make_unique<SqliteCursor>(*this, it->second));
}

qint64 SqliteConnection::changes() const
{
    return sqlite3_changes64(m_db);
}

void SqliteConnection::fail(const char *what) const
{
    throw SqlError(std::string(what) + ": " + sqlite3_errmsg(m_db));
}

} // namespace clipvane::service
