#pragma once

#include "domain/FeedRow.h"

#include <QString>

#include <optional>
#include <vector>

namespace clipvane::service {

// Everything held about one account, as of exportedAt.
struct AccountExport
{
    struct Video
    {
        FeedRow row; // the owner's own copy: no owner, never read-only
        bool metadataPending = false;
    };
    struct Link
    {
        QString email;
        qint64 since = 0;
    };
    struct Chat
    {
        qint64 chatId = 0;
        qint64 linkedAt = 0;
    };

    qint64 exportedAt = 0;
    QString email;
    bool found = false; // false when the account went away while exporting
    qint64 createdAt = 0;
    qint64 familyRevision = 0;
    std::vector<qint64> tokensCreatedAt;
    std::vector<Video> videos;
    std::vector<Link> members;
    std::vector<Link> sharedWithMe;
    std::vector<Link> declined;
    std::vector<Chat> chats;
    qint64 openLinkCodes = 0;
};

} // namespace clipvane::service
