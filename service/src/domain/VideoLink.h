#pragma once

#include <QString>

#include <optional>

namespace clipvane::service {

// A link the library accepts, with the ID that keys it and the address kept for it.
struct VideoLink
{
    QString youtubeId;
    QString url;
    bool youtube = false;

    // The title a video carries until its metadata arrives: never empty.
    QString fallbackTitle() const;

    // A text holding a YouTube link (anywhere in it), or a text that is one http(s) link;
    // the latter gets the ID "x-" + the first 10 hex digits of the link's SHA-256. None for a
    // YouTube link whose ID is no video ID (see isVideoID): it could never be changed.
    static std::optional<VideoLink> fromText(const QString &text);
    // The first link in a chat message: a YouTube link anywhere, else the first word that
    // is an http(s) link.
    static std::optional<VideoLink> fromMessage(const QString &text);
};

} // namespace clipvane::service
