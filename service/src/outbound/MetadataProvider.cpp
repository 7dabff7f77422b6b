#include "outbound/MetadataProvider.h"

#include "ForeignID.h"

#include <QRegularExpression>

#include "outbound/OEmbedProvider.h"
#include "outbound/YouTubeDataProvider.h"

namespace clipvane::service {

namespace {

constexpr qsizetype kMaxTitleLength = 500;
constexpr char16_t kDefaultYouTubeApiBase[] = u"https://www.googleapis.com/youtube/v3";
constexpr char16_t kDefaultOEmbedBase[] = u"https://www.youtube.com/oembed";

// The asks in parts of at most `limit`, in order.
QList<QList<MetadataAsk>> batches(const QList<MetadataAsk> &asks, int limit)
{
    QList<QList<MetadataAsk>> parts;
    for (qsizetype start = 0; start < asks.size(); start += std::max(limit, 1))
        parts.append(asks.mid(start, std::max(limit, 1)));
    return parts;
}

// The Data API first; when it yields nothing, oEmbed still knows the title.
class FallbackProvider : public MetadataProvider
{
public:
    FallbackProvider(std::unique_ptr<MetadataProvider> first, std::unique_ptr<MetadataProvider> second)
        : m_first(std::move(first))
        , m_second(std::move(second))
    {}

    std::optional<VideoMetadata> fetch(const QString &youtubeID, const QString &url) override
    {
        if (auto found = m_first->fetch(youtubeID, url))
            return found;
        return m_second->fetch(youtubeID, url);
    }

    QHash<QString, VideoMetadata> fetchMany(const QList<MetadataAsk> &asks, const BeforeCall &beforeCall) override
    {
        // A reply naming some of the videos is a working Data API: the others are unknown to
        // YouTube. Only a batch it gave nothing for at all goes to oEmbed.
        QHash<QString, VideoMetadata> found = m_first->fetchMany(asks, beforeCall);
        if (!found.isEmpty())
            return found;
        for (const QList<MetadataAsk> &part : batches(asks, m_second->batchLimit()))
            found.insert(m_second->fetchMany(part, beforeCall));
        return found;
    }

    int batchLimit() const override { return m_first->batchLimit(); }

private:
    std::unique_ptr<MetadataProvider> m_first;
    std::unique_ptr<MetadataProvider> m_second;
};

QString orDefault(const QString &value, const char16_t *fallback)
{
    return value.trimmed().isEmpty() ? QString::fromUtf16(fallback) : value.trimmed();
}

} // namespace

QHash<QString, VideoMetadata> MetadataProvider::fetchMany(const QList<MetadataAsk> &asks, const BeforeCall &beforeCall)
{
    QHash<QString, VideoMetadata> found;
    for (const MetadataAsk &ask : asks) {
        if (!isFetchableID(ask.youtubeID) || found.contains(ask.youtubeID))
            continue;
        if (beforeCall)
            beforeCall();
        if (auto metadata = fetch(ask.youtubeID, ask.url))
            found.insert(ask.youtubeID, *metadata);
    }
    return found;
}

std::unique_ptr<MetadataProvider> makeMetadataProvider(const MetadataConfig &config)
{
    auto oembed = std::make_unique<OEmbedProvider>(orDefault(config.oembedBase, kDefaultOEmbedBase), config.timeout);
    if (config.youtubeApiKey.trimmed().isEmpty())
        return oembed;
    auto dataApi = std::make_unique<YouTubeDataProvider>(orDefault(config.youtubeApiBase, kDefaultYouTubeApiBase),
                                                         config.youtubeApiKey.trimmed(), config.timeout);
    return std::make_unique<FallbackProvider>(std::move(dataApi), std::move(oembed));
}

bool isFetchableID(const QString &youtubeID)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return !clipvane::isForeignID(youtubeID) && pattern.match(youtubeID).hasMatch();
}

QString cleanTitle(const QString &title)
{
    QString cleaned;
    cleaned.reserve(std::min(title.size(), kMaxTitleLength));
    for (const QChar c : title) {
        const auto category = c.category();
        // Direction overrides could make a title read differently from what it holds.
        const bool bidiOverride =
            (c.unicode() >= 0x202A && c.unicode() <= 0x202E) || (c.unicode() >= 0x2066 && c.unicode() <= 0x2069);
        const bool control = category == QChar::Other_Control || category == QChar::Separator_Line ||
                             category == QChar::Separator_Paragraph || bidiOverride;
        cleaned.append(control ? QChar(u' ') : c);
    }
    cleaned = cleaned.simplified();
    if (cleaned.size() > kMaxTitleLength) {
        cleaned.truncate(kMaxTitleLength);
        // Never leave half of a surrogate pair at the end.
        if (!cleaned.isEmpty() && cleaned.back().isHighSurrogate())
            cleaned.chop(1);
    }
    return cleaned;
}

} // namespace clipvane::service
