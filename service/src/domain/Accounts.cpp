#include "domain/Accounts.h"

#include "domain/DomainError.h"
#include "domain/Secrets.h"

#include <QScopeGuard>

namespace clipvane::service {

namespace {

constexpr int kMaxFamilyMembers = 100;
constexpr int kMaxBlocks = 1000;
// Tokens are revoked only by deleting their account, here; other processes only add tokens.
constexpr auto kRememberFor = std::chrono::seconds(60);
// Another instance may revoke a token (by deleting the account): it is believed for less long.
constexpr auto kRememberForShared = std::chrono::seconds(5);
constexpr qsizetype kMaxRemembered = 10'000;
constexpr int kMaxOpenTelegramCodes = 20;

// After the owner's family list changed for this address: the member's feed follows, and the
// member's application learns that it must start its pull over. Nothing for an address
// without an account yet.
void refreshMemberShare(WriteTransaction &tx, const Account &owner, const QString &email)
{
    tx.changedFor(owner.id); // the owner's list of members changed
    auto member = tx.db.prepare("SELECT id FROM users WHERE email = ?1");
    member.bind(1, email);
    if (!member.step())
        return;
    const Account account{member.int64(0), email};
    FeedWriter feed(tx);
    feed.refreshShare(owner.id, account);
    feed.bumpFamilyRevision(account.id);
}

Account accountFor(WriteTransaction &tx, const QString &email)
{
    auto existing = tx.db.prepare("SELECT id FROM users WHERE email = ?1");
    existing.bind(1, email);
    if (existing.step())
        return Account{existing.int64(0), email};
    auto inserted = tx.db.prepare("INSERT INTO users (email, created_at, family_rev) VALUES (?1, ?2, 0) RETURNING id");
    inserted.bind(1, email).bind(2, tx.wallNow());
    if (!inserted.step())
        throw SqlError("no id for a new account");
    const Account account{inserted.int64(0), email};
    // Libraries shared with this address before the account existed become visible now.
    std::vector<qint64> owners;
    {
        auto shares = tx.db.prepare("SELECT owner_id FROM family WHERE member_email = ?1");
        shares.bind(1, email);
        while (shares.step())
            owners.push_back(shares.int64(0));
    }
    FeedWriter feed(tx);
    for (const qint64 owner : owners)
        feed.refreshShare(owner, account);
    if (!owners.empty())
        feed.bumpFamilyRevision(account.id);
    return account;
}

QStringList strings(SqlStatement &query)
{
    QStringList list;
    while (query.step())
        list.append(query.text(0));
    return list;
}

} // namespace

Accounts::Accounts(Storage &storage)
    : m_storage(storage)
    , m_rememberFor(storage.shared() ? kRememberForShared : kRememberFor)
{}

std::optional<Account> Accounts::authenticate(const QString &token)
{
    const QByteArray hash = Secrets::hash(token);
    quint64 forgotten = 0;
    {
        std::lock_guard lock(m_recentMutex);
        forgotten = m_forgotten;
    }
    auto account = m_storage.read([&](SqlConnection &db) -> std::optional<Account> {
        auto query =
            db.prepare("SELECT u.id, u.email FROM tokens t JOIN users u ON u.id = t.user_id WHERE t.hash = ?1");
        query.bind(1, hash);
        if (!query.step())
            return std::nullopt;
        return Account{query.int64(0), query.text(1)};
    });
    if (account) {
        std::lock_guard lock(m_recentMutex);
        // A deletion since the read began may have revoked the token: not remembered then.
        if (forgotten == m_forgotten) {
            if (m_recent.size() >= kMaxRemembered)
                m_recent.clear();
            m_recent.insert(hash, Remembered{*account, std::chrono::steady_clock::now() + m_rememberFor});
        }
    }
    return account;
}

std::optional<Account> Accounts::recentlyAuthenticated(const QString &token)
{
    const QByteArray hash = Secrets::hash(token);
    std::lock_guard lock(m_recentMutex);
    const auto found = m_recent.constFind(hash);
    if (found == m_recent.constEnd() || found->until < std::chrono::steady_clock::now())
        return std::nullopt;
    return found->account;
}

QString Accounts::issueToken(const QString &email)
{
    const QString token = Secrets::newToken();
    m_storage.write([&](WriteTransaction &tx) {
        const Account account = accountFor(tx, email);
        tx.db.prepare("INSERT INTO tokens (hash, user_id, created_at) VALUES (?1, ?2, ?3)")
            .bind(1, Secrets::hash(token))
            .bind(2, account.id)
            .bind(3, tx.wallNow())
            .run();
    });
    return token;
}

FamilyLists Accounts::family(const Account &user)
{
    return m_storage.read([&](SqlConnection &db) {
        FamilyLists lists;
        auto members = db.prepare("SELECT member_email FROM family WHERE owner_id = ?1 ORDER BY member_email");
        members.bind(1, user.id);
        lists.members = strings(members);
        auto owners = db.prepare("SELECT u.email FROM family f JOIN users u ON u.id = f.owner_id WHERE f.member_email "
                                 "= ?1 ORDER BY u.email");
        owners.bind(1, user.email);
        lists.sharedWithMe = strings(owners);
        auto declined =
            db.prepare("SELECT owner_email FROM family_blocks WHERE member_email = ?1 ORDER BY owner_email");
        declined.bind(1, user.email);
        lists.declined = strings(declined);
        return lists;
    });
}

void Accounts::addMember(const Account &user, const QString &email)
{
    if (email == user.email)
        throw DomainError(DomainError::Kind::InvalidInput, "you cannot share your library with yourself");
    m_storage.write([&](WriteTransaction &tx) {
        auto count = tx.db.prepare("SELECT count(*) FROM family WHERE owner_id = ?1");
        count.bind(1, user.id);
        if (count.step() && count.int64(0) >= kMaxFamilyMembers)
            throw DomainError(DomainError::Kind::TooMany, "too many family members");
        // A declined share is not offered again; the owner is not told why.
        auto blocked = tx.db.prepare("SELECT 1 FROM family_blocks WHERE member_email = ?1 AND owner_email = ?2");
        blocked.bind(1, email).bind(2, user.email);
        if (blocked.step())
            return;
        tx.db
            .prepare("INSERT INTO family (owner_id, member_email, created_at) VALUES (?1, ?2, ?3) "
                     "ON CONFLICT DO NOTHING")
            .bind(1, user.id)
            .bind(2, email)
            .bind(3, tx.wallNow())
            .run();
        if (tx.db.changes() != 0)
            refreshMemberShare(tx, user, email);
    });
}

void Accounts::removeMember(const Account &user, const QString &email)
{
    m_storage.write([&](WriteTransaction &tx) {
        tx.db.prepare("DELETE FROM family WHERE owner_id = ?1 AND member_email = ?2")
            .bind(1, user.id)
            .bind(2, email)
            .run();
        if (tx.db.changes() != 0)
            refreshMemberShare(tx, user, email);
    });
}

void Accounts::declineShare(const Account &user, const QString &ownerEmail)
{
    if (ownerEmail == user.email)
        throw DomainError(DomainError::Kind::InvalidInput, "you cannot decline your own library");
    m_storage.write([&](WriteTransaction &tx) {
        auto blocks = tx.db.prepare("SELECT count(*) FROM family_blocks WHERE member_email = ?1");
        blocks.bind(1, user.email);
        if (blocks.step() && blocks.int64(0) >= kMaxBlocks)
            throw DomainError(DomainError::Kind::TooMany, "too many declined addresses");
        tx.db
            .prepare("INSERT INTO family_blocks (member_email, owner_email, created_at) VALUES (?1, ?2, ?3) "
                     "ON CONFLICT DO NOTHING")
            .bind(1, user.email)
            .bind(2, ownerEmail)
            .bind(3, tx.wallNow())
            .run();
        if (tx.db.changes() != 0)
            tx.changedFor(user.id); // the user's list of declined owners changed
        auto owner = tx.db.prepare("SELECT id FROM users WHERE email = ?1");
        owner.bind(1, ownerEmail);
        if (!owner.step())
            return;
        const Account ownerAccount{owner.int64(0), ownerEmail};
        tx.db.prepare("DELETE FROM family WHERE owner_id = ?1 AND member_email = ?2")
            .bind(1, ownerAccount.id)
            .bind(2, user.email)
            .run();
        if (tx.db.changes() != 0)
            refreshMemberShare(tx, ownerAccount, user.email);
    });
}

void Accounts::liftBlock(const Account &user, const QString &ownerEmail)
{
    m_storage.write([&](WriteTransaction &tx) {
        tx.db.prepare("DELETE FROM family_blocks WHERE member_email = ?1 AND owner_email = ?2")
            .bind(1, user.email)
            .bind(2, ownerEmail)
            .run();
        if (tx.db.changes() == 0)
            return;
        tx.changedFor(user.id);
        // The owner may share again: the owner's application hears of it too.
        auto owner = tx.db.prepare("SELECT id FROM users WHERE email = ?1");
        owner.bind(1, ownerEmail);
        if (owner.step())
            tx.changedFor(owner.int64(0));
    });
}

AccountExport Accounts::exportAccount(const Account &user)
{
    AccountExport data;
    data.exportedAt = m_storage.wallNow();
    data.email = user.email;
    const auto links = [](SqlStatement &query) {
        std::vector<AccountExport::Link> list;
        while (query.step())
            list.push_back(AccountExport::Link{query.text(0), query.int64(1)});
        return list;
    };
    m_storage.read([&](SqlConnection &db) {
        {
            auto query = db.prepare("SELECT created_at, family_rev FROM users WHERE id = ?1");
            query.bind(1, user.id);
            data.found = query.step();
            if (data.found) {
                data.createdAt = query.int64(0);
                data.familyRevision = query.int64(1);
            }
        }
        {
            auto query = db.prepare("SELECT created_at FROM tokens WHERE user_id = ?1 ORDER BY created_at");
            query.bind(1, user.id);
            while (query.step())
                data.tokensCreatedAt.push_back(query.int64(0));
        }
        {
            auto query =
                db.prepare("SELECT youtube_id, title, url, upload_date, duration, excluded, source, created_at, "
                           "updated_at, deleted, meta_pending, watched, position FROM videos WHERE user_id = ?1 "
                           "ORDER BY id");
            query.bind(1, user.id);
            while (query.step())
                data.videos.push_back(AccountExport::Video{FeedRow{.youtubeId = query.text(0),
                                                                   .title = query.text(1),
                                                                   .url = query.text(2),
                                                                   .uploadDate = query.text(3),
                                                                   .duration = query.text(4),
                                                                   .excluded = query.int64(5) != 0,
                                                                   .source = query.text(6),
                                                                   .createdAt = query.int64(7),
                                                                   .updatedAt = query.int64(8),
                                                                   .ownerId = user.id,
                                                                   .deleted = query.int64(9) != 0,
                                                                   .watched = query.int64(11) != 0,
                                                                   .position = query.int64(12)},
                                                           query.int64(10) != 0});
        }
        {
            auto query =
                db.prepare("SELECT member_email, created_at FROM family WHERE owner_id = ?1 ORDER BY member_email");
            query.bind(1, user.id);
            data.members = links(query);
        }
        {
            auto query = db.prepare("SELECT u.email, f.created_at FROM family f JOIN users u ON u.id = f.owner_id "
                                    "WHERE f.member_email = ?1 ORDER BY u.email");
            query.bind(1, user.email);
            data.sharedWithMe = links(query);
        }
        {
            auto query = db.prepare(
                "SELECT owner_email, created_at FROM family_blocks WHERE member_email = ?1 ORDER BY owner_email");
            query.bind(1, user.email);
            data.declined = links(query);
        }
        {
            auto query =
                db.prepare("SELECT chat_id, linked_at FROM telegram_chats WHERE user_id = ?1 ORDER BY chat_id");
            query.bind(1, user.id);
            while (query.step())
                data.chats.push_back(AccountExport::Chat{query.int64(0), query.int64(1)});
        }
        {
            auto query = db.prepare("SELECT count(*) FROM telegram_codes WHERE user_id = ?1 AND expires_at > ?2");
            query.bind(1, user.id).bind(2, data.exportedAt);
            data.openLinkCodes = query.step() ? query.int64(0) : 0;
        }
    });
    return data;
}

void Accounts::deleteAccount(const Account &user)
{
    const auto forget = [this] {
        std::lock_guard lock(m_recentMutex);
        m_recent.clear();
        ++m_forgotten;
    };
    forget();
    const auto forgetAgain = qScopeGuard(forget); // also whatever was read while deleting
    m_storage.write([&](WriteTransaction &tx) {
        FeedWriter feed(tx);
        const std::vector<Account> members = feed.membersOf(user.id);
        std::vector<std::vector<QString>> seen;
        seen.reserve(members.size());
        for (const Account &member : members)
            seen.push_back(feed.idsSeenFrom(member.id, user.id));

        for (const char *sql : {"DELETE FROM feed WHERE user_id = ?1", "DELETE FROM videos WHERE user_id = ?1",
                                "DELETE FROM tokens WHERE user_id = ?1", "DELETE FROM family WHERE owner_id = ?1",
                                "DELETE FROM telegram_codes WHERE user_id = ?1",
                                "DELETE FROM telegram_chats WHERE user_id = ?1", "DELETE FROM users WHERE id = ?1"})
            tx.db.prepare(sql).bind(1, user.id).run();
        tx.db.prepare("DELETE FROM family WHERE member_email = ?1").bind(1, user.email).run();
        tx.db.prepare("DELETE FROM family_blocks WHERE member_email = ?1").bind(1, user.email).run();

        // The account's own devices hear of it too: their next pull finds the token revoked.
        tx.changedFor(user.id);
        for (size_t i = 0; i < members.size(); ++i) {
            for (const QString &id : seen[i])
                feed.refresh(members[i], id);
            feed.bumpFamilyRevision(members[i].id);
        }
    });
}

QString Accounts::createTelegramCode(const Account &user, qint64 expiresAt)
{
    const QString code = Secrets::newCode();
    m_storage.write([&](WriteTransaction &tx) {
        {
            tx.db.prepare("DELETE FROM telegram_codes WHERE expires_at <= ?1").bind(1, tx.wallNow()).run();
            auto count = tx.db.prepare("SELECT count(*) FROM telegram_codes WHERE user_id = ?1");
            count.bind(1, user.id);
            if (count.step() && count.int64(0) >= kMaxOpenTelegramCodes)
                tx.db
                    .prepare("DELETE FROM telegram_codes WHERE code IN (SELECT code FROM telegram_codes "
                             "WHERE user_id = ?1 ORDER BY expires_at LIMIT 1)")
                    .bind(1, user.id)
                    .run();
        }
        tx.db.prepare("INSERT INTO telegram_codes (code, user_id, expires_at) VALUES (?1, ?2, ?3)")
            .bind(1, code)
            .bind(2, user.id)
            .bind(3, expiresAt)
            .run();
    });
    return code;
}

bool Accounts::linkTelegramChat(const QString &code, qint64 chatId)
{
    return m_storage.write([&](WriteTransaction &tx) {
        const std::optional<qint64> userId = [&]() -> std::optional<qint64> {
            auto query = tx.db.prepare("SELECT user_id FROM telegram_codes WHERE code = ?1 AND expires_at > ?2");
            query.bind(1, code).bind(2, tx.wallNow());
            return query.step() ? std::optional(query.int64(0)) : std::nullopt;
        }();
        if (!userId)
            return false;
        tx.db.prepare("DELETE FROM telegram_codes WHERE code = ?1").bind(1, code).run();
        tx.db
            .prepare("INSERT INTO telegram_chats (chat_id, user_id, linked_at) VALUES (?1, ?2, ?3) "
                     "ON CONFLICT (chat_id) DO UPDATE SET user_id = excluded.user_id, linked_at = excluded.linked_at")
            .bind(1, chatId)
            .bind(2, *userId)
            .bind(3, tx.wallNow())
            .run();
        return true;
    });
}

std::optional<Account> Accounts::accountForChat(qint64 chatId)
{
    return m_storage.read([&](SqlConnection &db) -> std::optional<Account> {
        auto query = db.prepare(
            "SELECT u.id, u.email FROM telegram_chats c JOIN users u ON u.id = c.user_id WHERE c.chat_id = ?1");
        query.bind(1, chatId);
        if (!query.step())
            return std::nullopt;
        return Account{query.int64(0), query.text(1)};
    });
}

} // namespace clipvane::service
