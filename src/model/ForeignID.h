#pragma once

#include <QStringView>
#include <algorithm>

namespace clipvane {

// The service gives links that are not YouTube videos IDs that begin with this; the application
// never makes one. Such a record has no thumbnail and is never loaded into the player.
inline constexpr char16_t kForeignIDPrefix[] = u"x-";

// True for an ID the service gave a link that is not a YouTube video. Compared unit by unit in
// place: the list asks it of every visible row when it is rebuilt.
inline bool isForeignID(QStringView id)
{
    constexpr QStringView prefix(kForeignIDPrefix);
    return id.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), id.begin());
}

} // namespace clipvane
