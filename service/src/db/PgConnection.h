#pragma once

#include "db/SqlConnection.h"

#include <string>
#include <unordered_map>

struct pg_conn;
struct pg_result;

namespace clipvane::service {

// A connection to a PostgreSQL database through libpq, with a cache of prepared statements.
// The service's ?N parameters become $N; integers and text travel as text, blobs as bytes.
class PgConnection : public SqlConnection
{
public:
    // conninfo: a postgresql:// URL or key=value pairs; the PG* environment fills in the rest.
    explicit PgConnection(const std::string &conninfo);
    ~PgConnection() override;
    PgConnection(const PgConnection &) = delete;
    PgConnection &operator=(const PgConnection &) = delete;

    void exec(const char *sql) override;
    SqlStatement prepare(const char *sql) override;
    qint64 changes() const override { return m_changes; }
    qint64 work() override;

    // False once the server is gone: the connection is then thrown away, never pooled again.
    bool usable() const;
    // Inside a transaction (an aborted one included).
    bool inTransaction() const;
    pg_conn *handle() const { return m_conn; }

    // Throws the error a finished result carries (a conflict when running again may help);
    // returns the result otherwise.
    pg_result *checked(pg_result *result, const char *what);
    void setChanges(qint64 changes) { m_changes = changes; }

    // The SQL with ?N written as $N, and the highest N.
    static std::string translated(const char *sql, int *parameters);

private:
    struct Prepared
    {
        std::string name;
        int parameters = 0;
    };

    pg_conn *m_conn = nullptr;
    std::unordered_map<const char *, Prepared> m_statements;
    qint64 m_changes = 0;
};

} // namespace clipvane::service
