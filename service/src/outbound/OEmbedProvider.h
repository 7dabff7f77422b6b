#pragma once

#include "outbound/MetadataProvider.h"

namespace clipvane::service {

// The title alone, from YouTube's oEmbed endpoint (needs no key).
class OEmbedProvider : public MetadataProvider
{
public:
    OEmbedProvider(QString base, std::chrono::milliseconds timeout);

    std::optional<VideoMetadata> fetch(const QString &youtubeID, const QString &url) override;

    static std::optional<VideoMetadata> parseReply(const QByteArray &body);

private:
    QString m_base;
    std::chrono::milliseconds m_timeout;
};

} // namespace clipvane::service
