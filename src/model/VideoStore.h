#pragma once

#include "Video.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <utility>

namespace clipvane {

class SqliteDatabase;
class SqliteStatement;

// Every Video record, held in memory and indexed by youtubeID, backed by one SQLite file.
// Inserts, changes and removals stay pending until save() writes them in one transaction;
// a failed save keeps them pending and the next successful save writes them, and closing the
// store (destroying it) makes one last attempt.
// Records are owned by the store and handed out read-only: a record changes only through
// update(), so the store always knows what to write. Their addresses stay valid until they are
// removed.
// Lists returned by the queries must not be iterated by reference across a mutation of the
// store; iterate a copy (they are implicitly shared) when inserting or removing in the loop.
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
    const QList<const Video *> &all() const;
    const Video *find(const QString &youtubeID) const;
    QList<const Video *> pending() const; // syncStateRaw is not "synced"
    QList<const Video *> synced() const;  // syncStateRaw is "synced"

    // Inserts a record. When a record with that youtubeID exists, nothing is inserted and
    // the existing record is returned; the caller looks the ID up first.
    const Video *insert(Video video);
    // Changes the record with that ID in place (its ID stays); change answers whether it changed
    // anything, and only then is the record written by the next save. False when there is none.
    bool update(const QString &youtubeID, const std::function<bool(Video &)> &change);
    // Removes records; their pointers are invalid once the call returns.
    void remove(const Video *video);
    void remove(const QList<const Video *> &videos);

    bool hasUnsavedChanges() const;
    // Writes every pending change in one transaction. False (and error) keeps them pending.
    // saved() follows a save that wrote something.
    bool save(QString *error = nullptr);

    // The file the store lives in.
    QString path() const;
    // Names this file: a file created anew, or one put in the place of another, has its own.
    // The pull cursor is kept beside the file it describes, so it must never be taken for another.
    const QString &generation() const { return m_generation; }
    // The file had no library in it when it was opened (missing, empty, or made by this open).
    bool startedEmpty() const { return m_startedEmpty; }
    // Facts kept in the file beside the records; empty when absent.
    QString meta(const QString &key) const;
    bool setMeta(const QString &key, const QString &value, QString *error = nullptr);
    // Saves, then writes a consistent copy of the whole file to path (replacing it atomically),
    // with the given facts added to the copy's own. The copy has a generation of its own.
    bool copyTo(const QString &path, const QList<std::pair<QString, QString>> &facts, QString *error);

    // Bumped by every insert, change and removal; lets views keep derived data between changes.
    quint64 revision() const;

    // The work the store has done since it was opened, counted rather than timed, so a test can
    // hold that a page of changes costs the same in a small library as in a large one.
    struct Work
    {
        qint64 statementSteps = 0; // SQLite's virtual-machine operations for the store's rows
        qint64 fullScanSteps = 0;  // rows SQLite stepped over in full table scans
        qint64 sorts = 0;          // sorts SQLite made
        qint64 recordsVisited = 0; // records passed over by the store's passes over the library
    };
    Work work() const;

Q_SIGNALS:
    void inserted(const clipvane::Video *video);
    void changed(const clipvane::Video *video);
    void aboutToRemove(const QList<const clipvane::Video *> &videos);
    void removed(const QStringList &youtubeIDs);
    void saved();

private:
    struct Entry
    {
        Video *video = nullptr;
        bool stored = false;   // the file holds a row with this ID (as of the last save)
        bool unsynced = false; // its state was not "synced" when the store last heard of it
    };

    VideoStore();

    bool load(int version, QString *error);
    // Takes a record read from the file into the index and the store order.
    void adoptLoaded(Video *record);
    QHash<QString, Entry>::iterator locate(const Video *video);
    // Files a record under its changed ID; returns where it is filed now.
    void markChanged(Video *video);
    void markDirty(const Video *video);
    void intern(Video &video);
    void intern(QString &text);
    void compact() const;
    // Keeps the count of records that are not synced in step with a record's state.
    void recount(Entry &entry);

    std::unique_ptr<SqliteDatabase> m_database;
    std::unique_ptr<SqliteStatement> m_upsert;
    std::unique_ptr<SqliteStatement> m_delete;

    QHash<QString, Entry> m_index;
    // Store order. Removed records stay listed (and allocated) until the next query compacts
    // the list in one pass, so removing records one by one costs O(1) each.
    mutable QList<const Video *> m_all;
    mutable QSet<const Video *> m_removed;

    // Pending work for the next save: records to write, numbered in the order they became
    // dirty so new rows reach the file in store order, and IDs whose rows must go first.
    QHash<const Video *, quint64> m_dirty;
    quint64 m_dirtySequence = 0;
    QSet<QString> m_deletions;

    // Identical short texts (states, sources, dates, durations, owners) share one allocation.
    QSet<QString> m_texts;
    quint64 m_revision = 0;
    QString m_generation;
    bool m_startedEmpty = false;
    mutable qint64 m_recordsVisited = 0;
    // Records that are not synced: with none, the query for them needs no pass over the library.
    qsizetype m_unsynced = 0;
};

} // namespace clipvane
