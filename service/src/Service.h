#pragma once

#include "ServiceConfig.h"
#include "api/ApiEndpoints.h"
#include "api/ApiServer.h"
#include "assistant/Assistant.h"
#include "db/Leadership.h"
#include "db/PgChangeListener.h"
#include "db/Storage.h"
#include "domain/Accounts.h"
#include "domain/ChangeHub.h"
#include "domain/Library.h"
#include "domain/MetadataWorker.h"
#include "domain/SignInStates.h"
#include "outbound/GoogleSignIn.h"
#include "outbound/MetadataProvider.h"
#include "outbound/TelegramBot.h"

#include <memory>

namespace clipvane::service {

// The whole companion service: storage, the HTTP server, the metadata worker and the
// Telegram bot, started and stopped together. Of several instances on one database, only
// the leader runs the worker and the bot.
class Service
{
public:
    // Opens the storage config.databaseUrl() names (throws SqlError when it cannot).
    Service(ServiceConfig config, std::unique_ptr<MetadataProvider> metadata, Storage::WallClock wallClock = {});
    ~Service(); // stops
    Service(const Service &) = delete;
    Service &operator=(const Service &) = delete;

    // Binds the listening address, then serves in a thread of its own; returns the bound port.
    int start();
    // Stops accepting, lets requests in progress finish, then stops the workers. Idempotent.
    void stop();

    QString origin() const { return m_origin; }
    Accounts &accounts() { return m_accounts; }
    Library &library() { return m_library; }
    Storage &storage() { return *m_storage; }
    ChangeHub &changes() { return m_changes; }
    bool leading() const { return m_leadership.leading(); }

private:
    ServiceConfig m_config;
    std::unique_ptr<MetadataProvider> m_metadata;
    ChangeHub m_changes; // before the storage, whose commits publish to it
    std::unique_ptr<Storage> m_storage;
    Accounts m_accounts;
    SignInStates m_signInStates;
    Library m_library;
    Assistant m_assistant;
    GoogleSignIn m_google;
    TelegramBot m_telegram;
    MetadataWorker m_worker;
    ApiEndpoints m_endpoints;
    ApiServer m_server;
    Leadership m_leadership;
    // On a shared database: other instances' changes, for this one's event streams.
    std::unique_ptr<PgChangeListener> m_changeListener;
    QString m_origin;
    bool m_running = false;
};

} // namespace clipvane::service
