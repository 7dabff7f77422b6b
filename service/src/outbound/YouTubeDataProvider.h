#pragma once

#include "outbound/MetadataProvider.h"

#include <QJsonObject>
#include <QStringView>

namespace clipvane::service {

// Title, upload date and length from the YouTube Data API v3 ("videos" with snippet and
// contentDetails).
class YouTubeDataProvider : public MetadataProvider
{
public:
    YouTubeDataProvider(QString apiBase, QString apiKey, std::chrono::milliseconds timeout);

    // The API takes this many IDs in one "videos" request.
    static constexpr int kMaxIDsPerRequest = 50;

    std::optional<VideoMetadata> fetch(const QString &youtubeID, const QString &url) override;
    // One request for the asked IDs (at most kMaxIDsPerRequest), each item of the reply
    // matched to its ID.
    QHash<QString, VideoMetadata> fetchMany(const QList<MetadataAsk> &asks, const BeforeCall &beforeCall) override;
    int batchLimit() const override { return kMaxIDsPerRequest; }

    // Reads a "videos" reply; none when it names no video or is not what the API sends.
    static std::optional<VideoMetadata> parseReply(const QByteArray &body);
    // Reads a "videos" reply to a request for several IDs: only items naming an asked ID
    // count, the first usable one for each, so a reply never speaks for a video nobody asked about.
    static QHash<QString, VideoMetadata> parseItems(const QByteArray &body, const QList<QString> &asked);
    // ISO-8601 duration ("PT1H2M3S", "P1DT2H") as "M:SS" or "H:MM:SS" (hours not wrapped at a day);
    // none for anything else, years and months included (their length is not fixed).
    static std::optional<QString> clockFromIsoDuration(QStringView iso);

private:
    // The body of a 200 reply to a "videos" request for the IDs; none for anything else.
    std::optional<QByteArray> askVideos(const QList<QString> &ids) const;
    static std::optional<VideoMetadata> parseItem(const QJsonObject &item);

    QString m_apiBase;
    QString m_apiKey;
    std::chrono::milliseconds m_timeout;
};

} // namespace clipvane::service
