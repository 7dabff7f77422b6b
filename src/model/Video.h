#pragma once

#include "SyncState.h"

#include <QMetaType>
#include <QString>
#include <QUrl>
#include <optional>

namespace clipvane {

// One entry of the library: the user's own video or one of a library shared with the user.
// Records live in VideoStore, which owns them, keeps their addresses stable and hands them out
// read-only: a stored record changes only through VideoStore::update().
class Video
{
public:
    Video() = default;
    Video(QString youtubeID, QString title, QString url, QString uploadDate, QString duration, bool excluded,
          QString source, qint64 createdAt, qint64 updatedAt, QString syncStateRaw);

    QString youtubeID;
    QString title;
    QString url;
    QString uploadDate; // "YYYY-MM-DD" or empty; never parsed
    QString duration;   // display text such as "4:05" or "1:02:03", or empty
    bool excluded = false;
    QString source;
    qint64 createdAt = 0; // milliseconds since 1970, UTC
    qint64 updatedAt = 0; // server-side change time, same unit
    QString syncStateRaw;
    QString ownerEmail; // owner of a shared library; empty for the user's own videos
    bool readOnly = false;
    bool watched = false;
    int position = 0; // whole seconds into the video where playback resumes; 0 plays from the start

    // The groups of fields changed on this device and not yet pushed, while the record is
    // pending. A push sends only these, so it never writes back what another device changed
    // in the others.
    enum Changed : int {
        detailsChanged = 1, // title, upload date, length and exclusion, which travel together
        watchedChanged = 2,
        positionChanged = 4,
    };
    int changedFields = 0;
    // changedFields of a pending record, where none recorded means the details: a change kept
    // by an older version, which could change nothing else.
    int pendingFields() const { return changedFields != 0 ? changedFields : detailsChanged; }
    // The add of this record has been sent at least once, so the service may know it even
    // though no answer came: deleting it must then reach the service too.
    bool addSent = false;

    SyncState syncState() const { return syncStateFromRaw(syncStateRaw); }
    bool isPending() const { return clipvane::isPending(syncState()); }

    // Whole seconds of `duration`: pieces between ':' and ';' weighted by powers of 60
    // from the right; unparsable pieces dropped. Saturates at the 64-bit limits.
    qint64 durationSeconds() const;

    // Year text: the first four grapheme clusters of uploadDate (or all of it when shorter).
    QString yearText() const;

    std::optional<QUrl> thumbnailURL() const;

    bool operator==(const Video &) const = default;
};

} // namespace clipvane

// Records travel read-only in signals and through item models (a row delegate reads its record).
Q_DECLARE_METATYPE(const clipvane::Video *)
