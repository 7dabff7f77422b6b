#include "AskVideo.h"

#include "JsonRead.h"

#include <QJsonArray>

namespace clipvane {

std::optional<AskVideo> AskVideo::fromJson(const QJsonObject &object)
{
    const QJsonValue title = object.value(QLatin1String("title"));
    const QJsonValue url = object.value(QLatin1String("url"));
    if (!title.isString() || !url.isString())
        return std::nullopt;

    AskVideo video;
    video.title = title.toString();
    video.url = url.toString();
    video.youtubeID = JsonRead::text(object.value(QLatin1String("youtube_id")));
    video.duration = JsonRead::text(object.value(QLatin1String("duration")));
    const int year = JsonRead::toInt(object.value(QLatin1String("year")));
    if (year >= 1)
        video.year = QString::number(year);
    return video;
}

std::optional<AskAnswer> AskAnswer::fromJson(const QJsonObject &object)
{
    const QJsonValue answer = object.value(QLatin1String("answer"));
    if (!answer.isString())
        return std::nullopt;

    AskAnswer result;
    result.answer = answer.toString();
    const QJsonValue videos = object.value(QLatin1String("videos"));
    if (!videos.isArray())
        return result;
    for (const QJsonValue &entry : videos.toArray()) {
        // The list is read only as a whole: a stray non-object makes it no list of videos.
        if (!entry.isObject()) {
            result.videos.clear();
            return result;
        }
        if (auto video = AskVideo::fromJson(entry.toObject()))
            result.videos.append(std::move(*video));
    }
    return result;
}

} // namespace clipvane
