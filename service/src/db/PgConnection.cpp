#include "db/PgConnection.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace clipvane::service {

namespace {

class PgCursor : public SqlStatement::Cursor
{
public:
    PgCursor(PgConnection &connection, const std::string &name, int parameters)
        : m_connection(connection)
        , m_name(name)
        , m_values(size_t(parameters))
        , m_isNull(size_t(parameters), true)
        , m_binary(size_t(parameters), 0)
    {}
    ~PgCursor() override { PQclear(m_result); }

    void bind(int index, qint64 value) override { set(index, std::to_string(value), false); }
    void bindText(int index, const QByteArray &utf8) override { set(index, utf8.toStdString(), false); }
    void bindBlob(int index, const QByteArray &blob) override { set(index, blob.toStdString(), true); }

    bool step() override
    {
        if (!m_result)
            execute();
        return ++m_row < PQntuples(m_result);
    }
    qint64 int64(int column) const override
    {
        const char *value = PQgetvalue(m_result, m_row, column);
        // Booleans come as t and f; every other integer as its decimal digits.
        if (value[0] == 't')
            return 1;
        if (value[0] == 'f')
            return 0;
        return std::strtoll(value, nullptr, 10);
    }
    std::string_view utf8(int column) const override
    {
        return std::string_view(PQgetvalue(m_result, m_row, column), size_t(PQgetlength(m_result, m_row, column)));
    }
    QByteArray blob(int column) const override
    {
        size_t length = 0;
        unsigned char *bytes =
            PQunescapeBytea(reinterpret_cast<const unsigned char *>(PQgetvalue(m_result, m_row, column)), &length);
        if (!bytes)
            throw SqlError("out of memory reading a blob");
        QByteArray blob(reinterpret_cast<const char *>(bytes), qsizetype(length));
        PQfreemem(bytes);
        return blob;
    }
    bool isNull(int column) const override { return PQgetisnull(m_result, m_row, column) != 0; }

private:
    void set(int index, std::string value, bool binary)
    {
        if (index < 1 || size_t(index) > m_values.size())
            throw SqlError("bind: no parameter " + std::to_string(index));
        m_values[size_t(index - 1)] = std::move(value);
        m_isNull[size_t(index - 1)] = false;
        m_binary[size_t(index - 1)] = binary ? 1 : 0;
    }

    void execute()
    {
        std::vector<const char *> values(m_values.size());
        std::vector<int> lengths(m_values.size());
        for (size_t i = 0; i < m_values.size(); ++i) {
            values[i] = m_isNull[i] ? nullptr : m_values[i].data();
            lengths[i] = int(m_values[i].size());
        }
        m_result = m_connection.checked(PQexecPrepared(m_connection.handle(), m_name.c_str(), int(values.size()),
                                                       values.data(), lengths.data(), m_binary.data(), 0),
                                        "step");
        const char *changed = PQcmdTuples(m_result);
        m_connection.setChanges(changed && *changed ? std::strtoll(changed, nullptr, 10) : 0);
    }

    PgConnection &m_connection;
    const std::string &m_name;
    std::vector<std::string> m_values;
    std::vector<bool> m_isNull;
    std::vector<int> m_binary;
    PGresult *m_result = nullptr;
    int m_row = -1;
};

} // namespace

PgConnection::PgConnection(const std::string &conninfo)
    : m_conn(PQconnectdb(conninfo.c_str()))
{
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
        const std::string message = m_conn ? PQerrorMessage(m_conn) : "out of memory";
        PQfinish(m_conn);
        m_conn = nullptr;
        throw SqlError("cannot connect to PostgreSQL: " + message);
    }
    exec("SET client_min_messages = warning");
}

PgConnection::~PgConnection()
{
    PQfinish(m_conn);
}

bool PgConnection::usable() const
{
    return PQstatus(m_conn) == CONNECTION_OK;
}

bool PgConnection::inTransaction() const
{
    const PGTransactionStatusType status = PQtransactionStatus(m_conn);
    return status == PQTRANS_INTRANS || status == PQTRANS_INERROR || status == PQTRANS_ACTIVE;
}

pg_result *PgConnection::checked(pg_result *result, const char *what)
{
    const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
        return result;
    const char *field = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const std::string state = field ? field : "";
    const std::string message = std::string(what) + ": " + PQerrorMessage(m_conn);
    PQclear(result);
    // 40001 serialization failure, 40P01 deadlock: the transaction lost a race and left nothing.
    // 23505 unique violation: every write runs serializable, so a key it did not see is one a
    // concurrent transaction committed meanwhile (two devices adding one link at once); run
    // again, the write finds that row and merges into it.
    if (state == "40001" || state == "40P01" || state == "23505")
        throw SqlConflict(message);
    throw SqlError(message);
}

qint64 PgConnection::work()
{
    // The transaction's own counters, kept by this backend until it ends: the tuples every
    // table and index of the service's schema handed out.
    auto rows = prepare("SELECT coalesce(sum(pg_stat_get_xact_tuples_returned(c.oid) + "
                        "pg_stat_get_xact_tuples_fetched(c.oid)), 0) FROM pg_class c "
                        "WHERE c.relnamespace = (SELECT oid FROM pg_namespace WHERE nspname = current_schema())");
    return rows.step() ? rows.int64(0) : 0;
}

void PgConnection::exec(const char *sql)
{
    PQclear(checked(PQexec(m_conn, sql), "exec"));
}

std::string PgConnection::translated(const char *sql, int *parameters)
{
    std::string out;
    out.reserve(std::strlen(sql));
    *parameters = 0;
    for (const char *p = sql; *p; ++p) {
        if (*p != '?') {
            out += *p;
            continue;
        }
        out += '$';
        int number = 0;
        while (p[1] >= '0' && p[1] <= '9')
            number = number * 10 + (*++p - '0');
        out += std::to_string(number);
        *parameters = std::max(*parameters, number);
    }
    return out;
}

SqlStatement PgConnection::prepare(const char *sql)
{
    auto it = m_statements.find(sql);
    if (it == m_statements.end()) {
        Prepared prepared;
        prepared.name = "s";
        prepared.name += std::to_string(m_statements.size());
        const std::string text = translated(sql, &prepared.parameters);
        PQclear(checked(PQprepare(m_conn, prepared.name.c_str(), text.c_str(), 0, nullptr), "prepare"));
        it = m_statements.emplace(sql, std::move(prepared)).first;
    }
    return SqlStatement(std::make_unique<PgCursor>(*this, it->second.name, it->second.parameters));
}

} // namespace clipvane::service
