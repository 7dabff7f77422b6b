#include "SqliteTransaction.h"

#include "SqliteDatabase.h"

#include <sqlite3.h>

namespace clipvane {

SqliteTransaction::SqliteTransaction(SqliteDatabase &database)
    : m_database(database)
{
    m_active = m_database.execute("BEGIN IMMEDIATE");
}

SqliteTransaction::~SqliteTransaction()
{
    // SQLite rolls some failures back on its own (a full disk, an I/O error); then there is
    // nothing left to roll back.
    if (m_active && m_database.handle() && !sqlite3_get_autocommit(m_database.handle()))
        m_database.execute("ROLLBACK");
}

bool SqliteTransaction::commit()
{
    if (!m_active)
        return false;
    if (!m_database.execute("COMMIT"))
        return false;
    m_active = false;
    return true;
}

} // namespace clipvane
