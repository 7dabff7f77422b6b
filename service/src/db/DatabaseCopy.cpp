#include "db/DatabaseCopy.h"

#include "db/Storage.h"

#include <string>
#include <vector>

namespace clipvane::service {

namespace {

// The type of each column, as the statements carry it.
enum Kind : char { I = 'i', T = 't', B = 'b' };

struct Table
{
    const char *select; // the columns, the order key's first
    const char *key;    // the order key: the leading columns of select, unique
    int keyColumns;
    const char *insert;
    const char *kinds;
};

// Parents before children, so every reference finds its row.
constexpr Table kTables[] = {
    {"SELECT id, email, created_at, family_rev FROM users", "id", 1,
     "INSERT INTO users (id, email, created_at, family_rev) VALUES (?1, ?2, ?3, ?4)", "itii"},
    {"SELECT hash, user_id, created_at FROM tokens", "hash", 1,
     "INSERT INTO tokens (hash, user_id, created_at) VALUES (?1, ?2, ?3)", "bii"},
    {"SELECT id, user_id, youtube_id, title, url, upload_date, duration, excluded, source, created_at, updated_at, "
     "deleted, title_from_user, meta_pending, meta_attempts, meta_next_at, watched, position FROM videos",
     "id", 1,
     "INSERT INTO videos (id, user_id, youtube_id, title, url, upload_date, duration, excluded, source, created_at, "
     "updated_at, deleted, title_from_user, meta_pending, meta_attempts, meta_next_at, watched, position) "
     "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17, ?18)",
     "iitttttitiiiiiiiii"},
    {"SELECT owner_id, member_email, created_at FROM family", "owner_id, member_email", 2,
     "INSERT INTO family (owner_id, member_email, created_at) VALUES (?1, ?2, ?3)", "iti"},
    {"SELECT member_email, owner_email, created_at FROM family_blocks", "member_email, owner_email", 2,
     "INSERT INTO family_blocks (member_email, owner_email, created_at) VALUES (?1, ?2, ?3)", "tti"},
    {"SELECT id, user_id, youtube_id, owner_id, owner_email, title, url, upload_date, duration, excluded, source, "
     "created_at, read_only, deleted, updated_at, watched, position FROM feed",
     "id", 1,
     "INSERT INTO feed (id, user_id, youtube_id, owner_id, owner_email, title, url, upload_date, duration, excluded, "
     "source, created_at, read_only, deleted, updated_at, watched, position) "
     "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16, ?17)",
     "iititttttitiiiiii"},
    {"SELECT code, user_id, expires_at FROM telegram_codes", "code", 1,
     "INSERT INTO telegram_codes (code, user_id, expires_at) VALUES (?1, ?2, ?3)", "tii"},
    {"SELECT chat_id, user_id, linked_at FROM telegram_chats", "chat_id", 1,
     "INSERT INTO telegram_chats (chat_id, user_id, linked_at) VALUES (?1, ?2, ?3)", "iii"},
};

// Rows read from the source at a time: a PostgreSQL source hands over a statement's rows all
// at once, so each batch is its own statement, resumed after the last key (a seek, not an
// offset), and the copy's memory stays the same whatever the size of the source.
constexpr int kBatchRows = 1000;

// A table's batches: the first, and the one after a key (bound from ?2 on).
struct Batches
{
    std::string first;
    std::string after;
};

const std::vector<Batches> &batches()
{
    static const std::vector<Batches> all = [] {
        std::vector<Batches> made;
        for (const Table &table : kTables) {
            std::string bounds;
            for (int k = 0; k < table.keyColumns; ++k)
                bounds += (k ? ", ?" : "?") + std::to_string(k + 2);
            const std::string order = std::string(" ORDER BY ") + table.key + " LIMIT ?1";
            made.push_back(
                Batches{table.select + order,
                        table.select + (" WHERE (" + std::string(table.key) + ") > (" + bounds + ")") + order});
        }
        return made;
    }();
    return all;
}

void bindColumn(SqlStatement &to, int index, const SqlStatement &from, int column, char kind)
{
    switch (kind) {
    case I:
        to.bind(index, from.int64(column));
        break;
    case T:
        to.bind(index, from.text(column));
        break;
    default:
        to.bind(index, from.blob(column));
        break;
    }
}

struct Value
{
    qint64 number = 0;
    QString text;
    QByteArray blob;
};

// Copies one table batch by batch; the rows copied.
qint64 copyTable(SqlConnection &source, SqlConnection &destination, const Table &table, const Batches &sql)
{
    qint64 copied = 0;
    std::vector<Value> last(size_t(table.keyColumns));
    for (bool first = true;; first = false) {
        auto select = source.prepare(first ? sql.first.c_str() : sql.after.c_str());
        select.bind(1, kBatchRows);
        for (int k = 0; !first && k < table.keyColumns; ++k) {
            const Value &key = last[size_t(k)];
            if (table.kinds[k] == I)
                select.bind(k + 2, key.number);
            else if (table.kinds[k] == T)
                select.bind(k + 2, key.text);
            else
                select.bind(k + 2, key.blob);
        }
        int rows = 0;
        const int columns = int(std::char_traits<char>::length(table.kinds));
        while (select.step()) {
            auto insert = destination.prepare(table.insert);
            for (int c = 0; c < columns; ++c)
                bindColumn(insert, c + 1, select, c, table.kinds[c]);
            insert.run();
            ++rows;
            if (rows == kBatchRows) {
                for (int k = 0; k < table.keyColumns; ++k) {
                    Value &key = last[size_t(k)];
                    if (table.kinds[k] == I)
                        key.number = select.int64(k);
                    else if (table.kinds[k] == T)
                        key.text = select.text(k);
                    else
                        key.blob = select.blob(k);
                }
            }
        }
        copied += rows;
        if (rows < kBatchRows)
            return copied;
    }
}

} // namespace

qint64 DatabaseCopy::run(Storage &from, Storage &to)
{
    // The source is read in one snapshot (every table and the clock as of one moment) and
    // written straight into the destination's one transaction, a batch at a time.
    return from.read([&](SqlConnection &source) {
        const qint64 clock = from.readNow(source);
        return to.write([&](WriteTransaction &tx) {
            auto users = tx.db.prepare("SELECT count(*) FROM users");
            if (users.step() && users.int64(0) != 0)
                throw SqlError("the destination already holds accounts; copy only into an empty database");
            qint64 copied = 0;
            for (size_t t = 0; t < std::size(kTables); ++t)
                copied += copyTable(source, tx.db, kTables[t], batches()[t]);
            // Every later stamp lies above every copied one, as it would have on the source.
            tx.db.prepare("UPDATE meta SET value = ?1 WHERE key = 'clock' AND value < ?1").bind(1, clock).run();
            to.continueIdentities(tx.db);
            return copied;
        });
    });
}

} // namespace clipvane::service
