#pragma once

#include <QStringView>
#include <algorithm>
#include <iterator>

namespace clipvane {

// The service gives links that are not YouTube videos IDs that begin with this; the application
// never makes one. Such a record has no thumbnail and is never loaded into the player.
inline constexpr char16_t kForeignIDPrefix[] = u"x-";

// True for an ID the service gave a link that is not a YouTube video. Compared unit by unit in
// place: the list asks it of every visible row when it is rebuilt.
inline bool isForeignID(QStringView id)
{
    constexpr qsizetype length = std::size(kForeignIDPrefix) - 1; // without the terminating zero
    return id.size() >= length && std::equal(kForeignIDPrefix, kForeignIDPrefix + length, id.begin());
}

} // namespace clipvane
