#pragma once

#include "SortMode.h"

#include <QDateTime>
#include <QSet>
#include <QString>

namespace clipvane {

// Everything the visible list depends on. The list is computed again exactly when this value
// changes: a filter field, the number of records, the end of a sync, a saved edit of details.
// Other changes inside records show in the rows at once but move no row until then.
struct ListInputs
{
    QString search;
    QString year;
    SortMode sort = SortMode::newest;
    bool showExcluded = false;
    bool hideWatched = false;
    QSet<QString> hiddenOwners;
    qsizetype count = 0;
    QDateTime lastSync;
    int localEdit = 0;

    bool operator==(const ListInputs &) const = default;
    // The same rows chosen in the same order (only the records may differ).
    bool sameFilter(const ListInputs &other) const
    {
        return search == other.search && year == other.year && sort == other.sort &&
               showExcluded == other.showExcluded && hideWatched == other.hideWatched &&
               hiddenOwners == other.hiddenOwners;
    }
};

} // namespace clipvane
