#pragma once

#include <QString>
#include <optional>

namespace clipvane {

class SqliteDatabase;

// The layout of the library file and the steps that bring a file of an older version up to
// date. The version lives in PRAGMA user_version; 0 is a file without any table yet.
class StoreSchema
{
public:
    static constexpr int kCurrentVersion = 4;

    // Reads the file's version and checks that its table has the shape of that version,
    // without writing anything. nullopt and an explanation when the file is unusable.
    static std::optional<int> inspect(SqliteDatabase &database, QString *error);

    // Applies every step from `version` to the current one, each in its own transaction, so
    // an interrupted upgrade leaves the file at the last complete version.
    static bool migrate(SqliteDatabase &database, int version, QString *error);

    // The rows whose id lies between the bounds ?1 and ?2 (inclusive), oldest first, with the
    // columns of StoreColumns in its order; a file of an older version reads the schema
    // defaults for the columns it lacks.
    static const char *selectAll(int version);
    // Writes a record: ?1… are the columns of StoreColumns in its order.
    static const char *upsert();
    static const char *remove();
    // Reads (?1 the key) and writes (?1 key, ?2 value) the facts about the file.
    static const char *selectMeta();
    static const char *upsertMeta();
};

} // namespace clipvane
