#include "api/AccountExportJson.h"

#include <QJsonArray>

namespace clipvane::service::AccountExportJson {

namespace {

QJsonArray links(const std::vector<AccountExport::Link> &list)
{
    QJsonArray array;
    for (const AccountExport::Link &link : list)
        array.append(QJsonObject{{u"email"_qs, link.email}, {u"since"_qs, link.since}});
    return array;
}

} // namespace

QJsonObject toJson(const AccountExport &data)
{
    QJsonObject account{{u"email"_qs, data.email}};
    if (data.found) {
        account.insert(u"created_at"_qs, data.createdAt);
        // A string, as the pull sends it.
        account.insert(u"family_rev"_qs, QString::number(data.familyRevision));
    }
    QJsonArray tokens;
    for (const qint64 createdAt : data.tokensCreatedAt)
        tokens.append(QJsonObject{{u"created_at"_qs, createdAt}});
    QJsonArray videos;
    for (const AccountExport::Video &video : data.videos) {
        const FeedRow &row = video.row;
        videos.append(QJsonObject{
            {u"youtube_id"_qs, row.youtubeId},
            {u"title"_qs, row.title},
            {u"url"_qs, row.url},
            {u"upload_date"_qs, row.uploadDate},
            {u"duration"_qs, row.duration},
            {u"excluded"_qs, row.excluded ? 1 : 0},
            {u"source"_qs, row.source},
            {u"created_at"_qs, row.createdAt},
            {u"updated_at"_qs, row.updatedAt},
            {u"deleted"_qs, row.deleted ? 1 : 0},
            {u"watched"_qs, row.watched ? 1 : 0},
            {u"position"_qs, row.position},
            {u"metadata_pending"_qs, video.metadataPending ? 1 : 0},
        });
    }
    QJsonArray chats;
    for (const AccountExport::Chat &chat : data.chats)
        chats.append(QJsonObject{{u"chat_id"_qs, chat.chatId}, {u"linked_at"_qs, chat.linkedAt}});
    return QJsonObject{
        {u"format"_qs, u"clipvane-service export"_qs},
        {u"version"_qs, 1},
        {u"exported_at"_qs, data.exportedAt},
        {u"account"_qs, account},
        {u"tokens"_qs, tokens},
        {u"videos"_qs, videos},
        {u"family"_qs, QJsonObject{{u"members"_qs, links(data.members)},
                                   {u"shared_with_me"_qs, links(data.sharedWithMe)},
                                   {u"declined"_qs, links(data.declined)}}},
        {u"telegram"_qs, QJsonObject{{u"linked_chats"_qs, chats}, {u"open_link_codes"_qs, data.openLinkCodes}}},
    };
}

} // namespace clipvane::service::AccountExportJson
