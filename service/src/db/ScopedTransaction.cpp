#include "db/ScopedTransaction.h"

namespace clipvane::service {

ScopedTransaction::ScopedTransaction(SqlConnection &db, const char *begin)
    : m_db(db)
{
    m_db.exec(begin);
}

ScopedTransaction::~ScopedTransaction()
{
    if (!m_open)
        return;
    try {
        m_db.exec("ROLLBACK");
    } catch (const SqlError &) {
        // The database may have rolled back on its own already (a failed COMMIT, a full disk).
    }
}

void ScopedTransaction::commit()
{
    m_db.exec("COMMIT");
    m_open = false;
}

} // namespace clipvane::service
