#pragma once

#include "db/SqlConnection.h"

namespace clipvane::service {

// A transaction on one connection that rolls back unless committed, so a schema step that
// throws half way leaves the database as the step found it.
class ScopedTransaction
{
public:
    // begin: the statement that opens the transaction ("BEGIN IMMEDIATE" takes SQLite's write
    // lock at once). Throws SqlError.
    explicit ScopedTransaction(SqlConnection &db, const char *begin = "BEGIN");
    ~ScopedTransaction(); // rolls back unless committed
    ScopedTransaction(const ScopedTransaction &) = delete;
    ScopedTransaction &operator=(const ScopedTransaction &) = delete;

    // Throws SqlError; the transaction is rolled back at the end of the scope then.
    void commit();

private:
    SqlConnection &m_db;
    bool m_open = true;
};

} // namespace clipvane::service
