#include "SqliteDatabase.h"

#include <sqlite3.h>

namespace clipvane {

SqliteDatabase::~SqliteDatabase()
{
    close();
}

bool SqliteDatabase::open(const QString &path, bool create)
{
    close();
    m_error.clear();
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0) | SQLITE_OPEN_NOMUTEX;
    const int code = sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr);
    if (code == SQLITE_OK) {
        sqlite3_extended_result_codes(m_db, 1);
        return true;
    }
    m_error = m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(code));
    close();
    return false;
}

void SqliteDatabase::close()
{
    if (m_db) {
        sqlite3_close_v2(m_db);
        m_db = nullptr;
    }
}

bool SqliteDatabase::execute(const char *sql)
{
    return m_db && sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::optional<qint64> SqliteDatabase::integer(const char *sql)
{
    if (!m_db)
        return std::nullopt;
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK)
        return std::nullopt;
    std::optional<qint64> result;
    if (sqlite3_step(statement) == SQLITE_ROW)
        result = sqlite3_column_int64(statement, 0);
    else // finalising clears the connection's error
        m_error = QString::fromUtf8(sqlite3_errmsg(m_db));
    sqlite3_finalize(statement);
    return result;
}

QString SqliteDatabase::errorText() const
{
    if (!m_db || sqlite3_errcode(m_db) == SQLITE_OK)
        return m_error.isEmpty() ? QStringLiteral("unknown error") : m_error;
    return QString::fromUtf8(sqlite3_errmsg(m_db));
}

} // namespace clipvane
