#include "ServiceConfig.h"

#include <QDir>
#include <QStandardPaths>

#include <cmath>

namespace clipvane::service {

namespace {

// Below this a bearer token and a proxy's headers may no longer fit.
constexpr int kMinHeaderBytes = 4096;

QString environment(const char *name, const QString &fallback = QString())
{
    const QString value = qEnvironmentVariable(name).trimmed();
    return value.isEmpty() ? fallback : value;
}

} // namespace

void ServiceConfig::readEnvironment()
{
    metadata.youtubeApiKey = environment("CLIPVANE_YOUTUBE_API_KEY");
    metadata.youtubeApiBase = environment("CLIPVANE_YOUTUBE_API_BASE", u"https://www.googleapis.com/youtube/v3"_qs);
    metadata.oembedBase = environment("CLIPVANE_OEMBED_BASE", u"https://www.youtube.com/oembed"_qs);
    bool rateRead = false;
    const double rate = environment("CLIPVANE_METADATA_CALLS_PER_SECOND").toDouble(&rateRead);
    if (rateRead && std::isfinite(rate) && rate > 0)
        metadataPacing.callsPerSecond = rate;

    google.clientId = environment("CLIPVANE_GOOGLE_CLIENT_ID");
    google.clientSecret = environment("CLIPVANE_GOOGLE_CLIENT_SECRET");
    google.authBase = environment("CLIPVANE_GOOGLE_AUTH_BASE", u"https://accounts.google.com/o/oauth2/v2/auth"_qs);
    google.tokenUrl = environment("CLIPVANE_GOOGLE_TOKEN_URL", u"https://oauth2.googleapis.com/token"_qs);
    google.userInfoUrl =
        environment("CLIPVANE_GOOGLE_USERINFO_URL", u"https://openidconnect.googleapis.com/v1/userinfo"_qs);

    chatModel.base = environment("CLIPVANE_OPENAI_BASE");
    chatModel.apiKey = environment("CLIPVANE_OPENAI_KEY");
    chatModel.model = environment("CLIPVANE_OPENAI_MODEL", u"gpt-4o-mini"_qs);

    telegram.botToken = environment("CLIPVANE_TELEGRAM_BOT_TOKEN");
    telegram.apiBase = environment("CLIPVANE_TELEGRAM_API_BASE", u"https://api.telegram.org"_qs);
    if (environment("CLIPVANE_SERVICE_SYNC").compare(u"full"_qs, Qt::CaseInsensitive) == 0)
        durability = Storage::Durability::Commit;

    telegram.botName = environment("CLIPVANE_TELEGRAM_BOT_NAME", u"clipvane_bot"_qs);

    // Connections and event streams; a value that is not a positive number is ignored.
    const auto positive = [](const char *name, int &into) {
        bool ok = false;
        const int value = environment(name).toInt(&ok);
        if (ok && value > 0)
            into = value;
    };
    positive("CLIPVANE_MAX_CONNECTIONS", limits.maxConnections);
    positive("CLIPVANE_MAX_CONNECTIONS_PER_ADDRESS", limits.maxConnectionsPerAddress);
    int headerBytes = 0;
    positive("CLIPVANE_MAX_HEADER_BYTES", headerBytes);
    if (headerBytes > 0)
        limits.maxHeaderBytes = size_t(std::max(headerBytes, kMinHeaderBytes));
    positive("CLIPVANE_EVENT_STREAMS_PER_TOKEN", limits.eventStreamsPerToken);
    positive("CLIPVANE_EVENT_HEARTBEAT_MS", limits.eventHeartbeatMs);
}

QString ServiceConfig::databaseUrl() const
{
    return database.isEmpty() ? Storage::sqliteIn(dataDir.isEmpty() ? defaultDataDir() : dataDir) : database;
}

QString ServiceConfig::defaultDataDir()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty())
        base = QDir::homePath() + u"/.local/share"_qs;
    return QDir(base).filePath(u"clipvane-service"_qs);
}

} // namespace clipvane::service
