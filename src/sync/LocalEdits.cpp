#include "LocalEdits.h"

#include "Clock.h"
#include "ForeignID.h"
#include "LinkParser.h"
#include "RecordRules.h"
#include "VideoLimits.h"
#include "VideoStore.h"

#include <QDate>
#include <algorithm>

namespace clipvane {

namespace {

// A record the service holds as it is now has a change to send, of this group of fields alone;
// a record still waiting for its add, patch or deletion keeps that state and adds the group
// (an add's reply brings the change along).
void markForPatch(Video &video, Video::Changed group)
{
    const SyncState state = video.syncState();
    if (state == SyncState::synced || state == SyncState::unrecognised) {
        video.syncStateRaw = SyncStateRaw::needsPatch;
        video.changedFields = group;
    } else {
        video.changedFields = video.pendingFields() | group;
    }
}

} // namespace

LocalEdits::LocalEdits(VideoStore &store, Clock &clock, std::function<bool(const QString &)> addInFlight,
                       QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_clock(clock)
    , m_addInFlight(std::move(addInFlight))
{}

AddOutcome LocalEdits::check(const QString &text)
{
    AddOutcome outcome;
    outcome.text = text;
    const std::optional<QString> id = youtubeID(text);
    if (!id)
        return outcome;
    outcome.youtubeID = *id;
    // Either would stay pending for ever: the service refuses both.
    if (isForeignID(*id)) {
        outcome.kind = AddOutcome::Kind::refused;
        outcome.reason = tr("A video ID can't begin with “x-”.");
    } else if (!isVideoID(*id)) {
        outcome.kind = AddOutcome::Kind::refused;
        outcome.reason = tr("A video ID can't be longer than %1 characters.").arg(kMaxVideoIDLength);
    } else {
        outcome.kind = AddOutcome::Kind::added;
    }
    return outcome;
}

AddOutcome LocalEdits::addOne(const QString &text, qint64 now, const QString &today)
{
    AddOutcome outcome = check(text);
    if (outcome.kind != AddOutcome::Kind::added)
        return outcome;
    const QString &id = outcome.youtubeID;
    if (m_store.find(id)) {
        outcome.kind = AddOutcome::Kind::alreadyThere;
        return outcome;
    }
    m_store.insert(Video(id, RecordRules::kPlaceholderTitle, shortLink(id), today, QString(), false,
                         RecordRules::kLocalSource, now, now, SyncStateRaw::needsAdd));
    return outcome;
}

QList<AddOutcome> LocalEdits::addWithinCycle(const QStringList &texts)
{
    const qint64 now = m_clock.nowMs();
    const QString today = m_clock.todayUtc().toString(Qt::ISODate);
    QList<AddOutcome> outcomes;
    outcomes.reserve(texts.size());
    for (const QString &text : texts)
        outcomes.append(addOne(text, now, today));
    return outcomes;
}

QList<AddOutcome> LocalEdits::add(const QStringList &texts)
{
    const QList<AddOutcome> outcomes = addWithinCycle(texts);
    if (std::any_of(outcomes.cbegin(), outcomes.cend(),
                    [](const AddOutcome &o) { return o.kind == AddOutcome::Kind::added; }))
        finish();
    Q_EMIT addAnswered(outcomes);
    return outcomes;
}

QList<AddOutcome> LocalEdits::addBatch(const QStringList &texts)
{
    const QList<AddOutcome> outcomes = addWithinCycle(texts);
    if (std::any_of(outcomes.cbegin(), outcomes.cend(),
                    [](const AddOutcome &o) { return o.kind == AddOutcome::Kind::added; })) {
        QString error;
        m_saveError = m_store.save(&error) ? QString() : error;
    }
    return outcomes;
}

void LocalEdits::importDone()
{
    Q_EMIT changed();
}

EditOutcome LocalEdits::change(const QString &youtubeID, const std::function<void(Video &)> &apply, bool urgent)
{
    const Video *video = m_store.find(youtubeID);
    if (!video)
        return EditOutcome::notFound;
    if (video->readOnly)
        return EditOutcome::readOnly;
    m_store.update(youtubeID, [&](Video &record) {
        apply(record);
        return true;
    });
    return finish(urgent);
}

EditOutcome LocalEdits::setExcluded(const QString &youtubeID, bool excluded)
{
    return change(youtubeID, [&](Video &video) {
        video.excluded = excluded;
        markForPatch(video, Video::detailsChanged);
    });
}

EditOutcome LocalEdits::edit(const QString &youtubeID, const QString &title, const QString &uploadDate,
                             const QString &duration)
{
    const EditOutcome outcome = change(youtubeID, [&](Video &video) {
        video.title = title;
        video.uploadDate = uploadDate;
        video.duration = duration;
        markForPatch(video, Video::detailsChanged);
    });
    if (outcome == EditOutcome::done || outcome == EditOutcome::saveFailed)
        Q_EMIT detailsEdited();
    return outcome;
}

EditOutcome LocalEdits::setWatched(const QString &youtubeID, bool watched)
{
    return change(youtubeID, [&](Video &video) {
        video.watched = watched;
        markForPatch(video, Video::watchedChanged);
        // Sent even when already 0 here: another device may have a later position on the service.
        if (watched) {
            video.position = 0;
            markForPatch(video, Video::positionChanged);
        }
    });
}

EditOutcome LocalEdits::setPosition(const QString &youtubeID, int seconds)
{
    const int position = std::clamp(seconds, 0, kMaxVideoPosition);
    const Video *video = m_store.find(youtubeID);
    // Saved again while paused or before playback moved on: nothing to write or send.
    if (video != nullptr && !video->readOnly && video->position == position)
        return EditOutcome::done;
    return change(
        youtubeID,
        [&](Video &record) {
            record.position = position;
            markForPatch(record, Video::positionChanged);
        },
        false);
}

EditOutcome LocalEdits::remove(const QString &youtubeID)
{
    const Video *video = m_store.find(youtubeID);
    if (!video)
        return EditOutcome::notFound;
    if (video->readOnly)
        return EditOutcome::readOnly;
    removeOne(*video);
    return finish();
}

void LocalEdits::removeOne(const Video &video)
{
    // A record the service never knew goes at once, unless its add has been sent (or is on the
    // way): then the service may know it by now, and the deletion has to follow.
    if (video.syncState() == SyncState::needsAdd && !video.addSent && !m_addInFlight(video.youtubeID)) {
        m_store.remove(&video);
    } else {
        m_store.update(video.youtubeID, [](Video &record) {
            if (record.syncState() == SyncState::needsDelete)
                return false;
            record.syncStateRaw = SyncStateRaw::needsDelete;
            return true;
        });
    }
}

void LocalEdits::eachOwn(const QStringList &youtubeIDs, BulkOutcome &outcome,
                         const std::function<void(const Video &)> &change)
{
    for (const QString &id : youtubeIDs) {
        const Video *video = m_store.find(id);
        if (!video)
            ++outcome.notFound;
        else if (video->readOnly)
            ++outcome.readOnly;
        else {
            change(*video);
            ++outcome.done;
        }
    }
}

BulkOutcome LocalEdits::setExcluded(const QStringList &youtubeIDs, bool excluded)
{
    BulkOutcome outcome;
    bool changed = false;
    eachOwn(youtubeIDs, outcome, [&](const Video &video) {
        // Already so: nothing to send for it.
        if (video.excluded == excluded)
            return;
        m_store.update(video.youtubeID, [&](Video &record) {
            record.excluded = excluded;
            markForPatch(record, Video::detailsChanged);
            return true;
        });
        changed = true;
    });
    if (changed)
        outcome.saveFailed = finish() == EditOutcome::saveFailed;
    return outcome;
}

BulkOutcome LocalEdits::remove(const QStringList &youtubeIDs)
{
    BulkOutcome outcome;
    eachOwn(youtubeIDs, outcome, [this](const Video &video) { removeOne(video); });
    if (outcome.done > 0)
        outcome.saveFailed = finish() == EditOutcome::saveFailed;
    return outcome;
}

BulkOutcome LocalEdits::restore(const QList<Video> &records)
{
    constexpr int kAllFields = Video::detailsChanged | Video::watchedChanged | Video::positionChanged;
    BulkOutcome outcome;
    for (const Video &kept : records) {
        // What the record waits for once it is back: its add again when the service was never
        // asked to keep it; otherwise every field goes out, and the service revives a deleted copy.
        const bool neverKept = kept.syncState() == SyncState::needsAdd;
        const auto putBack = [&](Video &record) {
            const bool addSent = record.addSent;
            record = kept;
            record.addSent = addSent;
            record.syncStateRaw = neverKept ? SyncStateRaw::needsAdd : SyncStateRaw::needsPatch;
            record.changedFields = neverKept ? kept.changedFields : kAllFields;
        };
        const Video *current = m_store.find(kept.youtubeID);
        if (current == nullptr) {
            Video record;
            putBack(record);
            m_store.insert(std::move(record));
        } else if (current->readOnly) {
            ++outcome.readOnly;
            continue;
        } else if (current->syncState() == SyncState::needsDelete) {
            m_store.update(kept.youtubeID, [&](Video &record) {
                putBack(record);
                return true;
            });
        } else {
            ++outcome.skipped;
            continue;
        }
        ++outcome.done;
    }
    if (outcome.done > 0)
        outcome.saveFailed = finish() == EditOutcome::saveFailed;
    return outcome;
}

EditOutcome LocalEdits::finish(bool urgent)
{
    QString error;
    // A failed save keeps the change in the store for the next one that succeeds.
    const bool saved = m_store.save(&error);
    m_saveError = saved ? QString() : error;
    if (urgent)
        Q_EMIT changed();
    else
        Q_EMIT positionSaved();
    return saved ? EditOutcome::done : EditOutcome::saveFailed;
}

QString LocalEdits::summary(const QList<AddOutcome> &outcomes)
{
    qsizetype added = 0;
    qsizetype there = 0;
    QStringList refusals;
    for (const AddOutcome &outcome : outcomes) {
        switch (outcome.kind) {
        case AddOutcome::Kind::added:
            ++added;
            break;
        case AddOutcome::Kind::alreadyThere:
            ++there;
            break;
        case AddOutcome::Kind::notAVideoLink:
            refusals.append(tr("That doesn't look like a YouTube link."));
            break;
        case AddOutcome::Kind::refused:
            refusals.append(outcome.reason);
            break;
        }
    }
    QStringList parts;
    if (added > 0)
        parts.append(added == 1 ? tr("Added 1 video.") : tr("Added %1 videos.").arg(added));
    if (there > 0)
        parts.append(there == 1 && outcomes.size() == 1 ? tr("Already in your library.")
                                                        : tr("%1 already in your library.").arg(there));
    if (refusals.size() == 1)
        parts.append(tr("Not added: %1").arg(refusals.constFirst()));
    else if (refusals.size() > 1)
        parts.append(tr("%1 not added: %2").arg(refusals.size()).arg(refusals.constFirst()));
    return parts.join(u' ');
}

QString LocalEdits::describe(EditOutcome outcome)
{
    switch (outcome) {
    case EditOutcome::done:
        return {};
    case EditOutcome::notFound:
        return tr("That video is no longer in the library.");
    case EditOutcome::readOnly:
        return tr("That video belongs to a shared library; only its owner can change it.");
    case EditOutcome::saveFailed:
        return tr("Couldn't save the library; the change is kept and saved with the next one.");
    }
    return {};
}

} // namespace clipvane
