#pragma once

#include "VideoChange.h"

#include <QString>

namespace clipvane {

struct APIVideo;
class Video;

// How the server's copy of a video and the user's pending changes meet in a stored record.
namespace RecordRules {

// The title a locally added video shows until the server has answered its add.
inline const QString kPlaceholderTitle = QStringLiteral("Fetching title\u2026");
// The source of a video added on this device.
inline const QString kLocalSource = QStringLiteral("ios");

// A new synced record holding the server's copy.
Video videoFromServer(const APIVideo &server);

// Replaces every field but youtubeID with the server's copy and marks the record synced.
// True when anything changed.
bool applyServerVideo(const APIVideo &server, Video &video);

// What a push sends for a pending record: its ID and the groups of fields changed here
// (Video::pendingFields), so the fields another device changed meanwhile stay as the service
// has them. Taken when the request leaves and compared with the record when the answer comes
// back, so a change made meanwhile is not overwritten.
VideoChange changeToPush(const Video &video);

// The answer to a push came back but the record changed meanwhile: the groups whose values
// the push carried as they still are need no further push.
void dropDelivered(const VideoChange &sent, Video &video);

// The title an add sends: the record's, except that the placeholder goes out as empty text.
QString titleToSend(const Video &video);

// Once the server has answered a record's add: takes the server's copy, then puts back what
// the user changed while the record waited (a title other than the placeholder, an exclusion,
// a date other than the day it was added, a length, a watched mark or a position). The record
// is synced when the server already holds those values, and needsPatch with the groups that
// differ otherwise, so the next push sends them.
// Works from the record alone, so edits made before a restart are kept as well.
void completeAdd(const APIVideo &server, Video &video);

} // namespace RecordRules

} // namespace clipvane
