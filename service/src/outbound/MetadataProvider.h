#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace clipvane::service {

// What the service learns about a video: "YYYY-MM-DD", "M:SS" or "H:MM:SS"; each may be empty.
struct VideoMetadata
{
    QString title;
    QString uploadDate;
    QString duration;
};

// One video a caller wants metadata for.
struct MetadataAsk
{
    QString youtubeID;
    QString url;
};

class MetadataProvider
{
public:
    // Called before each request to the outside service; the caller paces its calls here (it may wait).
    using BeforeCall = std::function<void()>;

    virtual ~MetadataProvider() = default;
    // None when nothing could be fetched (offline, unknown video, bad reply). Blocking; thread-safe.
    virtual std::optional<VideoMetadata> fetch(const QString &youtubeID, const QString &url) = 0;
    // What could be had for up to batchLimit() videos, by ID; an ID missing from the result
    // got nothing this time. Each request out is announced to beforeCall first. This one asks
    // video by video.
    virtual QHash<QString, VideoMetadata> fetchMany(const QList<MetadataAsk> &asks, const BeforeCall &beforeCall);
    // How many videos one request can ask about.
    virtual int batchLimit() const { return 1; }
};

struct MetadataConfig
{
    QString youtubeApiKey;
    QString youtubeApiBase;
    QString oembedBase;
    // Bounds each outbound call.
    std::chrono::milliseconds timeout{10000};
};

// YouTube Data API when a key is set, oEmbed (title only) otherwise; "x-" IDs get none.
// With a key, oEmbed stands in when the Data API gives nothing (quota used up, key revoked).
std::unique_ptr<MetadataProvider> makeMetadataProvider(const MetadataConfig &config);

// True for IDs worth asking a provider about: YouTube's alphabet, a sane length, not foreign.
// Anything else would only put odd text into an outbound request.
bool isFetchableID(const QString &youtubeID);

// A title as a reply gave it, made safe to store and show: control characters become spaces,
// the ends are trimmed and the length is bounded.
QString cleanTitle(const QString &title);

} // namespace clipvane::service
