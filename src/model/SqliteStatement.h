#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

struct sqlite3;
struct sqlite3_stmt;

namespace clipvane {

// One prepared statement, finalised with the object. Binding indexes start at 1, column
// indexes at 0, as in SQLite.
class SqliteStatement
{
public:
    SqliteStatement(sqlite3 *db, const char *sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement &) = delete;
    SqliteStatement &operator=(const SqliteStatement &) = delete;

    bool isValid() const { return m_statement != nullptr; }

    void bind(int index, const QString &text);
    void bind(int index, qint64 value);

    // Steps once: true while a row is available. After false, succeeded() tells whether the
    // statement ran to its end or stopped with an error.
    bool next();
    bool succeeded() const { return m_done; }
    // Runs a statement without result rows to its end and makes it ready for the next run.
    bool run();
    void reset();

    // What SQLite has done for this statement since it was prepared, as SQLite counts it.
    struct Work
    {
        qint64 steps = 0;         // virtual-machine operations
        qint64 fullScanSteps = 0; // rows stepped over by full table scans
        qint64 sorts = 0;
    };
    Work work() const;

    QByteArrayView utf8(int column) const;
    QString text(int column) const;
    qint64 integer(int column) const;

private:
    sqlite3_stmt *m_statement = nullptr;
    bool m_done = false;
    // The UTF-8 of each bound text, kept until the next bind of that parameter, so SQLite reads
    // it in place: a row costs no allocation per text.
    QList<QByteArray> m_texts;
};

} // namespace clipvane
