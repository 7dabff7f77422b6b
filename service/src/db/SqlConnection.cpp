#include "db/SqlConnection.h"

namespace clipvane::service {

SqlStatement::SqlStatement(std::unique_ptr<Cursor> cursor)
    : m_cursor(std::move(cursor))
{}

SqlStatement &SqlStatement::bind(int index, qint64 value)
{
    m_cursor->bind(index, value);
    return *this;
}

SqlStatement &SqlStatement::bind(int index, const QString &value)
{
    m_cursor->bindText(index, value.toUtf8());
    return *this;
}

SqlStatement &SqlStatement::bind(int index, const QByteArray &blob)
{
    m_cursor->bindBlob(index, blob);
    return *this;
}

bool SqlStatement::step()
{
    return m_cursor->step();
}

void SqlStatement::run()
{
    while (step()) {
    }
}

qint64 SqlStatement::int64(int column) const
{
    return m_cursor->int64(column);
}

QString SqlStatement::text(int column) const
{
    const std::string_view raw = utf8(column);
    return QString::fromUtf8(raw.data(), qsizetype(raw.size()));
}

QByteArray SqlStatement::blob(int column) const
{
    return m_cursor->blob(column);
}

std::string_view SqlStatement::utf8(int column) const
{
    return m_cursor->utf8(column);
}

bool SqlStatement::isNull(int column) const
{
    return m_cursor->isNull(column);
}

} // namespace clipvane::service
