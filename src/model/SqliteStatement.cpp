#include "SqliteStatement.h"

#include <QStringEncoder>
#include <sqlite3.h>

namespace clipvane {

SqliteStatement::SqliteStatement(sqlite3 *db, const char *sql)
{
    if (db && sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_statement, nullptr) != SQLITE_OK) {
        sqlite3_finalize(m_statement);
        m_statement = nullptr;
    }
    if (m_statement)
        m_texts.resize(sqlite3_bind_parameter_count(m_statement));
}

SqliteStatement::~SqliteStatement()
{
    sqlite3_finalize(m_statement);
}

void SqliteStatement::bind(int index, const QString &text)
{
    if (index < 1 || index > m_texts.size())
        return;
    // Text always goes in as UTF-8 (the file's encoding); an unpaired surrogate becomes U+FFFD
    // here instead of being stored as malformed bytes.
    QStringEncoder encoder(QStringEncoder::Utf8, QStringEncoder::Flag::Stateless);
    QByteArray &bytes = m_texts[index - 1];
    bytes.resize(encoder.requiredSpace(text.size()));
    const char *end = encoder.appendToBuffer(bytes.data(), text);
    // Read in place: the bytes stay untouched until this parameter is bound again.
    sqlite3_bind_text64(m_statement, index, bytes.constData(), quint64(end - bytes.constData()), SQLITE_STATIC,
                        SQLITE_UTF8);
}

void SqliteStatement::bind(int index, qint64 value)
{
    sqlite3_bind_int64(m_statement, index, value);
}

bool SqliteStatement::next()
{
    m_done = false;
    if (!m_statement)
        return false;
    const int code = sqlite3_step(m_statement);
    if (code == SQLITE_ROW)
        return true;
    m_done = code == SQLITE_DONE;
    return false;
}

bool SqliteStatement::run()
{
    while (next()) {
    }
    const bool ok = m_done;
    reset();
    return ok;
}

void SqliteStatement::reset()
{
    if (m_statement) {
        sqlite3_reset(m_statement);
        sqlite3_clear_bindings(m_statement);
    }
}

SqliteStatement::Work SqliteStatement::work() const
{
    if (!m_statement)
        return {};
    return {sqlite3_stmt_status(m_statement, SQLITE_STMTSTATUS_VM_STEP, 0),
            sqlite3_stmt_status(m_statement, SQLITE_STMTSTATUS_FULLSCAN_STEP, 0),
            sqlite3_stmt_status(m_statement, SQLITE_STMTSTATUS_SORT, 0)};
}

QByteArrayView SqliteStatement::utf8(int column) const
{
    const auto *data = reinterpret_cast<const char *>(sqlite3_column_text(m_statement, column));
    return QByteArrayView(data, data ? sqlite3_column_bytes(m_statement, column) : 0);
}

QString SqliteStatement::text(int column) const
{
    const QByteArrayView bytes = utf8(column);
    return bytes.isEmpty() ? QString() : QString::fromUtf8(bytes);
}

qint64 SqliteStatement::integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

} // namespace clipvane
