#include "StoreSchema.h"

#include "SqliteDatabase.h"
#include "SqliteStatement.h"
#include "SqliteTransaction.h"
#include "StoreColumns.h"

#include <QByteArrayList>
#include <QSet>
#include <QStringList>
#include <algorithm>
#include <array>

namespace clipvane {

namespace {

// Each step turns a file of version (index) into one of version (index + 1).
constexpr std::array<const char *, StoreSchema::kCurrentVersion> kSteps = {
    "CREATE TABLE videos ("
    " id INTEGER PRIMARY KEY,"
    " youtube_id TEXT NOT NULL UNIQUE,"
    " title TEXT NOT NULL,"
    " url TEXT NOT NULL,"
    " upload_date TEXT NOT NULL,"
    " duration TEXT NOT NULL,"
    " excluded INTEGER NOT NULL,"
    " source TEXT NOT NULL,"
    " created_at INTEGER NOT NULL,"
    " updated_at INTEGER NOT NULL,"
    " sync_state TEXT NOT NULL)",

    "ALTER TABLE videos ADD COLUMN owner_email TEXT NOT NULL DEFAULT '';"
    "ALTER TABLE videos ADD COLUMN read_only INTEGER NOT NULL DEFAULT 0",

    // Facts about the file itself. Its generation names this very file: a file made anew, or
    // put in its place, has another, so the pull cursor of the old one is never taken for it.
    "CREATE TABLE store_meta (key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
    "INSERT INTO store_meta (key, value) VALUES ('generation', lower(hex(randomblob(16))))",

    // The person's viewing of each video, which fields a pending change changed (none
    // recorded reads as the details; see Video::pendingFields), and whether an add may have
    // reached the service.
    "ALTER TABLE videos ADD COLUMN watched INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE videos ADD COLUMN position INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE videos ADD COLUMN changed_fields INTEGER NOT NULL DEFAULT 0;"
    "ALTER TABLE videos ADD COLUMN add_sent INTEGER NOT NULL DEFAULT 0",
};

QStringList columnsOfVersion(int version)
{
    QStringList columns = {u"id"_qs};
    StoreColumns::forEach([&](const auto &column, int) {
        if (column.since <= version)
            columns.append(QString::fromLatin1(column.name));
    });
    return columns;
}

bool describe(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

} // namespace

std::optional<int> StoreSchema::inspect(SqliteDatabase &database, QString *error)
{
    // The first read of the file: a file that is no database fails here, before any write.
    const std::optional<qint64> version = database.integer("PRAGMA user_version");
    if (!version) {
        describe(error, database.errorText());
        return std::nullopt;
    }
    if (*version > kCurrentVersion) {
        describe(error, QStringLiteral("it was written by a newer version of Clipvane (library version %1, this "
                                       "version reads up to %2)")
                            .arg(*version)
                            .arg(kCurrentVersion));
        return std::nullopt;
    }
    if (*version < 0) {
        describe(error, QStringLiteral("it carries an unknown library version (%1)").arg(*version));
        return std::nullopt;
    }

    const std::optional<qint64> objects = database.integer("SELECT count(*) FROM sqlite_master");
    if (!objects) {
        describe(error, database.errorText());
        return std::nullopt;
    }
    if (*version == 0) {
        if (*objects != 0) {
            describe(error, QStringLiteral("it is a database of another program"));
            return std::nullopt;
        }
        return 0;
    }

    QSet<QString> present;
    SqliteStatement columns(database.handle(), "SELECT name FROM pragma_table_info('videos')");
    while (columns.next())
        present.insert(columns.text(0));
    if (!columns.succeeded()) {
        describe(error, database.errorText());
        return std::nullopt;
    }
    if (present.isEmpty()) {
        describe(error, QStringLiteral("it has no table of videos"));
        return std::nullopt;
    }
    for (const QString &column : columnsOfVersion(int(*version))) {
        if (!present.contains(column)) {
            describe(error, QStringLiteral("its table of videos has no column %1").arg(column));
            return std::nullopt;
        }
    }

    // Saving relies on the uniqueness of youtube_id; without it a record could be stored twice.
    const std::optional<qint64> unique =
        database.integer("SELECT count(*) FROM pragma_index_list('videos') AS l WHERE l.\"unique\" = 1"
                         " AND (SELECT group_concat(name) FROM pragma_index_info(l.name)) = 'youtube_id'");
    if (!unique || *unique == 0) {
        describe(error, unique ? QStringLiteral("its video IDs are not kept unique") : database.errorText());
        return std::nullopt;
    }
    if (*version >= 3) {
        const std::optional<qint64> meta =
            database.integer("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'store_meta'");
        if (!meta || *meta == 0) {
            describe(error, meta ? QStringLiteral("it has no table of facts about itself") : database.errorText());
            return std::nullopt;
        }
    }
    return int(*version);
}

bool StoreSchema::migrate(SqliteDatabase &database, int version, QString *error)
{
    for (int step = version; step < kCurrentVersion; ++step) {
        SqliteTransaction transaction(database);
        if (!transaction.isActive())
            return describe(error, database.errorText());
        const QByteArray setVersion = "PRAGMA user_version = " + QByteArray::number(step + 1);
        if (!database.execute(kSteps[std::size_t(step)]) || !database.execute(setVersion.constData()))
            return describe(error, database.errorText());
        if (!transaction.commit())
            return describe(error, database.errorText());
    }
    return true;
}

const char *StoreSchema::selectAll(int version)
{
    // Built once for every version; the loader's second connection asks from its own thread.
    static const std::array<QByteArray, kCurrentVersion + 1> statements = [] {
        std::array<QByteArray, kCurrentVersion + 1> built;
        for (int layout = 0; layout <= kCurrentVersion; ++layout) {
            QByteArrayList values;
            StoreColumns::forEach(
                [&](const auto &column, int) { values.append(column.since <= layout ? column.name : column.absent); });
            built[std::size_t(layout)] =
                "SELECT " + values.join(", ") + " FROM videos WHERE id BETWEEN ?1 AND ?2 ORDER BY id";
        }
        return built;
    }();
    return statements[std::size_t(std::clamp(version, 0, kCurrentVersion))].constData();
}

const char *StoreSchema::upsert()
{
    static const QByteArray statement = [] {
        QByteArrayList names;
        QByteArrayList values;
        QByteArrayList updates;
        StoreColumns::forEach([&](const auto &column, int index) {
            names.append(column.name);
            values.append('?' + QByteArray::number(index + 1));
            // "excluded" is both a column and SQLite's name for the row that lost the
            // conflict; qualified, excluded.excluded is the new value.
            if (index > 0)
                updates.append(QByteArray(column.name) + " = excluded." + column.name);
        });
        return "INSERT INTO videos (" + names.join(", ") + ") VALUES (" + values.join(", ") + ") ON CONFLICT (" +
               names.first() + ") DO UPDATE SET " + updates.join(", ");
    }();
    return statement.constData();
}

const char *StoreSchema::remove()
{
    return "DELETE FROM videos WHERE youtube_id = ?1";
}

const char *StoreSchema::selectMeta()
{
    return "SELECT value FROM store_meta WHERE key = ?1";
}

const char *StoreSchema::upsertMeta()
{
    return "INSERT INTO store_meta (key, value) VALUES (?1, ?2) ON CONFLICT (key) DO UPDATE SET value = excluded.value";
}

} // namespace clipvane
