#include "domain/FeedWriter.h"

namespace clipvane::service {

namespace {

// The copy that stands for an ID in a user's feed.
struct Standing
{
    qint64 ownerId = 0;
    QString ownerEmail;
    QString title, url, uploadDate, duration, source;
    qint64 excluded = 0;
    qint64 createdAt = 0;
    bool readOnly = false;
};

struct Current
{
    qint64 ownerId = 0;
    QString ownerEmail;
    QString title, url, uploadDate, duration, source;
    qint64 excluded = 0;
    qint64 createdAt = 0;
    bool readOnly = false;
    bool deleted = false;
};

bool sameState(const Current &current, const Standing &standing)
{
    return !current.deleted && current.ownerId == standing.ownerId && current.ownerEmail == standing.ownerEmail &&
           current.title == standing.title && current.url == standing.url &&
           current.uploadDate == standing.uploadDate && current.duration == standing.duration &&
           current.source == standing.source && current.excluded == standing.excluded &&
           current.createdAt == standing.createdAt && current.readOnly == standing.readOnly;
}

} // namespace

FeedWriter::FeedWriter(WriteTransaction &transaction)
    : m_tx(transaction)
{}

void FeedWriter::refresh(const Account &user, const QString &youtubeId)
{
    SqlConnection &db = m_tx.db;
    std::optional<Standing> standing;
    {
        auto own = db.prepare("SELECT title, url, upload_date, duration, excluded, source, created_at FROM videos "
                              "WHERE user_id = ?1 AND youtube_id = ?2 AND deleted = 0");
        own.bind(1, user.id).bind(2, youtubeId);
        if (own.step())
            standing = Standing{user.id,     QString(),   own.text(0),  own.text(1),  own.text(2),
                                own.text(3), own.text(5), own.int64(4), own.int64(6), false};
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
            standing = Standing{shared.int64(0), shared.text(1), shared.text(2),  shared.text(3),  shared.text(4),
                                shared.text(5),  shared.text(7), shared.int64(6), shared.int64(8), true};
    }

    std::optional<Current> current;
    {
        auto row = db.prepare("SELECT owner_id, owner_email, title, url, upload_date, duration, excluded, source, "
                              "created_at, read_only, deleted FROM feed WHERE user_id = ?1 AND youtube_id = ?2");
        row.bind(1, user.id).bind(2, youtubeId);
        if (row.step())
            current =
                Current{row.int64(0), row.text(1),  row.text(2),  row.text(3),       row.text(4),       row.text(5),
                        row.text(7),  row.int64(6), row.int64(8), row.int64(9) != 0, row.int64(10) != 0};
    }

    if (!standing) {
        if (current && !current->deleted)
            db.prepare("UPDATE feed SET deleted = 1, updated_at = ?3 WHERE user_id = ?1 AND youtube_id = ?2")
                .bind(1, user.id)
                .bind(2, youtubeId)
                .bind(3, m_tx.stamp())
                .run();
        return;
    }
    if (current && sameState(*current, *standing))
        return;
    db.prepare("INSERT INTO feed (user_id, youtube_id, owner_id, owner_email, title, url, upload_date, duration, "
               "excluded, source, created_at, read_only, deleted, updated_at) "
               "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, 0, ?13) "
               "ON CONFLICT (user_id, youtube_id) DO UPDATE SET owner_id = excluded.owner_id, "
               "owner_email = excluded.owner_email, title = excluded.title, url = excluded.url, "
               "upload_date = excluded.upload_date, duration = excluded.duration, excluded = excluded.excluded, "
               "source = excluded.source, created_at = excluded.created_at, read_only = excluded.read_only, "
               "deleted = 0, updated_at = excluded.updated_at")
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
        .run();
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
}

void FeedWriter::bumpFamilyRevision(qint64 userId)
{
    m_tx.db.prepare("UPDATE users SET family_rev = ?2 WHERE id = ?1").bind(1, userId).bind(2, m_tx.stamp()).run();
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
    auto query = m_tx.db.prepare("SELECT id, youtube_id, title, url, upload_date, duration, excluded, source, "
                                 "created_at, updated_at, owner_email, read_only, deleted FROM feed "
                                 "WHERE user_id = ?1 AND youtube_id = ?2");
    query.bind(1, userId).bind(2, youtubeId);
    if (!query.step())
        return std::nullopt;
    return FeedRow{query.int64(0), query.text(1),        query.text(2),       query.text(3),  query.text(4),
                   query.text(5),  query.int64(6) != 0,  query.text(7),       query.int64(8), query.int64(9),
                   query.text(10), query.int64(11) != 0, query.int64(12) != 0};
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
    return *row(userId, youtubeId);
}

} // namespace clipvane::service
