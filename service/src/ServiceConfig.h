#pragma once

#include "api/Pages.h"
#include "api/ServiceLimits.h"
#include "assistant/Assistant.h"
#include "db/Storage.h"
#include "domain/Library.h"
#include "outbound/GoogleSignIn.h"
#include "outbound/MetadataProvider.h"
#include "outbound/TelegramBot.h"

#include <QString>

namespace clipvane::service {

struct ServiceConfig
{
    QString dataDir;
    // "sqlite:PATH" or "postgresql://…"; empty: SQLite in dataDir.
    QString database;
    QString listenHost = u"127.0.0.1"_qs;
    int listenPort = kDefaultListenPort;
    // The origin browsers reach the service at (the Google redirect address is built on it);
    // empty: http://host:port of the listening address.
    QString publicOrigin;
    bool logRequests = true;
    // CLIPVANE_SERVICE_SYNC=full: wait for the disk on every commit (see Storage::Durability).
    Storage::Durability durability = Storage::Durability::Checkpoint;
    qint64 telegramCodeLifetimeMs = 10 * 60 * 1000;
    ServiceLimits limits;
    MetadataRetry metadataRetry;
    // CLIPVANE_METADATA_CALLS_PER_SECOND sets its rate.
    MetadataPacing metadataPacing;

    MetadataConfig metadata;
    GoogleConfig google;
    ChatModelConfig chatModel;
    TelegramConfig telegram;

    // The outside services, from CLIPVANE_* environment variables (each with its default base),
    // and the connection limits (CLIPVANE_MAX_CONNECTIONS, CLIPVANE_MAX_CONNECTIONS_PER_ADDRESS,
    // CLIPVANE_MAX_HEADER_BYTES, which is also what each connection may hold in memory,
    // CLIPVANE_EVENT_STREAMS_PER_TOKEN, CLIPVANE_EVENT_HEARTBEAT_MS).
    void readEnvironment();
    // The database to open: database, or the SQLite file in dataDir (made private).
    QString databaseUrl() const;
    // The user's data location for the service's files.
    static QString defaultDataDir();
};

} // namespace clipvane::service
