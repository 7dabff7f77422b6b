#include "db/DatabaseCopy.h"

#include "db/Storage.h"

#include <vector>

namespace clipvane::service {

namespace {

// The type of each column, as the statements carry it.
enum Kind : char { I = 'i', T = 't', B = 'b' };

struct Table
{
    const char *select;
    const char *insert;
    const char *kinds;
};

// Parents before children, so every reference finds its row.
constexpr Table kTables[] = {
    {"SELECT id, email, created_at, family_rev FROM users ORDER BY id",
     "INSERT INTO users (id, email, created_at, family_rev) VALUES (?1, ?2, ?3, ?4)", "itii"},
    {"SELECT hash, user_id, created_at FROM tokens ORDER BY user_id",
     "INSERT INTO tokens (hash, user_id, created_at) VALUES (?1, ?2, ?3)", "bii"},
    {"SELECT id, user_id, youtube_id, title, url, upload_date, duration, excluded, source, created_at, updated_at, "
     "deleted, title_from_user, meta_pending, meta_attempts, meta_next_at FROM videos ORDER BY id",
     "INSERT INTO videos (id, user_id, youtube_id, title, url, upload_date, duration, excluded, source, created_at, "
     "updated_at, deleted, title_from_user, meta_pending, meta_attempts, meta_next_at) "
     "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15, ?16)",
     "iitttttitiiiiiii"},
    {"SELECT owner_id, member_email, created_at FROM family ORDER BY owner_id, member_email",
     "INSERT INTO family (owner_id, member_email, created_at) VALUES (?1, ?2, ?3)", "iti"},
    {"SELECT member_email, owner_email, created_at FROM family_blocks ORDER BY member_email, owner_email",
     "INSERT INTO family_blocks (member_email, owner_email, created_at) VALUES (?1, ?2, ?3)", "tti"},
    {"SELECT id, user_id, youtube_id, owner_id, owner_email, title, url, upload_date, duration, excluded, source, "
     "created_at, read_only, deleted, updated_at FROM feed ORDER BY id",
     "INSERT INTO feed (id, user_id, youtube_id, owner_id, owner_email, title, url, upload_date, duration, excluded, "
     "source, created_at, read_only, deleted, updated_at) "
     "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, ?15)",
     "iititttttitiiii"},
    {"SELECT code, user_id, expires_at FROM telegram_codes ORDER BY code",
     "INSERT INTO telegram_codes (code, user_id, expires_at) VALUES (?1, ?2, ?3)", "tii"},
    {"SELECT chat_id, user_id, linked_at FROM telegram_chats ORDER BY chat_id",
     "INSERT INTO telegram_chats (chat_id, user_id, linked_at) VALUES (?1, ?2, ?3)", "iii"},
};

struct Value
{
    qint64 number = 0;
    QString text;
    QByteArray blob;
};

} // namespace

qint64 DatabaseCopy::run(Storage &from, Storage &to)
{
    // The snapshot: every table and the clock as of one moment.
    std::vector<std::vector<std::vector<Value>>> tables;
    qint64 clock = 0;
    from.read([&](SqlConnection &db) {
        for (const Table &table : kTables) {
            auto &rows = tables.emplace_back();
            auto select = db.prepare(table.select);
            const int columns = int(std::char_traits<char>::length(table.kinds));
            while (select.step()) {
                auto &row = rows.emplace_back(size_t(columns));
                for (int c = 0; c < columns; ++c) {
                    switch (table.kinds[c]) {
                    case I:
                        row[size_t(c)].number = select.int64(c);
                        break;
                    case T:
                        row[size_t(c)].text = select.text(c);
                        break;
                    default:
                        row[size_t(c)].blob = select.blob(c);
                        break;
                    }
                }
            }
        }
        clock = from.readNow(db);
    });

    return to.write([&](WriteTransaction &tx) {
        auto users = tx.db.prepare("SELECT count(*) FROM users");
        if (users.step() && users.int64(0) != 0)
            throw SqlError("the destination already holds accounts; copy only into an empty database");
        qint64 copied = 0;
        for (size_t t = 0; t < std::size(kTables); ++t) {
            const Table &table = kTables[t];
            for (const auto &row : tables[t]) {
                auto insert = tx.db.prepare(table.insert);
                for (size_t c = 0; c < row.size(); ++c) {
                    const int index = int(c) + 1;
                    switch (table.kinds[c]) {
                    case I:
                        insert.bind(index, row[c].number);
                        break;
                    case T:
                        insert.bind(index, row[c].text);
                        break;
                    default:
                        insert.bind(index, row[c].blob);
                        break;
                    }
                }
                insert.run();
                ++copied;
            }
        }
        // Every later stamp lies above every copied one, as it would have on the source.
        tx.db.prepare("UPDATE meta SET value = ?1 WHERE key = 'clock' AND value < ?1").bind(1, clock).run();
        to.continueIdentities(tx.db);
        return copied;
    });
}

} // namespace clipvane::service
