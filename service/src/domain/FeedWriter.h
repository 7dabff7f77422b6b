#pragma once

#include "db/Storage.h"
#include "domain/FeedRow.h"

#include <optional>
#include <vector>

// The columns of a whole feed row, in the order FeedWriter::read and view take them. A macro,
// so that queries join it into their literal text (statements are cached by that text).
#define CLIPVANE_FEED_ROW_COLUMNS                                                                                      \
    "id, youtube_id, title, url, upload_date, duration, excluded, source, created_at, updated_at, owner_id, "          \
    "owner_email, read_only, deleted, watched, position"

namespace clipvane::service {

struct Account
{
    qint64 id = 0;
    QString email;
};

// Keeps each user's feed (what the pull delivers) in step with the owners' libraries and
// the family links, inside the caller's write transaction. Every feed row that changes
// gets the transaction's stamp, so pullers receive it after everything they already have.
class FeedWriter
{
public:
    explicit FeedWriter(WriteTransaction &transaction);

    // Recomputes what `user` sees for one video ID: the own live copy wins; otherwise the
    // live copy of the sharing owner with the smallest e-mail address; otherwise a deletion
    // record when the user saw something before. Unchanged rows keep their stamp.
    void refresh(const Account &user, const QString &youtubeId);
    // The owner's copy of youtubeId changed: refresh the owner and every member who sees it.
    void refreshOwnerVideo(const Account &owner, const QString &youtubeId);
    // A share between owner and member began or ended.
    void refreshShare(qint64 ownerId, const Account &member);
    // Stamps the user's row again so the next pull delivers it once more (a client that
    // tried to change what it may not change gets the standing copy back).
    void redeliver(qint64 userId, const QString &youtubeId);
    // The set of libraries the user sees changed.
    void bumpFamilyRevision(qint64 userId);

    // Member accounts that see the owner's library.
    std::vector<Account> membersOf(qint64 ownerId);
    // IDs of the user's live rows that come from the owner's library.
    std::vector<QString> idsSeenFrom(qint64 userId, qint64 ownerId);
    std::optional<FeedRow> row(qint64 userId, const QString &youtubeId);

    // Adds a deletion record for an ID the user never saw (see Library::patch).
    FeedRow insertDeletionRecord(qint64 userId, const QString &youtubeId);

    // The row a query stands on that selected CLIPVANE_FEED_ROW_COLUMNS first.
    static FeedRow read(const SqlStatement &query);
    static FeedRowView view(const SqlStatement &query);

private:
    WriteTransaction &m_tx;
};

} // namespace clipvane::service
