#pragma once

#include "Video.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <memory>

namespace clipvane {

// Every Video record, held in memory and indexed by youtubeID, backed by one SQLite file.
// Inserts, changes and removals stay pending until save() writes them in one transaction;
// a failed save keeps them pending and the next successful save writes them.
// Records are owned by the store; their addresses stay valid until they are removed.
class VideoStore : public QObject
{
    Q_OBJECT

public:
    ~VideoStore() override;

    // Opens (creating it when missing) the store at path. A file that cannot be used
    // (corrupt, unreadable, written by a newer version) gives a null store and an error
    // naming the cause; such a file is never changed.
    static std::unique_ptr<VideoStore> open(const QString &path, QString *error);

    // The four queries. Order: the store's own (load order, then insertion order).
    const QList<Video *> &all() const;
    Video *find(const QString &youtubeID) const;
    QList<Video *> pending() const; // syncStateRaw is not "synced"
    QList<Video *> synced() const;  // syncStateRaw is "synced"

    // Inserts a record. When a record with that youtubeID exists, nothing is inserted and
    // the existing record is returned; the caller looks the ID up first.
    Video *insert(Video video);
    // Tells the store that a record's fields were changed in place.
    void markChanged(Video *video);
    // Removes records; their pointers are invalid once the call returns.
    void remove(Video *video);
    void remove(const QList<Video *> &videos);

    bool hasUnsavedChanges() const;
    // Writes every pending change in one transaction. False (and error) keeps them pending.
    bool save(QString *error = nullptr);

    // Bumped by every insert, change and removal; lets views keep derived data between changes.
    quint64 revision() const;

Q_SIGNALS:
    void inserted(clipvane::Video *video);
    void changed(clipvane::Video *video);
    void aboutToRemove(const QList<clipvane::Video *> &videos);
    void removed(const QStringList &youtubeIDs);
    void saved();
};

} // namespace clipvane
