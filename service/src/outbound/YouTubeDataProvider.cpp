#include "outbound/YouTubeDataProvider.h"

#include "outbound/OutboundHttp.h"

#include <QDate>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace clipvane::service {

namespace {

constexpr qint64 kSecondsPerMinute = 60;
constexpr qint64 kSecondsPerHour = 60 * kSecondsPerMinute;
constexpr qint64 kSecondsPerDay = 24 * kSecondsPerHour;
constexpr qint64 kSecondsPerWeek = 7 * kSecondsPerDay;
constexpr qsizetype kDateLength = 10; // "YYYY-MM-DD"

// Each part at most nine digits, so the sum stays far inside 64 bits.
const QRegularExpression &isoDurationPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral("^P(?:(\\d{1,9})W)?(?:(\\d{1,9})D)?(?:T(?:(\\d{1,9})H)?(?:(\\d{1,9})M)?"
                       "(?:(\\d{1,9})(?:[.,]\\d{1,9})?S)?)?$"));
    return pattern;
}

QString twoDigits(qint64 value)
{
    return QString::number(value).rightJustified(2, u'0');
}

} // namespace

YouTubeDataProvider::YouTubeDataProvider(QString apiBase, QString apiKey, std::chrono::milliseconds timeout)
    : m_apiBase(withoutTrailingSlashes(std::move(apiBase)))
    , m_apiKey(std::move(apiKey))
    , m_timeout(timeout)
{}

std::optional<VideoMetadata> YouTubeDataProvider::fetch(const QString &youtubeID, const QString & /*url*/)
{
    if (!isFetchableID(youtubeID))
        return std::nullopt;
    const auto body = askVideos({youtubeID});
    if (!body)
        return std::nullopt;
    return parseReply(*body);
}

QHash<QString, VideoMetadata> YouTubeDataProvider::fetchMany(const QList<MetadataAsk> &asks,
                                                             const BeforeCall &beforeCall)
{
    QList<QString> ids;
    for (const MetadataAsk &ask : asks)
        if (isFetchableID(ask.youtubeID) && !ids.contains(ask.youtubeID) && ids.size() < kMaxIDsPerRequest)
            ids.append(ask.youtubeID);
    if (ids.isEmpty())
        return {};
    if (beforeCall)
        beforeCall();
    const auto body = askVideos(ids);
    if (!body)
        return {};
    return parseItems(*body, ids);
}

std::optional<QByteArray> YouTubeDataProvider::askVideos(const QList<QString> &ids) const
{
    // The IDs as the API lists them: separated by plain commas.
    std::string idList;
    for (const QString &id : ids) {
        if (!idList.empty())
            idList += ',';
        idList += urlEncode(id.toStdString());
    }
    HttpRequest request;
    request.url = m_apiBase.toStdString() + "/videos?part=snippet,contentDetails&id=" + idList +
                  "&key=" + urlEncode(m_apiKey.toStdString());
    request.headers = {{"Accept", "application/json"}};
    request.timeout = m_timeout;
    const HttpResult result = httpSend(request);
    if (result.status != 200)
        return std::nullopt;
    return QByteArray::fromStdString(result.body);
}

std::optional<VideoMetadata> YouTubeDataProvider::parseReply(const QByteArray &body)
{
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonArray items = document.object().value(u"items").toArray();
    if (items.isEmpty())
        return std::nullopt;
    return parseItem(items.first().toObject());
}

QHash<QString, VideoMetadata> YouTubeDataProvider::parseItems(const QByteArray &body, const QList<QString> &asked)
{
    QHash<QString, VideoMetadata> found;
    const QJsonArray items = QJsonDocument::fromJson(body).object().value(u"items").toArray();
    for (const QJsonValue &value : items) {
        const QJsonObject item = value.toObject();
        const QString id = item.value(u"id").toString();
        if (found.contains(id) || !asked.contains(id))
            continue;
        if (auto metadata = parseItem(item))
            found.insert(id, *metadata);
        if (found.size() == asked.size())
            break;
    }
    return found;
}

std::optional<VideoMetadata> YouTubeDataProvider::parseItem(const QJsonObject &item)
{
    const QJsonObject snippet = item.value(u"snippet").toObject();

    VideoMetadata metadata;
    metadata.title = cleanTitle(snippet.value(u"title").toString());
    const QString published = snippet.value(u"publishedAt").toString().left(kDateLength);
    if (const QDate date = QDate::fromString(published, Qt::ISODate); date.isValid() && published.size() == kDateLength)
        metadata.uploadDate = date.toString(Qt::ISODate);
    const QString iso = item.value(u"contentDetails").toObject().value(u"duration").toString();
    metadata.duration = clockFromIsoDuration(iso).value_or(QString());

    if (metadata.title.isEmpty() && metadata.uploadDate.isEmpty() && metadata.duration.isEmpty())
        return std::nullopt;
    return metadata;
}

std::optional<QString> YouTubeDataProvider::clockFromIsoDuration(QStringView iso)
{
    if (iso.size() < 2 || iso.endsWith(u'T'))
        return std::nullopt;
    const QRegularExpressionMatch match = isoDurationPattern().match(iso);
    if (!match.hasMatch())
        return std::nullopt;
    const auto part = [&match](int index) { return match.captured(index).toLongLong(); };
    const qint64 total = part(1) * kSecondsPerWeek + part(2) * kSecondsPerDay + part(3) * kSecondsPerHour +
                         part(4) * kSecondsPerMinute + part(5);
    const qint64 hours = total / kSecondsPerHour;
    const qint64 minutes = (total % kSecondsPerHour) / kSecondsPerMinute;
    const qint64 seconds = total % kSecondsPerMinute;
    if (hours > 0)
        return QString::number(hours) + u':' + twoDigits(minutes) + u':' + twoDigits(seconds);
    return QString::number(minutes) + u':' + twoDigits(seconds);
}

} // namespace clipvane::service
