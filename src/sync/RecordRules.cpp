#include "RecordRules.h"

#include "APIVideo.h"
#include "Video.h"

#include <QDateTime>
#include <QTimeZone>

namespace clipvane::RecordRules {

namespace {

// The date a local add writes: the UTC day of its creation.
QString dayAdded(const Video &video)
{
    return QDateTime::fromMSecsSinceEpoch(video.createdAt, QTimeZone::utc()).date().toString(Qt::ISODate);
}

} // namespace

Video videoFromServer(const APIVideo &server)
{
    Video video(server.youtubeID, server.title, server.url, server.uploadDate, server.duration, server.excluded,
                server.source, server.createdAt, server.updatedAt, SyncStateRaw::synced);
    video.ownerEmail = server.ownerEmail;
    video.readOnly = server.readOnly;
    return video;
}

bool applyServerVideo(const APIVideo &server, Video &video)
{
    Video updated = videoFromServer(server);
    updated.youtubeID = video.youtubeID;
    if (updated == video)
        return false;
    video = std::move(updated);
    return true;
}

PushedFields PushedFields::of(const Video &video)
{
    return {video.title, video.uploadDate, video.duration, video.excluded};
}

QString titleToSend(const Video &video)
{
    return video.title == kPlaceholderTitle ? QString() : video.title;
}

void completeAdd(const APIVideo &server, Video &video)
{
    const Video mine = video;
    applyServerVideo(server, video);
    const bool titleEdited = mine.title != kPlaceholderTitle;
    const bool dateEdited = mine.uploadDate != dayAdded(mine);
    const bool durationEdited = !mine.duration.isEmpty();
    const bool excludedEdited = mine.excluded;
    if (titleEdited)
        video.title = mine.title;
    if (dateEdited)
        video.uploadDate = mine.uploadDate;
    if (durationEdited)
        video.duration = mine.duration;
    if (excludedEdited)
        video.excluded = mine.excluded;
    const PushedFields serverFields{server.title, server.uploadDate, server.duration, server.excluded};
    if (PushedFields::of(video) != serverFields)
        video.syncStateRaw = SyncStateRaw::needsPatch;
}

} // namespace clipvane::RecordRules
