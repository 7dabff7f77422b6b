#pragma once

namespace clipvane {

class SqliteDatabase;

// A write transaction that rolls back unless commit() succeeded, so a failure half-way
// never leaves part of a write behind. It takes the write lock at once (BEGIN IMMEDIATE),
// so a second writer makes it fail at the start rather than in the middle.
class SqliteTransaction
{
public:
    explicit SqliteTransaction(SqliteDatabase &database);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction &) = delete;
    SqliteTransaction &operator=(const SqliteTransaction &) = delete;

    bool isActive() const { return m_active; }
    bool commit();

private:
    SqliteDatabase &m_database;
    bool m_active = false;
};

} // namespace clipvane
