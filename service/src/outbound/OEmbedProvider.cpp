#include "outbound/OEmbedProvider.h"

#include "outbound/OutboundHttp.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace clipvane::service {

namespace {} // namespace

OEmbedProvider::OEmbedProvider(QString base, std::chrono::milliseconds timeout)
    : m_base(withoutTrailingSlashes(std::move(base)))
    , m_timeout(timeout)
{}

std::optional<VideoMetadata> OEmbedProvider::fetch(const QString &youtubeID, const QString & /*url*/)
{
    if (!isFetchableID(youtubeID))
        return std::nullopt;
    // The canonical watch address, whatever form of link the user saved.
    const std::string watchUrl = "https://www.youtube.com/watch?v=" + youtubeID.toStdString();
    HttpRequest request;
    request.url = m_base.toStdString() + "?url=" + urlEncode(watchUrl) + "&format=json";
    request.headers = {{"Accept", "application/json"}};
    request.timeout = m_timeout;
    const HttpResult result = httpSend(request);
    if (result.status != 200)
        return std::nullopt;
    return parseReply(QByteArray::fromStdString(result.body));
}

std::optional<VideoMetadata> OEmbedProvider::parseReply(const QByteArray &body)
{
    const QJsonObject reply = QJsonDocument::fromJson(body).object();
    VideoMetadata metadata;
    metadata.title = cleanTitle(reply.value(u"title").toString());
    if (metadata.title.isEmpty())
        return std::nullopt;
    return metadata;
}

} // namespace clipvane::service
