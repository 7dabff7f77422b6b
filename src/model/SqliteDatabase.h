#pragma once

#include <QString>
#include <optional>

struct sqlite3;

namespace clipvane {

// One open SQLite connection, closed with the object.
class SqliteDatabase
{
public:
    SqliteDatabase() = default;
    ~SqliteDatabase();
    SqliteDatabase(const SqliteDatabase &) = delete;
    SqliteDatabase &operator=(const SqliteDatabase &) = delete;

    // Opens the file read-write; only `create` lets SQLite make a missing file.
    bool open(const QString &path, bool create);
    void close();
    bool isOpen() const { return m_db != nullptr; }
    sqlite3 *handle() const { return m_db; }

    // Runs statements that return no rows.
    bool execute(const char *sql);
    // A one-row, one-column integer query (a pragma, a count); nullopt on failure.
    std::optional<qint64> integer(const char *sql);

    // The last error of this connection, in SQLite's words.
    QString errorText() const;

private:
    sqlite3 *m_db = nullptr;
    QString m_error; // a failure the connection itself no longer reports
};

} // namespace clipvane
