#pragma once

#include "db/Storage.h"
#include "domain/AccountExport.h"
#include "domain/FeedWriter.h"

#include <QStringList>

#include <QHash>

#include <chrono>
#include <mutex>
#include <optional>

namespace clipvane::service {

struct FamilyLists
{
    QStringList members;      // people who see the user's library
    QStringList sharedWithMe; // owners whose libraries the user sees
    QStringList declined;     // owners whose shares the user declined
};

// Accounts, tokens, family links and Telegram links.
class Accounts
{
public:
    explicit Accounts(Storage &storage);

    std::optional<Account> authenticate(const QString &token);
    // The account of a token authenticated lately, from memory only (never waits on storage):
    // none when the token was not seen lately. Deleting an account forgets every token.
    std::optional<Account> recentlyAuthenticated(const QString &token);
    // Creates the account when needed and returns a new bearer token. The address must
    // already be normalised (see normaliseEmail).
    QString issueToken(const QString &email);

    FamilyLists family(const Account &user);
    // Shares the user's library with an address; an address without an account yet sees
    // the library as soon as that person signs in. Throws DomainError for the user's own address
    // and past the bound on members.
    void addMember(const Account &user, const QString &email);
    void removeMember(const Account &user, const QString &email);
    // The user declines what an owner shares: the owner's videos leave the user's library at
    // the next pull, and the owner cannot share with the user again (adding the user changes
    // nothing) until the user lifts the block. Throws DomainError for the user's own address
    // and past the bound on declined addresses.
    void declineShare(const Account &user, const QString &ownerEmail);
    void liftBlock(const Account &user, const QString &ownerEmail);

    // Everything held about the account, read in one snapshot.
    AccountExport exportAccount(const Account &user);
    // Removes the account with its tokens, videos, family links in both directions and
    // Telegram links; members who saw the library receive its deletion records.
    void deleteAccount(const Account &user);

    // A one-time code that links a Telegram chat to the account until expiresAt.
    QString createTelegramCode(const Account &user, qint64 expiresAt);
    // Consumes a valid, unexpired code and links the chat to its account.
    bool linkTelegramChat(const QString &code, qint64 chatId);
    std::optional<Account> accountForChat(qint64 chatId);

private:
    struct Remembered
    {
        Account account;
        std::chrono::steady_clock::time_point until;
    };

    Storage &m_storage;
    const std::chrono::steady_clock::duration m_rememberFor;
    std::mutex m_recentMutex;
    QHash<QByteArray, Remembered> m_recent; // by token hash
    quint64 m_forgotten = 0;                // counts the times m_recent was emptied
};

} // namespace clipvane::service
