#include "VideoChange.h"

namespace clipvane {

QJsonObject VideoChange::toJson() const
{
    QJsonObject body{{QStringLiteral("youtube_id"), youtubeID}};
    if (title)
        body.insert(QStringLiteral("title"), *title);
    if (uploadDate)
        body.insert(QStringLiteral("upload_date"), *uploadDate);
    if (duration)
        body.insert(QStringLiteral("duration"), *duration);
    // The flags go as the numbers 1 or 0, which is what the service stores.
    if (excluded)
        body.insert(QStringLiteral("excluded"), *excluded ? 1 : 0);
    if (watched)
        body.insert(QStringLiteral("watched"), *watched ? 1 : 0);
    if (position)
        body.insert(QStringLiteral("position"), *position);
    return body;
}

} // namespace clipvane
