#pragma once

#include "outbound/MetadataProvider.h"

#include <QStringView>

namespace clipvane::service {

// Title, upload date and length from the YouTube Data API v3 ("videos" with snippet and
// contentDetails).
class YouTubeDataProvider : public MetadataProvider
{
public:
    YouTubeDataProvider(QString apiBase, QString apiKey, std::chrono::milliseconds timeout);

    std::optional<VideoMetadata> fetch(const QString &youtubeID, const QString &url) override;

    // Reads a "videos" reply; none when it names no video or is not what the API sends.
    static std::optional<VideoMetadata> parseReply(const QByteArray &body);
    // ISO-8601 duration ("PT1H2M3S", "P1DT2H") as "M:SS" or "H:MM:SS" (hours not wrapped at a day);
    // none for anything else, years and months included (their length is not fixed).
    static std::optional<QString> clockFromIsoDuration(QStringView iso);

private:
    QString m_apiBase;
    QString m_apiKey;
    std::chrono::milliseconds m_timeout;
};

} // namespace clipvane::service
