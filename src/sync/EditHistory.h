#pragma once

#include "LocalEdits.h"
#include "Video.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

namespace clipvane {

class VideoStore;

// The last change the person made to the library in this session, kept so it can be taken back.
// Deletions, exclusions, edits and imports that should be undoable go through here: it notes
// what the records were, hands the change to LocalEdits, and on undo applies the inverse through
// LocalEdits again, so the undo is saved and pushed like any other change. One step is kept; a
// new one replaces it, and sign-out or another account forgets it (clear()).
// A record changed meanwhile (edited again, here or on another device and pulled) is never
// overwritten: the undo skips it and says how many it skipped.
class EditHistory : public QObject
{
    Q_OBJECT

public:
    enum class Kind { none, remove, exclude, include, edit, import };

    // What an undo came to.
    struct Undone
    {
        Kind kind = Kind::none;
        qsizetype restored = 0; // records put back as they were
        qsizetype skipped = 0;  // records changed meanwhile (or gone), left as they are
        bool operator==(const Undone &) const = default;
    };

    EditHistory(LocalEdits &edits, VideoStore &store, QObject *parent = nullptr);

    // The undoable changes; each answers as LocalEdits does and replaces the step kept.
    BulkOutcome remove(const QStringList &youtubeIDs);
    BulkOutcome setExcluded(const QStringList &youtubeIDs, bool excluded);
    EditOutcome edit(const QString &youtubeID, const QString &title, const QString &uploadDate,
                     const QString &duration);
    // An import added these videos (through LocalEdits::add); undoing it removes them again.
    void recordImport(const QStringList &addedIDs);

    Kind undoKind() const { return m_step.kind; }
    bool canUndo() const { return m_step.kind != Kind::none; }
    // Takes the kept step back and forgets it.
    Undone undo();
    void clear();

    // The menu item's title for what undo would take back ("Undo Delete"; "Undo" for nothing).
    static QString undoTitle(Kind kind);
    // What an undo did, for the status line.
    static QString describe(const Undone &undone);
    // The sentence for records of shared libraries a change of many left alone; empty for none.
    static QString describeReadOnly(qsizetype count);

Q_SIGNALS:
    // The step kept changed (a new one, an undo, or forgotten).
    void undoKindChanged();
    // An undo changed the library (the list recomputes on it).
    void undone(const clipvane::EditHistory::Undone &undone);
    // A sentence for the person about what a change or an undo did.
    void notice(const QString &text);

private:
    struct Step
    {
        Kind kind = Kind::none;
        // The records before the change (deletions, edits) and what the change left them as
        // (exclusions, edits, imports), to tell at undo whether they changed meanwhile.
        QList<Video> before;
        QList<Video> after;
    };
    void keep(Step step);
    Undone undoRemove();
    Undone undoExclude(bool excluded);
    Undone undoEdit();
    Undone undoImport();

    LocalEdits &m_edits;
    VideoStore &m_store;
    Step m_step;
};

} // namespace clipvane
