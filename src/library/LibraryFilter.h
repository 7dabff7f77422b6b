#pragma once

#include "SortMode.h"

#include <QList>
#include <QSet>
#include <QString>

namespace clipvane {

class Video;

// What the library list shows: a plain value, copied, never shared.
struct LibraryFilter
{
    QString search{}; // what the user typed; empty: no search
    QString year{};   // a year text such as "2021"; empty: every year
    SortMode sort = SortMode::newest;
    bool showExcluded = false;    // false: only records not excluded; true: only excluded ones
    bool hideWatched = false;     // true: records marked watched are left out
    QSet<QString> hiddenOwners{}; // owners whose shared records are hidden

    // The visible list: records in the order the store gave them, filtered and sorted. Pure:
    // reads the records, changes nothing, keeps nothing. The result holds the same pointers.
    // Null pointers are skipped.
    QList<const Video *> apply(const QList<const Video *> &records) const;

    bool operator==(const LibraryFilter &) const = default;
};

} // namespace clipvane
