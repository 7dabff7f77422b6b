#include "domain/FeedWriter.h"

namespace clipvane::service {

namespace {

// Whether the row a user has already shows the standing copy (so it keeps its stamp).
bool sameState(const FeedRow &current, const FeedRow &standing)
{
    return !current.deleted && current.ownerId == standing.ownerId && current.ownerEmail == standing.ownerEmail &&
           current.title == standing.title && current.url == standing.url &&
           current.uploadDate == standing.uploadDate && current.duration == standing.duration &&
           current.source == standing.source && current.excluded == standing.excluded &&
           current.createdAt == standing.createdAt && current.readOnly == standing.readOnly &&
           current.watched == standing.watched && current.position == standing.position;
}

template<typename Row, typename Text> Row readRow(const SqlStatement &query, Text (SqlStatement::*text)(int) const)
{
    return Row{query.int64(0),       (query.*text)(1),     (query.*text)(2),     (query.*text)(3),
               (query.*text)(4),     (query.*text)(5),     query.int64(6) != 0,  (query.*text)(7),
               query.int64(8),       query.int64(9),       query.int64(10),      (query.*text)(11),
               query.int64(12) != 0, query.int64(13) != 0, query.int64(14) != 0, query.int64(15)};
}

} // namespace

FeedWriter::FeedWriter(WriteTransaction &transaction)
    : m_tx(transaction)
{}

void FeedWriter::refresh(const Account &user, const QString &youtubeId)
{
    SqlConnection &db = m_tx.db;
    std::optional<FeedRow> standing;
    {
        auto own = db.prepare("SELECT title, url, upload_date, duration, excluded, source, created_at, watched, "
                              "position FROM videos WHERE user_id = ?1 AND youtube_id = ?2 AND deleted = 0");
        own.bind(1, user.id).bind(2, youtubeId);
        if (own.step())
            standing = FeedRow{.title = own.text(0),
                               .url = own.text(1),
                               .uploadDate = own.text(2),
                               .duration = own.text(3),
                               .excluded = own.int64(4) != 0,
                               .source = own.text(5),
                               .createdAt = own.int64(6),
                               .ownerId = user.id,
                               .watched = own.int64(7) != 0,
                               .position = own.int64(8)};
    }
    if (!standing) {
        // Among several sharing owners the smallest address wins, so every pull agrees.
        auto shared = db.prepare(
            "SELECT v.user_id, o.email, v.title, v.url, v.upload_date, v.duration, v.excluded, v.source, v.created_at "
            "FROM family f JOIN users o ON o.id = f.owner_id "
            "JOIN videos v ON v.user_id = f.owner_id AND v.youtube_id = ?2 AND v.deleted = 0 "
            "WHERE f.member_email = ?1 ORDER BY o.email LIMIT 1");
        shared.bind(1, user.email).bind(2, youtubeId);
        if (shared.step())
            standing = FeedRow{.title = shared.text(2),
                               .url = shared.text(3),
                               .uploadDate = shared.text(4),
                               .duration = shared.text(5),
                               .excluded = shared.int64(6) != 0,
                               .source = shared.text(7),
                               .createdAt = shared.int64(8),
                               .ownerId = shared.int64(0),
                               .ownerEmail = shared.text(1),
                               .readOnly = true};
    }

    const std::optional<FeedRow> current = row(user.id, youtubeId);

    if (!standing) {
        if (current && !current->deleted) {
            db.prepare("UPDATE feed SET deleted = 1, updated_at = ?3 WHERE user_id = ?1 AND youtube_id = ?2")
                .bind(1, user.id)
                .bind(2, youtubeId)
                .bind(3, m_tx.stamp())
                .run();
            m_tx.changedFor(user.id);
        }
        return;
    }
    if (current && sameState(*current, *standing))
        return;
    db.prepare("INSERT INTO feed (user_id, youtube_id, owner_id, owner_email, title, url, upload_date, duration, "
               "excluded, source, created_at, read_only, deleted, updated_at, watched, position) "
               "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, 0, ?13, ?14, ?15) "
               "ON CONFLICT (user_id, youtube_id) DO UPDATE SET owner_id = excluded.owner_id, "
               "owner_email = excluded.owner_email, title = excluded.title, url = excluded.url, "
               "upload_date = excluded.upload_date, duration = excluded.duration, excluded = excluded.excluded, "
               "source = excluded.source, created_at = excluded.created_at, read_only = excluded.read_only, "
               "deleted = 0, updated_at = excluded.updated_at, watched = excluded.watched, "
               "position = excluded.position")
        .bind(1, user.id)
        .bind(2, youtubeId)
        .bind(3, standing->ownerId)
        .bind(4, standing->ownerEmail)
        .bind(5, standing->title)
        .bind(6, standing->url)
        .bind(7, standing->uploadDate)
        .bind(8, standing->duration)
        .bind(9, standing->excluded)
        .bind(10, standing->source)
        .bind(11, standing->createdAt)
        .bind(12, standing->readOnly)
        .bind(13, m_tx.stamp())
        .bind(14, standing->watched)
        .bind(15, standing->position)
        .run();
    m_tx.changedFor(user.id);
}

void FeedWriter::refreshOwnerVideo(const Account &owner, const QString &youtubeId)
{
    refresh(owner, youtubeId);
    for (const Account &member : membersOf(owner.id))
        refresh(member, youtubeId);
}

void FeedWriter::refreshShare(qint64 ownerId, const Account &member)
{
    std::vector<QString> ids = idsSeenFrom(member.id, ownerId);
    {
        auto owned = m_tx.db.prepare("SELECT youtube_id FROM videos WHERE user_id = ?1 AND deleted = 0");
        owned.bind(1, ownerId);
        while (owned.step())
            ids.push_back(owned.text(0));
    }
    for (const QString &id : ids)
        refresh(member, id);
}

void FeedWriter::redeliver(qint64 userId, const QString &youtubeId)
{
    m_tx.db.prepare("UPDATE feed SET updated_at = ?3 WHERE user_id = ?1 AND youtube_id = ?2")
        .bind(1, userId)
        .bind(2, youtubeId)
        .bind(3, m_tx.stamp())
        .run();
    m_tx.changedFor(userId);
}

void FeedWriter::bumpFamilyRevision(qint64 userId)
{
    m_tx.db.prepare("UPDATE users SET family_rev = ?2 WHERE id = ?1").bind(1, userId).bind(2, m_tx.stamp()).run();
    m_tx.changedFor(userId);
}

std::vector<Account> FeedWriter::membersOf(qint64 ownerId)
{
    std::vector<Account> members;
    auto query = m_tx.db.prepare(
        "SELECT u.id, u.email FROM family f JOIN users u ON u.email = f.member_email WHERE f.owner_id = ?1");
    query.bind(1, ownerId);
    while (query.step())
        members.push_back(Account{query.int64(0), query.text(1)});
    return members;
}

std::vector<QString> FeedWriter::idsSeenFrom(qint64 userId, qint64 ownerId)
{
    std::vector<QString> ids;
    auto query = m_tx.db.prepare("SELECT youtube_id FROM feed WHERE user_id = ?1 AND owner_id = ?2 AND deleted = 0");
    query.bind(1, userId).bind(2, ownerId);
    while (query.step())
        ids.push_back(query.text(0));
    return ids;
}

std::optional<FeedRow> FeedWriter::row(qint64 userId, const QString &youtubeId)
{
    auto query =
        m_tx.db.prepare("SELECT " CLIPVANE_FEED_ROW_COLUMNS " FROM feed WHERE user_id = ?1 AND youtube_id = ?2");
    query.bind(1, userId).bind(2, youtubeId);
    if (!query.step())
        return std::nullopt;
    return read(query);
}

FeedRow FeedWriter::read(const SqlStatement &query)
{
    return readRow<FeedRow>(query, &SqlStatement::text);
}

FeedRowView FeedWriter::view(const SqlStatement &query)
{
    return readRow<FeedRowView>(query, &SqlStatement::utf8);
}

FeedRow FeedWriter::insertDeletionRecord(qint64 userId, const QString &youtubeId)
{
    m_tx.db
        .prepare("INSERT INTO feed (user_id, youtube_id, owner_id, owner_email, title, url, upload_date, duration, "
                 "excluded, source, created_at, read_only, deleted, updated_at) "
                 "VALUES (?1, ?2, 0, '', '', '', '', '', 0, '', 0, 0, 1, ?3)")
        .bind(1, userId)
        .bind(2, youtubeId)
        .bind(3, m_tx.stamp())
        .run();
    m_tx.changedFor(userId);
    return *row(userId, youtubeId);
}

} // namespace clipvane::service
