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
    video.watched = server.watched;
    video.position = server.position;
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

VideoChange changeToPush(const Video &video)
{
    VideoChange change;
    change.youtubeID = video.youtubeID;
    const int fields = video.pendingFields();
    if (fields & Video::detailsChanged) {
        change.title = video.title;
        change.uploadDate = video.uploadDate;
        change.duration = video.duration;
        change.excluded = video.excluded;
    }
    if (fields & Video::watchedChanged)
        change.watched = video.watched;
    if (fields & Video::positionChanged)
        change.position = video.position;
    return change;
}

void dropDelivered(const VideoChange &sent, Video &video)
{
    int fields = video.pendingFields();
    if (sent.title && *sent.title == video.title && *sent.uploadDate == video.uploadDate &&
        *sent.duration == video.duration && *sent.excluded == video.excluded)
        fields &= ~Video::detailsChanged;
    if (sent.watched && *sent.watched == video.watched)
        fields &= ~Video::watchedChanged;
    if (sent.position && *sent.position == video.position)
        fields &= ~Video::positionChanged;
    // Something changed meanwhile, so a group is left; were none, the details would be implied.
    if (fields != 0)
        video.changedFields = fields;
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
    const int changed = mine.changedFields;
    if (titleEdited)
        video.title = mine.title;
    if (dateEdited)
        video.uploadDate = mine.uploadDate;
    if (durationEdited)
        video.duration = mine.duration;
    if (excludedEdited)
        video.excluded = mine.excluded;
    if (changed & Video::watchedChanged)
        video.watched = mine.watched;
    if (changed & Video::positionChanged)
        video.position = mine.position;
    int differs = 0;
    if (video.title != server.title || video.uploadDate != server.uploadDate || video.duration != server.duration ||
        video.excluded != server.excluded)
        differs |= Video::detailsChanged;
    if (video.watched != server.watched)
        differs |= Video::watchedChanged;
    if (video.position != server.position)
        differs |= Video::positionChanged;
    if (differs != 0) {
        video.syncStateRaw = SyncStateRaw::needsPatch;
        video.changedFields = differs;
    }
}

} // namespace clipvane::RecordRules
