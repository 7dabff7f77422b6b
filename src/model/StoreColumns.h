#pragma once

#include "Video.h"

#include <cstddef>
#include <tuple>
#include <utility>

namespace clipvane {

// The columns of the table of videos, each with the field of Video it holds, in the order the
// store's statements name, bind and read them. StoreSchema builds the statements from this
// table and VideoStore reads and writes records through it, so a new column is one line here
// (and the step in StoreSchema that adds it to older files).
namespace StoreColumns {

template<typename Field> struct Column
{
    const char *name;
    Field Video::*field;
    // The library version that added the column; a file of an older version reads
    // `absent` (an SQL literal: the column's default) in its place.
    int since = 1;
    const char *absent = nullptr;
    // A text of few distinct values: loaded records share one copy of each, so a large
    // library holds each date, length, source, state and owner once.
    bool shared = false;
};

// The first column keys a row.
inline constexpr auto kAll = std::tuple{
    Column<QString>{.name = "youtube_id", .field = &Video::youtubeID},
    Column<QString>{.name = "title", .field = &Video::title},
    Column<QString>{.name = "url", .field = &Video::url},
    Column<QString>{.name = "upload_date", .field = &Video::uploadDate, .shared = true},
    Column<QString>{.name = "duration", .field = &Video::duration, .shared = true},
    Column<bool>{.name = "excluded", .field = &Video::excluded},
    Column<QString>{.name = "source", .field = &Video::source, .shared = true},
    Column<qint64>{.name = "created_at", .field = &Video::createdAt},
    Column<qint64>{.name = "updated_at", .field = &Video::updatedAt},
    Column<QString>{.name = "sync_state", .field = &Video::syncStateRaw, .shared = true},
    Column<QString>{.name = "owner_email", .field = &Video::ownerEmail, .since = 2, .absent = "''", .shared = true},
    Column<bool>{.name = "read_only", .field = &Video::readOnly, .since = 2, .absent = "0"},
    Column<bool>{.name = "watched", .field = &Video::watched, .since = 4, .absent = "0"},
    Column<int>{.name = "position", .field = &Video::position, .since = 4, .absent = "0"},
    Column<int>{.name = "changed_fields", .field = &Video::changedFields, .since = 4, .absent = "0"},
    Column<bool>{.name = "add_sent", .field = &Video::addSent, .since = 4, .absent = "0"},
};
inline constexpr int kCount = int(std::tuple_size_v<decltype(kAll)>);

// Calls visit(column, index) for every column in order, the index counting from 0. Unrolled
// at compile time: a row read through the table costs what a row read by hand does.
template<typename Visit> void forEach(Visit &&visit)
{
    [&]<std::size_t... I>(std::index_sequence<I...>)
    {
        (visit(std::get<I>(kAll), int(I)), ...);
    }
    (std::make_index_sequence<std::size_t(kCount)>{});
}

} // namespace StoreColumns

} // namespace clipvane
