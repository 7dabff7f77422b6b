// The sync cycle of SyncEngine: take in the shared inbox, push, pull.

#include "SyncEngine.h"

#include "APIClient.h"
#include "Clock.h"
#include "GroupSettings.h"
#include "RecordRules.h"
#include "VideoStore.h"

#include <QPointer>
#include <QSet>
#include <algorithm>
#include <array>
#include <vector>

namespace clipvane {

namespace {

constexpr int kNotFound = 404;
constexpr int kGone = 410;
constexpr int kRequestTimeout = 408;
constexpr int kTooManyRequests = 429;

bool isClientError(int status)
{
    return status >= 400 && status <= 499;
}

// The server will refuse this record's push every time; trying again later can't help, so the
// other records and the pull go on. Time-outs and rate limits pass, so they end the cycle.
bool refusedForGood(const APIError &error)
{
    return error.kind() == APIError::Kind::http && isClientError(error.status()) && error.status() != kRequestTimeout &&
           error.status() != kTooManyRequests;
}

// The server no longer has the video a deletion was meant for: the deletion is done.
bool alreadyGone(const APIError &error)
{
    return error.kind() == APIError::Kind::http && (error.status() == kNotFound || error.status() == kGone);
}

bool isAfter(const APIVideo &video, qint64 since, qint64 afterID)
{
    return video.updatedAt > since || (video.updatedAt == since && video.id > afterID);
}

// The pages one pull may take: enough for the total its first page announced, a quarter more
// for videos changed while it runs, and two pages to spare. A service whose cursor creeps on
// by a row or two a page would otherwise be asked for pages without end.
qint64 pageAllowance(int total, int limit)
{
    const qint64 rows = qint64(std::max(total, 0));
    return (rows + rows / 4 + limit - 1) / limit + 2;
}

} // namespace

SyncEngine::Outcome SyncEngine::Outcome::fromError(const APIError &error)
{
    if (error.kind() == APIError::Kind::unauthorized)
        return {Kind::signedOut, {}};
    return failed(error.description());
}

QCoro::Task<void> SyncEngine::sync()
{
    if (!m_isLoggedIn)
        co_return;
    if (m_syncing) {
        m_pendingKick = true;
        co_return;
    }
    setSyncing(true);
    setLastError(std::nullopt);
    // This cycle pushes every position saved so far; one saved from now on asks again.
    m_unhurried.stop();

    const QPointer<SyncEngine> self(this);
    const Outcome outcome = co_await runCycle(m_session);
    if (!self)
        co_return;

    resetProgress();
    switch (outcome.kind) {
    case Outcome::Kind::done:
        setLastSync(QDateTime::fromMSecsSinceEpoch(m_clock.nowMs()));
        break;
    case Outcome::Kind::failed:
        setLastError(outcome.message);
        break;
    case Outcome::Kind::signedOut:
        setLastError(tr("Signed out"));
        signOut();
        break;
    case Outcome::Kind::abandoned:
        break;
    }
    setSyncing(false);
    if (m_pendingKick) {
        m_pendingKick = false;
        m_announced = 0;
        startCycle();
        co_return;
    }
    followAnnouncement();
}

QCoro::Task<SyncEngine::Outcome> SyncEngine::runCycle(quint64 session)
{
    const Outcome ingested = ingestShareInbox();
    if (!ingested.goOn())
        co_return ingested;
    const Outcome pushed = co_await pushPending(session);
    if (!pushed.goOn())
        co_return pushed;
    co_return co_await pullChanges(session);
}

SyncEngine::Outcome SyncEngine::saveStore()
{
    QString error;
    if (m_store.save(&error))
        return Outcome::done();
    return Outcome::failed(error.isEmpty() ? tr("Couldn't save the library.") : error);
}

SyncEngine::Outcome SyncEngine::ingestShareInbox()
{
    const QStringList links = m_group.takeShareInbox();
    if (links.isEmpty())
        return Outcome::done();
    m_edits.addWithinCycle(links);
    return saveStore();
}

SyncEngine::Outcome SyncEngine::recordFailure(const APIError &error)
{
    if (refusedForGood(error)) {
        setLastError(error.description());
        return Outcome::done();
    }
    return Outcome::fromError(error);
}

// Push

QCoro::Task<SyncEngine::Outcome> SyncEngine::pushPending(quint64 session)
{
    const QPointer<SyncEngine> self(this);
    QStringList queue;
    for (const Video *video : m_store.pending())
        queue.append(video->youtubeID);
    QSet<QString> requeued;
    // Once an add may have reached the service, deleting the record has to reach it too. The
    // store says so before any add goes out, so a process killed while the add was on the
    // way does not forget it after a restart.
    bool marked = false;
    for (const QString &id : std::as_const(queue)) {
        marked |= m_store.update(id, [](Video &record) {
            if (record.syncState() != SyncState::needsAdd || record.addSent)
                return false;
            record.addSent = true;
            return true;
        });
    }
    if (marked) {
        if (const Outcome saved = saveStore(); !saved.goOn())
            co_return saved;
    }

    // Records are found again by ID at every step: the user may delete one while a request is out.
    for (qsizetype i = 0; i < queue.size(); ++i) {
        const QString id = queue.at(i);
        const Video *video = m_store.find(id);
        if (video == nullptr)
            continue;
        Outcome outcome;
        switch (video->syncState()) {
        case SyncState::needsDelete:
            outcome = co_await pushDeletion(id, session);
            break;
        case SyncState::needsPatch:
            outcome = co_await pushPatch(id, session);
            break;
        case SyncState::needsAdd: {
            // The adds that follow in the queue go out together, a few at a time: each stands
            // alone, and one after another a large import would wait on every round trip.
            QStringList sending{id};
            while (sending.size() < kAddsInFlight && i + 1 < queue.size()) {
                const Video *next = m_store.find(queue.at(i + 1));
                if (next == nullptr || next->syncState() != SyncState::needsAdd)
                    break;
                sending.append(queue.at(++i));
            }
            std::array<bool, kAddsInFlight> again{};
            std::vector<QCoro::Task<Outcome>> replies;
            replies.reserve(sending.size());
            for (qsizetype k = 0; k < sending.size(); ++k)
                replies.push_back(pushAdd(sending.at(k), session, &again.at(k)));
            outcome = Outcome::done();
            for (qsizetype k = 0; k < sending.size(); ++k) {
                const Outcome one = co_await std::move(replies.at(k));
                if (outcome.goOn())
                    outcome = one;
            }
            // An add can leave a change behind (edits made while the record waited, or its
            // deletion); it goes out in this same push, once.
            for (qsizetype k = 0; k < sending.size(); ++k) {
                if (again.at(k) && !requeued.contains(sending.at(k))) {
                    requeued.insert(sending.at(k));
                    queue.append(sending.at(k));
                }
            }
            break;
        }
        case SyncState::synced:
        case SyncState::unrecognised:
            continue;
        }
        if (!outcome.goOn()) {
            // What the server has confirmed so far is written now, so it is not sent again.
            if (self)
                m_store.save();
            co_return outcome;
        }
    }
    co_return saveStore();
}

QCoro::Task<SyncEngine::Outcome> SyncEngine::pushDeletion(QString youtubeID, quint64 session)
{
    const QPointer<SyncEngine> self(this);
    const ApiResult<void> reply = co_await m_api.deleteVideo(youtubeID);
    if (!self || !isCurrent(session))
        co_return Outcome::abandoned();
    if (!reply && !alreadyGone(reply.error()))
        co_return recordFailure(reply.error());
    if (const Video *video = m_store.find(youtubeID); video != nullptr && video->syncState() == SyncState::needsDelete)
        m_store.remove(video);
    co_return Outcome::done();
}

QCoro::Task<SyncEngine::Outcome> SyncEngine::pushPatch(QString youtubeID, quint64 session)
{
    const QPointer<SyncEngine> self(this);
    const VideoChange sent = RecordRules::changeToPush(*m_store.find(youtubeID));
    const ApiResult<APIVideo> reply = co_await m_api.patchVideo(sent);
    if (!self || !isCurrent(session))
        co_return Outcome::abandoned();
    if (!reply)
        co_return recordFailure(reply.error());
    // Edited again or deleted while the request was out: the record stays pending and the
    // next push sends the newer change.
    const Video *video = m_store.find(youtubeID);
    if (video == nullptr || video->syncState() != SyncState::needsPatch)
        co_return Outcome::done();
    if (RecordRules::changeToPush(*video) == sent) {
        m_store.update(youtubeID, [&](Video &record) { return RecordRules::applyServerVideo(*reply, record); });
    } else {
        m_store.update(youtubeID, [&](Video &record) {
            const int before = record.changedFields;
            RecordRules::dropDelivered(sent, record);
            return record.changedFields != before;
        });
    }
    co_return Outcome::done();
}

QCoro::Task<SyncEngine::Outcome> SyncEngine::pushAdd(QString youtubeID, quint64 session, bool *again)
{
    const QPointer<SyncEngine> self(this);
    const Video *sent = m_store.find(youtubeID);
    const QString url = sent->url;
    const QString title = RecordRules::titleToSend(*sent);
    m_addInFlight.insert(youtubeID);
    const ApiResult<APIVideo> reply = co_await m_api.upsert(url, title);
    if (!self)
        co_return Outcome::abandoned();
    m_addInFlight.remove(youtubeID);
    if (!isCurrent(session))
        co_return Outcome::abandoned();

    const Video *video = m_store.find(youtubeID);
    if (video != nullptr && video->syncState() == SyncState::needsDelete)
        *again = true;
    if (!reply)
        co_return recordFailure(reply.error());
    if (video != nullptr && video->syncState() == SyncState::needsAdd) {
        m_store.update(youtubeID, [&](Video &record) {
            RecordRules::completeAdd(*reply, record);
            return true;
        });
        *again = video->syncState() != SyncState::synced;
    }
    co_return Outcome::done();
}

// Pull

void SyncEngine::mergeServerVideo(const APIVideo &server)
{
    // A record without an ID could never be matched again; it is not kept.
    if (server.youtubeID.isEmpty())
        return;
    const Video *local = m_store.find(server.youtubeID);
    // Another device already added a video still waiting for its add here: the server holds
    // it, so the add is done. Without this the row would pass the cursor unseen, and deleting
    // the waiting record (which sends nothing for a never-added video) would leave this device
    // without a video the library holds.
    if (local != nullptr && local->syncState() == SyncState::needsAdd && !server.deleted && !server.readOnly &&
        !m_addInFlight.contains(local->youtubeID)) {
        m_store.update(server.youtubeID, [&](Video &record) {
            RecordRules::completeAdd(server, record);
            return true;
        });
        return;
    }
    // A pending local change wins over whatever the server says until it has been pushed.
    if (local != nullptr && local->isPending())
        return;
    if (server.deleted) {
        if (local != nullptr)
            m_store.remove(local);
        return;
    }
    if (local == nullptr) {
        m_store.insert(RecordRules::videoFromServer(server));
        return;
    }
    m_store.update(server.youtubeID, [&](Video &record) { return RecordRules::applyServerVideo(server, record); });
}

QCoro::Task<SyncEngine::Outcome> SyncEngine::pullChanges(quint64 session)
{
    const QPointer<SyncEngine> self(this);
    const GroupSettings::PullState start = m_group.pullState();
    // A full pull for a new family revision that a crash or a failure broke off starts over:
    // only a completed one may tell which records the new revision no longer holds.
    bool refreshing = start.familyRefreshPending;
    // The cursor tells what the store it was written for holds; a store made anew or put in
    // its place holds none of that, so it is filled from the beginning.
    const bool storeKnown = start.store == m_store.generation();
    if (!storeKnown && start.cursor != 0)
        Q_EMIT refilling();
    qint64 since = refreshing || !storeKnown ? 0 : start.cursor;
    qint64 afterID = 0;
    int received = 0;
    int total = -1;
    qint64 pagesTaken = 0;
    bool firstPage = true;
    QSet<QString> delivered;

    // The pages are pipelined: the request for the next page leaves as soon as this one is read
    // (it starts after this page's last row), and is answered while this one is merged and
    // saved. Leaving the pull, however it ends, abandons the request still out.
    const QObject requests;
    QCoro::Task<ApiResult<VideoPage>> next = m_api.videos(since, afterID, kPageLimit, &requests);
    for (;;) {
        const ApiResult<VideoPage> page = co_await std::move(next);
        if (!self || !isCurrent(session))
            co_return Outcome::abandoned();
        if (!page)
            co_return Outcome::fromError(page.error());

        setWidgetVisible(page->widget);

        if (firstPage && page->familyRev != start.familyRev) {
            // The set of libraries shared with the user changed: everything is fetched again.
            // The synced records stay on show until that pull has completed, and only then
            // go when it did not deliver them; records with a local change stay until pushed.
            // Nothing was asked beyond this page, whose rows belong to the old cursor.
            if (!m_group.restartForFamilyRev(page->familyRev, m_store.generation()))
                co_return Outcome::failed(m_group.lastError());
            refreshing = true;
            delivered.clear();
            since = 0;
            afterID = 0;
            firstPage = false;
            next = m_api.videos(since, afterID, kPageLimit, &requests);
            continue;
        }
        firstPage = false;

        // A page is full by the objects the server sent, kept or not. Paging goes on after the
        // last record kept; a server whose full page does not move past the cursor would be
        // asked for the same page for ever. Such a page is refused before any of its rows is
        // kept: a page is taken whole or not at all.
        const bool full = page->objectCount >= kPageLimit;
        const bool movesOn = full && !page->videos.isEmpty() && isAfter(page->videos.last(), since, afterID);
        if (full && !movesOn)
            co_return Outcome::fromError(APIError::badResponse());
        if (total < 0) {
            total = page->total;
            setProgress(m_progressFraction, m_progressReceived, total);
        }
        if (++pagesTaken > pageAllowance(total, kPageLimit))
            co_return Outcome::fromError(
                APIError::badResponse(tr("the service kept sending pages past the %1 videos it announced").arg(total)));
        if (movesOn) {
            since = page->videos.last().updatedAt;
            afterID = page->videos.last().id;
            next = m_api.videos(since, afterID, kPageLimit, &requests);
            // Reading the token for it may wait for the keychain, and other work may run meanwhile.
            if (!self || !isCurrent(session))
                co_return Outcome::abandoned();
        }

        for (const APIVideo &video : page->videos) {
            mergeServerVideo(video);
            if (refreshing)
                delivered.insert(video.youtubeID);
        }
        if (const Outcome saved = saveStore(); !saved.goOn())
            co_return saved;

        received += int(page->videos.size());
        if (total >= 1)
            setProgress(std::min(1.0, double(received) / double(total)), received, total);

        if (full)
            continue;

        if (refreshing) {
            // The synced records this complete pull did not deliver belong to the old revision.
            QList<const Video *> stale;
            for (const Video *video : m_store.synced()) {
                if (!delivered.contains(video->youtubeID))
                    stale.append(video);
            }
            m_store.remove(stale);
            if (const Outcome saved = saveStore(); !saved.goOn())
                co_return saved;
        }
        // Ends a family refresh as well: the store no longer holds records of the old revision.
        if (!m_group.setSyncCursor(page->now, m_store.generation()))
            co_return Outcome::failed(m_group.lastError());
        co_return Outcome::done();
    }
}

} // namespace clipvane
