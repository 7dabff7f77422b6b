#include "domain/Library.h"

#include "domain/DomainError.h"

#include <QRegularExpression>

#include <cmath>
#include <cstdio>

namespace clipvane::service {

namespace {

constexpr qsizetype kMaxStoredTitle = 1000;

void requireAccount(WriteTransaction &tx, const Account &user)
{
    auto query = tx.db.prepare("SELECT 1 FROM users WHERE id = ?1");
    query.bind(1, user.id);
    if (!query.step())
        throw DomainError(DomainError::Kind::UnknownAccount, "unknown or revoked token");
}

std::optional<Account> ownerOf(SqlConnection &db, qint64 userId)
{
    auto query = db.prepare("SELECT email FROM users WHERE id = ?1");
    query.bind(1, userId);
    if (!query.step())
        return std::nullopt;
    return Account{userId, query.text(0)};
}

// What an outside provider reports is checked like any outside input: only well-formed
// dates and lengths are kept, and the title is bounded.
VideoMetadata cleaned(VideoMetadata metadata)
{
    static const QRegularExpression date(u"^\\d{4}-\\d{2}-\\d{2}$"_qs);
    static const QRegularExpression length(u"^\\d{1,4}:\\d{2}(:\\d{2})?$"_qs);
    metadata.title = metadata.title.simplified().left(kMaxStoredTitle);
    if (!date.match(metadata.uploadDate).hasMatch())
        metadata.uploadDate.clear();
    if (!length.match(metadata.duration).hasMatch())
        metadata.duration.clear();
    return metadata;
}

} // namespace

Library::Library(Storage &storage, MetadataProvider &provider, MetadataRetry retry, MetadataPacing pacing)
    : m_storage(storage)
    , m_provider(provider)
    , m_retry(retry)
    , m_pacing(pacing)
    , m_pacer(pacing)
    , m_breaker(retry.failuresToOpen, std::chrono::milliseconds(retry.openMs))
{}

std::optional<VideoMetadata> Library::fetchMetadata(const QString &youtubeId, const QString &url)
{
    try {
        if (auto metadata = m_provider.fetch(youtubeId, url))
            return cleaned(*metadata);
    } catch (const std::exception &) {
        // A provider that fails loudly counts as a provider that found nothing.
    }
    return std::nullopt;
}

std::optional<VideoMetadata> Library::fetchTracked(const QString &youtubeId, const QString &url)
{
    auto metadata = fetchMetadata(youtubeId, url);
    tellBreaker(metadata.has_value());
    return metadata;
}

void Library::tellBreaker(bool answered)
{
    if (answered) {
        m_breaker.succeeded();
    } else if (m_breaker.failed()) {
        ++m_breakerOpenings;
        std::fprintf(stderr, "clipvane-service: the metadata provider keeps failing; adds stop asking it for %lld s\n",
                     static_cast<long long>(m_retry.openMs / 1000));
    }
}

// A lone add asks the provider before it answers, so the person sees the title at once.
// An add among many does not: when the account already has inlineBelowBacklog videos waiting
// for the worker (an import is under way), or the provider's pace has no call free right now,
// the add answers at once with the fallback title and the worker, woken, fetches in batches at
// the provider's pace. The worker leaves a call free for adds, so a lone add made while
// someone's import drains still asks at once. While the provider keeps failing no add asks.
Library::InlineFetch Library::inlineFetch(qint64 waitingOfAccount)
{
    if (waitingOfAccount >= m_pacing.inlineBelowBacklog || !m_pacer.tryTake())
        return InlineFetch::Busy;
    return m_breaker.allow() ? InlineFetch::Ask : InlineFetch::Resting;
}

qint64 Library::retryDelay(int failedAttempts) const
{
    return qint64(double(m_retry.firstDelayMs) * std::pow(double(m_retry.factor), std::max(0, failedAttempts - 1)));
}

FeedRow Library::add(const Account &user, const VideoLink &link, const QString &title, const QString &source)
{
    const QString givenTitle = title.trimmed();
    qint64 waiting = 0;
    const bool alreadyLive = m_storage.read([&](SqlConnection &db) {
        auto query = db.prepare("SELECT 1 FROM videos WHERE user_id = ?1 AND youtube_id = ?2 AND deleted = 0");
        query.bind(1, user.id).bind(2, link.youtubeId);
        if (query.step())
            return true;
        if (link.youtube) {
            // The account's videos due for the worker, counted no further than the bound, on the
            // account's own index of waiting videos: the count costs the bound at most, never
            // what the library holds nor what other accounts have waiting.
            auto due = db.prepare("SELECT count(*) FROM (SELECT 1 FROM videos WHERE user_id = ?1 AND "
                                  "meta_pending = 1 AND meta_next_at <= ?2 AND deleted = 0 LIMIT ?3) AS waiting");
            due.bind(1, user.id).bind(2, m_storage.wallNow()).bind(3, qint64(m_pacing.inlineBelowBacklog));
            waiting = due.step() ? due.int64(0) : 0;
        }
        return false;
    });
    std::optional<VideoMetadata> metadata;
    // An add that did not ask used none of the video's attempts: the worker has them all.
    const InlineFetch fetch = !alreadyLive && link.youtube ? inlineFetch(waiting) : InlineFetch::Resting;
    const bool asked = fetch == InlineFetch::Ask;
    if (asked)
        metadata = fetchTracked(link.youtubeId, link.url);

    bool queued = false;
    FeedRow row = m_storage.write([&](WriteTransaction &tx) {
        requireAccount(tx, user);
        FeedWriter feed(tx);
        auto existing = tx.db.prepare("SELECT id, deleted, title FROM videos WHERE user_id = ?1 AND youtube_id = ?2");
        existing.bind(1, user.id).bind(2, link.youtubeId);
        const bool found = existing.step();
        const qint64 videoId = found ? existing.int64(0) : 0;
        const bool deleted = found && existing.int64(1) != 0;
        const QString currentTitle = found ? existing.text(2) : QString();

        if (found && !deleted) {
            if (!givenTitle.isEmpty() && givenTitle != currentTitle) {
                tx.db.prepare("UPDATE videos SET title = ?2, title_from_user = 1, updated_at = ?3 WHERE id = ?1")
                    .bind(1, videoId)
                    .bind(2, givenTitle)
                    .bind(3, tx.stamp())
                    .run();
                feed.refreshOwnerVideo(user, link.youtubeId);
            }
            return *feed.row(user.id, link.youtubeId);
        }

        const bool missing = link.youtube && !metadata;
        QString newTitle = givenTitle;
        if (newTitle.isEmpty())
            newTitle = metadata && !metadata->title.isEmpty() ? metadata->title : link.fallbackTitle();
        newTitle = newTitle.left(kMaxStoredTitle);
        const QString uploadDate = metadata ? metadata->uploadDate : QString();
        const QString duration = metadata ? metadata->duration : QString();
        // Left for the worker because the add was one of many: due at once. After a failure,
        // or while the provider rests: after the first pause.
        const qint64 nextAttempt = tx.wallNow() + (fetch == InlineFetch::Busy ? 0 : retryDelay(1));
        if (found) {
            // A revived video is added afresh: new details, new creation time.
            tx.db
                .prepare("UPDATE videos SET title = ?2, url = ?3, upload_date = ?4, duration = ?5, excluded = 0, "
                         "source = ?6, created_at = ?7, updated_at = ?8, deleted = 0, title_from_user = ?9, "
                         "meta_pending = ?10, meta_attempts = ?12, meta_next_at = ?11, watched = 0, position = 0 "
                         "WHERE id = ?1")
                .bind(1, videoId)
                .bind(2, newTitle)
                .bind(3, link.url)
                .bind(4, uploadDate)
                .bind(5, duration)
                .bind(6, source)
                .bind(7, tx.wallNow())
                .bind(8, tx.stamp())
                .bind(9, !givenTitle.isEmpty())
                .bind(10, missing)
                .bind(11, nextAttempt)
                .bind(12, asked ? 1 : 0)
                .run();
        } else {
            tx.db
                .prepare(
                    "INSERT INTO videos (user_id, youtube_id, title, url, upload_date, duration, excluded, source, "
                    "created_at, updated_at, deleted, title_from_user, meta_pending, meta_attempts, meta_next_at) "
                    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, 0, ?7, ?8, ?9, 0, ?10, ?11, ?13, ?12)")
                .bind(1, user.id)
                .bind(2, link.youtubeId)
                .bind(3, newTitle)
                .bind(4, link.url)
                .bind(5, uploadDate)
                .bind(6, duration)
                .bind(7, source)
                .bind(8, tx.wallNow())
                .bind(9, tx.stamp())
                .bind(10, !givenTitle.isEmpty())
                .bind(11, missing)
                .bind(12, nextAttempt)
                .bind(13, asked ? 1 : 0)
                .run();
        }
        queued = missing;
        feed.refreshOwnerVideo(user, link.youtubeId);
        return *feed.row(user.id, link.youtubeId);
    });
    if (queued && m_queued)
        m_queued();
    return row;
}

FeedRow Library::patch(const Account &user, const VideoPatch &patch)
{
    return m_storage.write([&](WriteTransaction &tx) {
        requireAccount(tx, user);
        FeedWriter feed(tx);
        auto own = tx.db.prepare("SELECT id FROM videos WHERE user_id = ?1 AND youtube_id = ?2");
        own.bind(1, user.id).bind(2, patch.youtubeId);
        if (!own.step()) {
            // Not the user's to change. The reply is what the user sees, and the row is
            // delivered again, so the client settles on the service's copy instead of
            // retrying; an ID the user never saw gets a deletion record.
            auto row = feed.row(user.id, patch.youtubeId);
            if (row && !row->deleted)
                return *row;
            if (row) {
                feed.redeliver(user.id, patch.youtubeId);
                return *feed.row(user.id, patch.youtubeId);
            }
            return feed.insertDeletionRecord(user.id, patch.youtubeId);
        }
        const qint64 videoId = own.int64(0);
        // A blank title would leave the video nameless: the title stays as it is.
        const bool newTitle = patch.title && !patch.title->trimmed().isEmpty();
        tx.db
            .prepare("UPDATE videos SET title = CASE WHEN ?2 THEN ?3 ELSE title END, "
                     "title_from_user = CASE WHEN ?2 THEN 1 ELSE title_from_user END, "
                     "upload_date = CASE WHEN ?4 THEN ?5 ELSE upload_date END, "
                     "duration = CASE WHEN ?6 THEN ?7 ELSE duration END, "
                     "excluded = CASE WHEN ?8 THEN ?9 ELSE excluded END, "
                     "watched = CASE WHEN ?11 THEN ?12 ELSE watched END, "
                     "position = CASE WHEN ?13 THEN ?14 ELSE position END, "
                     "deleted = 0, updated_at = ?10 WHERE id = ?1")
            .bind(1, videoId)
            .bind(2, newTitle)
            .bind(3, newTitle ? *patch.title : QString())
            .bind(4, patch.uploadDate.has_value())
            .bind(5, patch.uploadDate.value_or(QString()))
            .bind(6, patch.duration.has_value())
            .bind(7, patch.duration.value_or(QString()))
            .bind(8, patch.excluded.has_value())
            .bind(9, patch.excluded.value_or(false))
            .bind(10, tx.stamp())
            .bind(11, patch.watched.has_value())
            .bind(12, patch.watched.value_or(false))
            .bind(13, patch.position.has_value())
            .bind(14, patch.position.value_or(0))
            .run();
        feed.refreshOwnerVideo(user, patch.youtubeId);
        return *feed.row(user.id, patch.youtubeId);
    });
}

void Library::remove(const Account &user, const QString &youtubeId)
{
    m_storage.write([&](WriteTransaction &tx) {
        FeedWriter feed(tx);
        tx.db
            .prepare("UPDATE videos SET deleted = 1, meta_pending = 0, updated_at = ?3 "
                     "WHERE user_id = ?1 AND youtube_id = ?2 AND deleted = 0")
            .bind(1, user.id)
            .bind(2, youtubeId)
            .bind(3, tx.stamp())
            .run();
        if (tx.db.changes() > 0) {
            feed.refreshOwnerVideo(user, youtubeId);
            return;
        }
        // A shared video the client dropped comes back on its next pull.
        if (const auto row = feed.row(user.id, youtubeId); row && !row->deleted)
            feed.redeliver(user.id, youtubeId);
    });
}

FeedPage Library::page(const Account &user, qint64 since, qint64 afterId, int limit,
                       const std::function<void(const FeedRowView &)> &visit)
{
    return m_storage.read([&](SqlConnection &db) {
        FeedPage page;
        auto take = [&](SqlStatement &rows) {
            while (rows.step()) {
                visit(FeedWriter::view(rows));
                ++page.rows;
            }
        };
        // Only rows stamped below "now" are served: on a shared database a transaction still
        // running may yet commit rows above the snapshot's last stamp (see Storage::readNow).
        page.now = m_storage.readNow(db);
        // Two exact index seeks: the rest of the cursor's own stamp, then the later stamps.
        // (A single "(updated_at, id) > (?, ?)" would rescan every row of a shared stamp on
        // each page, and a share stamps a whole library at once.) The cursor's stamp is served
        // only when it lies below now, tested here rather than in the query: a bound on
        // updated_at beside the equality makes SQLite seek the range instead, and read and
        // sort the whole library on every page.
        if (since < page.now) {
            auto sameStamp = db.prepare("SELECT " CLIPVANE_FEED_ROW_COLUMNS " FROM feed "
                                        "WHERE user_id = ?1 AND updated_at = ?2 AND id > ?3 ORDER BY id LIMIT ?4");
            sameStamp.bind(1, user.id).bind(2, since).bind(3, afterId).bind(4, limit);
            take(sameStamp);
        }
        if (page.rows < limit) {
            auto later = db.prepare("SELECT " CLIPVANE_FEED_ROW_COLUMNS " FROM feed "
                                    "WHERE user_id = ?1 AND updated_at > ?2 AND updated_at < ?4 "
                                    "ORDER BY updated_at, id LIMIT ?3");
            later.bind(1, user.id).bind(2, since).bind(3, limit - page.rows).bind(4, page.now);
            take(later);
        }
        // What the whole pull delivers is counted on its first page only (after_id 0, so every
        // row stamped from the cursor on): clients read it there, and counting what is left on
        // every page would read the rest of the library each time. A later page reports its own rows.
        if (page.rows < limit || afterId != 0) {
            page.total = page.rows;
        } else {
            auto all =
                db.prepare("SELECT count(*) FROM feed WHERE user_id = ?1 AND updated_at >= ?2 AND updated_at < ?3");
            all.bind(1, user.id).bind(2, since).bind(3, page.now);
            page.total = all.step() ? all.int64(0) : page.rows;
        }
        auto revision = db.prepare("SELECT family_rev FROM users WHERE id = ?1");
        revision.bind(1, user.id);
        page.familyRevision = revision.step() ? revision.int64(0) : 0;
        return page;
    });
}

QList<FeedRow> Library::visibleVideos(const Account &user)
{
    return m_storage.read([&](SqlConnection &db) {
        QList<FeedRow> videos;
        auto rows = db.prepare("SELECT " CLIPVANE_FEED_ROW_COLUMNS " FROM feed WHERE user_id = ?1 AND deleted = 0 "
                               "ORDER BY id");
        rows.bind(1, user.id);
        while (rows.step())
            videos.append(FeedWriter::read(rows));
        return videos;
    });
}

std::optional<qint64> Library::nextMetadataDue()
{
    return m_storage.read([](SqlConnection &db) -> std::optional<qint64> {
        auto query = db.prepare("SELECT min(meta_next_at) FROM videos WHERE meta_pending = 1 AND deleted = 0");
        if (!query.step() || query.isNull(0))
            return std::nullopt;
        return query.int64(0);
    });
}

std::vector<PendingMetadata> Library::dueMetadata(qint64 now, int max)
{
    return m_storage.read([&](SqlConnection &db) {
        std::vector<PendingMetadata> due;
        auto query = db.prepare(
            "SELECT id, youtube_id, url FROM videos WHERE meta_pending = 1 AND deleted = 0 AND meta_next_at <= ?1 "
            "ORDER BY meta_next_at, id LIMIT ?2");
        query.bind(1, now).bind(2, max);
        while (query.step())
            due.push_back(PendingMetadata{query.int64(0), query.text(1), query.text(2)});
        return due;
    });
}

void Library::retryMetadata(const std::vector<PendingMetadata> &batch)
{
    QList<MetadataAsk> asks;
    for (const PendingMetadata &item : batch)
        asks.append(MetadataAsk{item.youtubeId, item.url});
    QHash<QString, VideoMetadata> found;
    int calls = 0;
    try {
        found = m_provider.fetchMany(asks, [this, &calls] {
            m_pacer.take();
            ++calls;
        });
    } catch (const std::exception &) {
        // A provider that fails loudly counts as a provider that found nothing.
    }
    // A batch answered for some of its videos is a provider at work: the others are unknown
    // to it, not signs of trouble. Waiting for the pace is never a failure.
    if (calls > 0)
        tellBreaker(!found.isEmpty());
    m_storage.write([&](WriteTransaction &tx) {
        for (const PendingMetadata &item : batch) {
            const auto it = found.constFind(item.youtubeId);
            storeRetry(tx, item, it == found.cend() ? std::nullopt : std::optional(cleaned(*it)));
        }
    });
}

void Library::storeRetry(WriteTransaction &tx, const PendingMetadata &item,
                         const std::optional<VideoMetadata> &metadata)
{
    auto video = tx.db.prepare("SELECT user_id, title_from_user, upload_date, duration, meta_attempts, title "
                               "FROM videos WHERE id = ?1 AND meta_pending = 1 AND deleted = 0");
    video.bind(1, item.videoId);
    if (!video.step())
        return; // deleted, filled or gone meanwhile
    const qint64 ownerId = video.int64(0);
    const bool titleFromUser = video.int64(1) != 0;
    const bool hasDate = !video.text(2).isEmpty();
    const bool hasDuration = !video.text(3).isEmpty();
    const int attempts = int(video.int64(4)) + 1;
    const QString title = video.text(5);
    if (!metadata) {
        const bool giveUp = attempts >= m_retry.attempts;
        tx.db.prepare("UPDATE videos SET meta_attempts = ?2, meta_pending = ?3, meta_next_at = ?4 WHERE id = ?1")
            .bind(1, item.videoId)
            .bind(2, attempts)
            .bind(3, !giveUp)
            .bind(4, tx.wallNow() + retryDelay(attempts))
            .run();
        return;
    }
    // The user's own words win over what the provider says.
    const QString newTitle = !titleFromUser && !metadata->title.isEmpty() ? metadata->title : title;
    tx.db
        .prepare("UPDATE videos SET title = ?2, upload_date = CASE WHEN ?3 THEN upload_date ELSE ?4 END, "
                 "duration = CASE WHEN ?5 THEN duration ELSE ?6 END, meta_pending = 0, meta_attempts = ?7, "
                 "updated_at = ?8 WHERE id = ?1")
        .bind(1, item.videoId)
        .bind(2, newTitle)
        .bind(3, hasDate)
        .bind(4, metadata->uploadDate)
        .bind(5, hasDuration)
        .bind(6, metadata->duration)
        .bind(7, attempts)
        .bind(8, tx.stamp())
        .run();
    if (const auto owner = ownerOf(tx.db, ownerId))
        FeedWriter(tx).refreshOwnerVideo(*owner, item.youtubeId);
}

} // namespace clipvane::service
