#include "EditHistory.h"

#include "VideoStore.h"

namespace clipvane {

namespace {

// The details an edit writes are as the edit left them.
bool sameDetails(const Video &a, const Video &b)
{
    return a.title == b.title && a.uploadDate == b.uploadDate && a.duration == b.duration;
}

} // namespace

EditHistory::EditHistory(LocalEdits &edits, VideoStore &store, QObject *parent)
    : QObject(parent)
    , m_edits(edits)
    , m_store(store)
{}

void EditHistory::keep(Step step)
{
    const Kind was = m_step.kind;
    m_step = std::move(step);
    if (m_step.kind != was || m_step.kind != Kind::none)
        Q_EMIT undoKindChanged();
}

void EditHistory::clear()
{
    keep({});
}

BulkOutcome EditHistory::remove(const QStringList &youtubeIDs)
{
    Step step{Kind::remove, {}, {}};
    for (const QString &id : youtubeIDs) {
        const Video *video = m_store.find(id);
        // One already waiting for its deletion was deleted before; undoing this must not revive it.
        if (video && !video->readOnly && video->syncState() != SyncState::needsDelete)
            step.before.append(*video);
    }
    const BulkOutcome outcome = m_edits.remove(youtubeIDs);
    if (!step.before.isEmpty())
        keep(std::move(step));
    if (outcome.readOnly > 0)
        Q_EMIT notice(describeReadOnly(outcome.readOnly));
    return outcome;
}

BulkOutcome EditHistory::setExcluded(const QStringList &youtubeIDs, bool excluded)
{
    QStringList flipped;
    for (const QString &id : youtubeIDs) {
        const Video *video = m_store.find(id);
        if (video && !video->readOnly && video->excluded != excluded)
            flipped.append(id);
    }
    const BulkOutcome outcome = m_edits.setExcluded(youtubeIDs, excluded);
    if (!flipped.isEmpty()) {
        Step step{excluded ? Kind::exclude : Kind::include, {}, {}};
        for (const QString &id : std::as_const(flipped)) {
            if (const Video *video = m_store.find(id))
                step.after.append(*video);
        }
        keep(std::move(step));
    }
    if (outcome.readOnly > 0)
        Q_EMIT notice(describeReadOnly(outcome.readOnly));
    return outcome;
}

EditOutcome EditHistory::edit(const QString &youtubeID, const QString &title, const QString &uploadDate,
                              const QString &duration)
{
    const Video *video = m_store.find(youtubeID);
    const std::optional<Video> before = video ? std::optional<Video>(*video) : std::nullopt;
    const EditOutcome outcome = m_edits.edit(youtubeID, title, uploadDate, duration);
    if (before && (outcome == EditOutcome::done || outcome == EditOutcome::saveFailed)) {
        if (const Video *after = m_store.find(youtubeID); after && !sameDetails(*before, *after))
            keep({Kind::edit, {*before}, {*after}});
    }
    return outcome;
}

void EditHistory::recordImport(const QStringList &addedIDs)
{
    Step step{Kind::import, {}, {}};
    for (const QString &id : addedIDs) {
        if (const Video *video = m_store.find(id))
            step.after.append(*video);
    }
    if (!step.after.isEmpty())
        keep(std::move(step));
}

EditHistory::Undone EditHistory::undo()
{
    Undone result;
    switch (m_step.kind) {
    case Kind::none:
        return result;
    case Kind::remove:
        result = undoRemove();
        break;
    case Kind::exclude:
    case Kind::include:
        result = undoExclude(m_step.kind == Kind::exclude);
        break;
    case Kind::edit:
        result = undoEdit();
        break;
    case Kind::import:
        result = undoImport();
        break;
    }
    result.kind = m_step.kind;
    clear();
    Q_EMIT undone(result);
    Q_EMIT notice(describe(result));
    return result;
}

EditHistory::Undone EditHistory::undoRemove()
{
    const BulkOutcome outcome = m_edits.restore(m_step.before);
    return {Kind::remove, outcome.done, outcome.skipped + outcome.readOnly + outcome.notFound};
}

EditHistory::Undone EditHistory::undoExclude(bool excluded)
{
    Undone undone;
    QStringList back;
    for (const Video &after : std::as_const(m_step.after)) {
        const Video *current = m_store.find(after.youtubeID);
        // Gone, or its flag set again meanwhile: the newer state stands.
        if (!current || current->readOnly || current->syncState() == SyncState::needsDelete ||
            current->excluded != excluded)
            ++undone.skipped;
        else
            back.append(after.youtubeID);
    }
    if (!back.isEmpty())
        undone.restored = m_edits.setExcluded(back, !excluded).done;
    return undone;
}

EditHistory::Undone EditHistory::undoEdit()
{
    Undone undone;
    const Video &before = m_step.before.constFirst();
    const Video *current = m_store.find(before.youtubeID);
    if (!current || current->syncState() == SyncState::needsDelete ||
        !sameDetails(*current, m_step.after.constFirst())) {
        undone.skipped = 1;
        return undone;
    }
    const EditOutcome outcome = m_edits.edit(before.youtubeID, before.title, before.uploadDate, before.duration);
    if (outcome == EditOutcome::done || outcome == EditOutcome::saveFailed)
        undone.restored = 1;
    else
        undone.skipped = 1;
    return undone;
}

EditHistory::Undone EditHistory::undoImport()
{
    Undone undone;
    QStringList added;
    for (const Video &after : std::as_const(m_step.after)) {
        const Video *current = m_store.find(after.youtubeID);
        // Excluded or watched meanwhile: the person has made the video theirs; it stays.
        if (!current || current->readOnly || current->syncState() == SyncState::needsDelete ||
            current->excluded != after.excluded || current->watched != after.watched)
            ++undone.skipped;
        else
            added.append(after.youtubeID);
    }
    if (!added.isEmpty())
        undone.restored = m_edits.remove(added).done;
    return undone;
}

QString EditHistory::undoTitle(Kind kind)
{
    switch (kind) {
    case Kind::none:
        return tr("Undo");
    case Kind::remove:
        return tr("Undo Delete");
    case Kind::exclude:
        return tr("Undo Exclude");
    case Kind::include:
        return tr("Undo Include");
    case Kind::edit:
        return tr("Undo Edit");
    case Kind::import:
        return tr("Undo Import");
    }
    return tr("Undo");
}

QString EditHistory::describe(const Undone &undone)
{
    const qsizetype n = undone.restored;
    QString done;
    switch (undone.kind) {
    case Kind::none:
        return {};
    case Kind::remove:
        done = n == 1 ? tr("Delete undone: the video is back.")
                      : tr("Delete undone: %n videos are back.", nullptr, int(n));
        break;
    case Kind::exclude:
        done = n == 1 ? tr("Exclude undone: the video is back in the library.")
                      : tr("Exclude undone: %n videos are back in the library.", nullptr, int(n));
        break;
    case Kind::include:
        done = n == 1 ? tr("Include undone: the video is excluded again.")
                      : tr("Include undone: %n videos are excluded again.", nullptr, int(n));
        break;
    case Kind::edit:
        done = tr("Edit undone: the previous details are back.");
        break;
    case Kind::import:
        done = n == 1 ? tr("Import undone: the video was removed.")
                      : tr("Import undone: %n videos were removed.", nullptr, int(n));
        break;
    }
    if (n == 0)
        done = tr("Nothing was undone.");
    if (undone.skipped == 0)
        return done;
    const QString skipped = undone.skipped == 1 ? tr("1 video changed meanwhile and was left as it is.")
                                                : tr("%n videos changed meanwhile and were left as they are.", nullptr,
                                                     int(undone.skipped));
    return done + u' ' + skipped;
}

QString EditHistory::describeReadOnly(qsizetype count)
{
    if (count <= 0)
        return {};
    return count == 1 ? tr("1 video is shared with you and stays as it is.")
                      : tr("%n videos are shared with you and stay as they are.", nullptr, int(count));
}

} // namespace clipvane
