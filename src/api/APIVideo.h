#pragma once

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

    // None when "youtube_id" is missing or not a string; other fields read tolerantly.
    static std::optional<APIVideo> fromJson(const QJsonObject &object);

    bool operator==(const APIVideo &) const = default;
};

} // namespace clipvane
