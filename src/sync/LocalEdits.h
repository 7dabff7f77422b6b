#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

namespace clipvane {

class Clock;
class Video;
class VideoStore;

// What one text handed to LocalEdits::add came to.
struct AddOutcome
{
    enum class Kind {
        added,         // a new record, pending its add on the service
        alreadyThere,  // the library holds the video (whatever its state); nothing changed
        notAVideoLink, // no YouTube link in the text
        refused,       // a link whose ID the service would never take; reason says why
    };
    Kind kind = Kind::notAVideoLink;
    QString text;
    QString youtubeID; // empty for notAVideoLink
    QString reason;    // for refused: a sentence the caller shows as it is

    // The video is in the library now (added or already there).
    bool inLibrary() const { return kind == Kind::added || kind == Kind::alreadyThere; }
    bool operator==(const AddOutcome &) const = default;
};

// What a change of one record came to.
enum class EditOutcome {
    done,
    notFound,   // no record with that ID (deleted meanwhile, or never there)
    readOnly,   // a record of a library shared with the user: only its owner changes it
    saveFailed, // made in memory; the store keeps it for the next save that succeeds
};

// What a change of many records at once came to, counted per kind of answer.
struct BulkOutcome
{
    qsizetype done = 0;     // records changed (or, for a removal, gone or waiting for it)
    qsizetype notFound = 0; // IDs with no record
    qsizetype readOnly = 0; // records of a library shared with the user, left as they are
    qsizetype skipped = 0;  // records left as they are because they no longer stand as expected
    bool saveFailed = false;
    bool operator==(const BulkOutcome &) const = default;
};

// The one door through which anything changes the library: the window, the command line,
// opened links, drops, the shared inbox. It decides once what can be added and what is
// read-only, marks what changed for the next push, saves the store and asks for a sync, and
// answers with what happened, so every caller can tell the person. Nothing else writes a
// record's fields or conducts add-then-save-then-sync itself.
class LocalEdits : public QObject
{
    Q_OBJECT

public:
    // addInFlight tells whether an ID's add request is on its way to the service right now.
    LocalEdits(VideoStore &store, Clock &clock, std::function<bool(const QString &)> addInFlight,
               QObject *parent = nullptr);

    // What add() would answer for a text in a library without its video: added (the video can be
    // taken), notAVideoLink or refused. For those who queue links for another process.
    static AddOutcome check(const QString &text);

    // Adds every video whose link a text holds, one record per ID (a second text naming the same
    // video is alreadyThere). One save and one sync for the lot, when anything was added.
    QList<AddOutcome> add(const QStringList &texts);
    AddOutcome add(const QString &text) { return add(QStringList{text}).constFirst(); }
    // The same without saving or asking for a sync: for the sync cycle's own shared inbox, which
    // saves when it is done.
    QList<AddOutcome> addWithinCycle(const QStringList &texts);
    // For an import of many links, batch by batch: adds as add() does, in one save (one store
    // transaction) per batch, but answers only the caller, who tells the person once at the end;
    // and asks for no sync: importDone() asks for one for every batch.
    QList<AddOutcome> addBatch(const QStringList &texts);
    void importDone();

    EditOutcome setExcluded(const QString &youtubeID, bool excluded);
    // Title, date and length exactly as the person typed them.
    EditOutcome edit(const QString &youtubeID, const QString &title, const QString &uploadDate,
                     const QString &duration);
    // The person's viewing, kept per video and carried to their other devices. Only the user's
    // own videos hold it: a video of a shared library is the owner's record on the service,
    // with no place for another viewer's marks, so it is readOnly here as for every change.
    // A watched mark starts the video over next time: it sets the position to 0 as well.
    EditOutcome setWatched(const QString &youtubeID, bool watched);
    // Where playback resumes, in whole seconds, kept within 0…kMaxVideoPosition. Cheap enough
    // to call every few seconds while a video plays: it writes the one record, and nothing at
    // all when the position is already that; the sync it asks for waits for a quiet moment
    // (see positionSaved) rather than following each call.
    EditOutcome setPosition(const QString &youtubeID, int seconds);
    // A record the service never knew goes at once; any other waits for its deletion to be pushed.
    EditOutcome remove(const QString &youtubeID);

    // The same changes for many records at once: one pass, one save (one store transaction) and
    // one sync for the lot, however many there are.
    BulkOutcome setExcluded(const QStringList &youtubeIDs, bool excluded);
    BulkOutcome remove(const QStringList &youtubeIDs);
    // Puts deleted records back with every field they had (title, date, length, exclusion,
    // viewing, the day they were added). A record the service never knew waits for its add
    // again; any other goes out as a change of all its fields, which brings a video the service
    // already deleted back to life. A record still waiting for its deletion simply stays; one
    // that is in the library as anything else was brought back meanwhile and is skipped.
    BulkOutcome restore(const QList<Video> &records);

    // The message of the last save that failed; empty when the last one succeeded.
    QString saveError() const { return m_saveError; }
    // Why an edit did not happen, as a sentence for the person; empty for done.
    static QString describe(EditOutcome outcome);
    // What came of an add, in one or two sentences for a status line.
    static QString summary(const QList<AddOutcome> &outcomes);

Q_SIGNALS:
    // Something in the library changed and was saved (or kept for the next save): a sync is due.
    void changed();
    // Only a resume position changed: a sync is due, but nothing is lost by waiting for more.
    void positionSaved();
    // The details of a record were edited (the library list recomputes on it).
    void detailsEdited();
    // An add() was answered: whoever shows the library tells the person what came of it.
    void addAnswered(const QList<clipvane::AddOutcome> &outcomes);

private:
    AddOutcome addOne(const QString &text, qint64 now, const QString &today);
    // Looks the record up, refuses a read-only one, and applies the change.
    EditOutcome change(const QString &youtubeID, const std::function<void(Video &)> &apply, bool urgent = true);
    EditOutcome finish(bool urgent = true);
    // A record the service never knew goes at once; any other waits for its deletion to be pushed.
    void removeOne(const Video &video);
    // Calls change for each ID's own record; counts the missing and the shared ones in outcome.
    void eachOwn(const QStringList &youtubeIDs, BulkOutcome &outcome, const std::function<void(const Video &)> &change);

    VideoStore &m_store;
    Clock &m_clock;
    std::function<bool(const QString &)> m_addInFlight;
    QString m_saveError;
};

} // namespace clipvane
