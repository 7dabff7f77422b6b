#include "domain/FeedRow.h"

namespace clipvane::service {

QJsonObject FeedRow::toJson() const
{
    return QJsonObject{
        {u"id"_qs, id},
        {u"youtube_id"_qs, youtubeId},
        {u"title"_qs, title},
        {u"url"_qs, url},
        {u"upload_date"_qs, uploadDate},
        {u"duration"_qs, duration},
        {u"excluded"_qs, excluded ? 1 : 0},
        {u"deleted"_qs, deleted ? 1 : 0},
        {u"source"_qs, source},
        {u"created_at"_qs, createdAt},
        {u"updated_at"_qs, updatedAt},
        {u"owner_email"_qs, ownerEmail},
        {u"read_only"_qs, readOnly ? 1 : 0},
    };
}

} // namespace clipvane::service
