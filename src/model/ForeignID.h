#pragma once

#include <QStringView>

namespace clipvane {

// The service gives links that are not YouTube videos IDs that begin with this; the application
// never makes one. Such a record has no thumbnail and is never loaded into the player.
inline constexpr char16_t kForeignIDPrefix[] = u"x-";

// True for an ID the service gave a link that is not a YouTube video.
inline bool isForeignID(QStringView id)
{
    return id.startsWith(QStringView(kForeignIDPrefix));
}

} // namespace clipvane
