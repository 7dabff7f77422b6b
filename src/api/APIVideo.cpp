#include "APIVideo.h"

#include "JsonRead.h"

namespace clipvane {

std::optional<APIVideo> APIVideo::fromJson(const QJsonObject &object)
{
    // The identity of a record: without it nothing can be merged, so the record is dropped.
    // An empty text counts as missing, since no video can be stored or played under it.
    const QJsonValue identity = object.value(QLatin1String("youtube_id"));
    if (!identity.isString() || identity.toString().isEmpty())
        return std::nullopt;

    APIVideo video;
    video.id = JsonRead::toInt64(object.value(QLatin1String("id")));
    video.youtubeID = identity.toString();
    video.title = JsonRead::text(object.value(QLatin1String("title")));
    video.url = JsonRead::text(object.value(QLatin1String("url")));
    video.uploadDate = JsonRead::text(object.value(QLatin1String("upload_date")));
    video.duration = JsonRead::text(object.value(QLatin1String("duration")));
    video.excluded = JsonRead::flag(object.value(QLatin1String("excluded")));
    video.deleted = JsonRead::flag(object.value(QLatin1String("deleted")));
    video.source = JsonRead::text(object.value(QLatin1String("source")));
    video.createdAt = JsonRead::toInt64(object.value(QLatin1String("created_at")));
    video.updatedAt = JsonRead::toInt64(object.value(QLatin1String("updated_at")));
    video.ownerEmail = JsonRead::text(object.value(QLatin1String("owner_email")));
    video.readOnly = JsonRead::flag(object.value(QLatin1String("read_only")));
    video.watched = JsonRead::flag(object.value(QLatin1String("watched")));
    // A position nobody could resume at means nothing: the video plays from the start.
    const qint64 position = JsonRead::toInt64(object.value(QLatin1String("position")));
    video.position = position >= 0 && position <= kMaxVideoPosition ? int(position) : 0;
    return video;
}

QString APIVideo::boundBroken() const
{
    const std::pair<const QString &, qsizetype> bounds[] = {
        {youtubeID, kMaxVideoIDLength}, {title, kMaxTitle},   {url, kMaxUrl},         {uploadDate, kMaxDetail},
        {duration, kMaxDetail},         {source, kMaxSource}, {ownerEmail, kMaxEmail}};
    const char *const names[] = {"video ID", "title", "link", "upload date", "length", "source", "owner's address"};
    for (std::size_t i = 0; i < std::size(bounds); ++i) {
        if (bounds[i].first.size() > bounds[i].second)
            return QStringLiteral("a video's %1 is longer than %2 characters")
                .arg(QLatin1String(names[i]))
                .arg(bounds[i].second);
    }
    return {};
}

} // namespace clipvane
