#pragma once

#include <QJsonObject>
#include <QString>

namespace clipvane::service {

// One video as a user sees it: the user's own copy, the standing copy of a shared library,
// or a deletion record. This is the record the API sends.
struct FeedRow
{
    qint64 id = 0;
    QString youtubeId;
    QString title;
    QString url;
    QString uploadDate;
    QString duration;
    bool excluded = false;
    QString source;
    qint64 createdAt = 0;
    qint64 updatedAt = 0;
    QString ownerEmail;
    bool readOnly = false;
    bool deleted = false;

    // Flags go out as the integers 0 and 1, times as whole milliseconds.
    QJsonObject toJson() const;
};

} // namespace clipvane::service
