#pragma once

#include "VideoLimits.h"

#include <QJsonObject>
#include <QString>
#include <optional>

namespace clipvane {

// One video as the service reports it.
struct APIVideo
{
    qint64 id = 0; // the server's row number; paging tie-break only
    QString youtubeID;
    QString title;
    QString url;
    QString uploadDate;
    QString duration;
    bool excluded = false;
    bool deleted = false; // a deletion record
    QString source;
    qint64 createdAt = 0;
    qint64 updatedAt = 0;
    QString ownerEmail;
    bool readOnly = false;
    bool watched = false;
    int position = 0; // whole seconds; a service without it, or a value beyond the bounds, reads 0

    // The service's own bounds on the texts it keeps, in UTF-16 units as it counts them; the
    // video ID's is kMaxVideoIDLength. A record beyond them did not come from the service.
    static constexpr qsizetype kMaxTitle = kMaxVideoTitleLength;
    static constexpr qsizetype kMaxUrl = kMaxVideoUrlLength;
    static constexpr qsizetype kMaxDetail = kMaxVideoDetailLength; // upload date and length
    static constexpr qsizetype kMaxEmail = 320;                    // the longest address the service takes in
    static constexpr qsizetype kMaxSource = 64;                    // the service names a source in a word ("app")
    // The most bytes one record can take in a compact reply: every text at its bound, each
    // unit escaped as \uXXXX, plus the keys and numbers.
    static constexpr qint64 kMaxJsonBytes =
        6 * (kMaxTitle + kMaxUrl + 2 * kMaxDetail + kMaxEmail + kMaxSource + 256) + 1024;

    // None when "youtube_id" is missing or not a string; other fields read tolerantly.
    static std::optional<APIVideo> fromJson(const QJsonObject &object);
    // The first text beyond the service's bounds, named for the user; empty when all keep them.
    QString boundBroken() const;

    bool operator==(const APIVideo &) const = default;
};

} // namespace clipvane
