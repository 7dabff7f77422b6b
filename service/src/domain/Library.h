#pragma once

#include "db/Storage.h"
#include "domain/FeedRow.h"
#include "domain/FeedWriter.h"
#include "domain/MetadataPacer.h"
#include "domain/VideoLink.h"
#include "outbound/CircuitBreaker.h"
#include "outbound/MetadataProvider.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace clipvane::service {

// How often and how patiently missing metadata is fetched again. The add itself counts as
// the first attempt; attempt n+1 waits firstDelayMs x factor^(n-1) after attempt n.
struct MetadataRetry
{
    int attempts = 5;
    qint64 firstDelayMs = 60'000;
    int factor = 4;
    // After this many failed fetches in a row adds stop waiting on the provider for openMs
    // (they answer with the fallback title at once and the worker fetches later).
    int failuresToOpen = 3;
    qint64 openMs = 30'000;
};

// A change of details; absent fields stay as they are.
struct VideoPatch
{
    QString youtubeId;
    std::optional<bool> excluded;
    std::optional<QString> title;
    std::optional<QString> uploadDate;
    std::optional<QString> duration;
    std::optional<bool> watched;
    std::optional<qint64> position; // whole seconds, checked by the caller
};

struct FeedPage
{
    qint64 rows = 0;
    qint64 now = 0;
    qint64 familyRevision = 0;
    qint64 total = 0;
};

// A video whose metadata is still missing.
struct PendingMetadata
{
    qint64 videoId = 0;
    QString youtubeId;
    QString url;
};

// The video operations of the API and of the Telegram bot, each one transaction.
class Library
{
public:
    Library(Storage &storage, MetadataProvider &provider, MetadataRetry retry, MetadataPacing pacing = {});

    // Adds a link to the user's library, or returns the live copy already there (a given
    // title replaces its title); a deleted copy is revived. A lone add fetches metadata
    // before the write; an add among many (an import) does not wait on the provider. When
    // metadata is not had the video keeps a fallback title and is queued.
    FeedRow add(const Account &user, const VideoLink &link, const QString &title, const QString &source);
    // Changes the user's own copy (reviving a deleted one). For anything the user may not
    // change, the video as the user sees it, unchanged.
    FeedRow patch(const Account &user, const VideoPatch &patch);
    // Both throw DomainError (UnknownAccount) when the account is gone.
    // Marks the own copy deleted; anything else is left alone (and delivered again).
    void remove(const Account &user, const QString &youtubeId);

    // Visits the rows after (since, afterId) in (updated_at, id) order, and reports the clock,
    // the family revision and, on a pull's first page (afterId 0), the number of rows the pull
    // delivers (a later page reports its own rows), all from one snapshot. A page costs the
    // same whatever the library's size; only the first page's count reads every row it names.
    FeedPage page(const Account &user, qint64 since, qint64 afterId, int limit,
                  const std::function<void(const FeedRowView &)> &visit);
    // Everything live the user sees, for the assistant, in the order the rows were created.
    QList<FeedRow> visibleVideos(const Account &user);

    // For the metadata worker.
    qint64 wallNow() const { return m_storage.wallNow(); }
    std::optional<qint64> nextMetadataDue();
    // Oldest first.
    std::vector<PendingMetadata> dueMetadata(qint64 now, int max);
    // Fetches the videos' metadata in as few provider calls as it allows (at most
    // metadataBatchLimit() videos per call), paced, and stores what came; waits for the pace.
    void retryMetadata(const std::vector<PendingMetadata> &batch);
    int metadataBatchLimit() const { return std::max(m_provider.batchLimit(), 1); }
    // How often adds stopped asking the provider because it kept failing.
    int metadataBreakerOpenings() const { return m_breakerOpenings.load(); }

    // Called (outside any lock) whenever a video is queued for metadata.
    void setMetadataQueuedCallback(std::function<void()> callback) { m_queued = std::move(callback); }

private:
    std::optional<VideoMetadata> fetchMetadata(const QString &youtubeId, const QString &url);
    // Only for what a provider is asked about (YouTube links); the breaker learns the outcome.
    std::optional<VideoMetadata> fetchTracked(const QString &youtubeId, const QString &url);
    void tellBreaker(bool answered);
    // Whether an add of a YouTube video asks the provider itself (see Library.cpp).
    enum class InlineFetch { Ask, Busy, Resting };
    InlineFetch inlineFetch(qint64 waitingOfAccount);
    qint64 retryDelay(int failedAttempts) const;
    // Stores what one retry found (none: counts the attempt and plans the next).
    void storeRetry(WriteTransaction &tx, const PendingMetadata &item, const std::optional<VideoMetadata> &metadata);

    Storage &m_storage;
    MetadataProvider &m_provider;
    MetadataRetry m_retry;
    MetadataPacing m_pacing;
    MetadataPacer m_pacer;    // of every call to the provider, adds and worker alike
    CircuitBreaker m_breaker; // of the provider, as adds see it
    std::atomic<int> m_breakerOpenings{0};
    std::function<void()> m_queued;
};

} // namespace clipvane::service
