#include "Service.h"

#include "db/PgStorage.h"
#include "outbound/OutboundHttp.h"

#include <sys/resource.h>

#include <csignal>
#include <cstdio>

namespace clipvane::service {

namespace {

TelegramBot::Callbacks telegramCallbacks(Accounts &accounts, Library &library)
{
    constexpr qsizetype kMaxCode = 64;
    TelegramBot::Callbacks callbacks;
    callbacks.linkChat = [&accounts](const QString &code, qint64 chatId) {
        try {
            return !code.isEmpty() && code.size() <= kMaxCode && accounts.linkTelegramChat(code, chatId);
        } catch (const std::exception &error) {
            std::fprintf(stderr, "clipvane-service: linking a Telegram chat failed: %s\n", error.what());
            return false;
        }
    };
    callbacks.addLink = [&accounts, &library](qint64 chatId, const QString &text) -> std::optional<QString> {
        try {
            const auto user = accounts.accountForChat(chatId);
            const auto link = VideoLink::fromMessage(text);
            if (!user || !link)
                return std::nullopt;
            return library.add(*user, *link, QString(), u"telegram"_qs).title;
        } catch (const std::exception &error) {
            std::fprintf(stderr, "clipvane-service: adding a link from Telegram failed: %s\n", error.what());
            return std::nullopt;
        }
    };
    return callbacks;
}

// Every connection, idle event streams included, holds a descriptor: the soft limit is raised
// as far as the connection cap needs (and the hard limit allows).
void raiseDescriptorLimit(int connections)
{
    constexpr rlim_t kSpare = 256; // database, files, outbound calls
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return;
    const rlim_t wanted = std::min(limit.rlim_max, rlim_t(connections) + kSpare);
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur = wanted;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

Service::Service(ServiceConfig config, std::unique_ptr<MetadataProvider> metadata, Storage::WallClock wallClock)
    : m_config(std::move(config))
    , m_metadata(std::move(metadata))
    , m_storage(Storage::open(m_config.databaseUrl(), std::move(wallClock), m_config.durability))
    , m_accounts(*m_storage)
    , m_signInStates(*m_storage)
    , m_library(*m_storage, *m_metadata, m_config.metadataRetry, m_config.metadataPacing)
    , m_assistant(m_config.chatModel)
    , m_google(m_config.google, m_signInStates)
    , m_telegram(m_config.telegram, telegramCallbacks(m_accounts, m_library))
    , m_worker(m_library)
    , m_endpoints(m_accounts, m_library, m_assistant, m_telegram, !m_config.telegram.botToken.isEmpty(),
                  m_config.telegramCodeLifetimeMs)
    , m_server(m_config.limits, m_config.logRequests, m_accounts, m_endpoints, m_google, m_changes)
    , m_leadership(
          *m_storage,
          [this] {
              if (m_storage->shared())
                  std::fprintf(stderr, "clipvane-service: this instance runs the background work\n");
              m_worker.start();
              m_telegram.start();
          },
          [this] { m_worker.stop(); })
{
    m_library.setMetadataQueuedCallback([this] { m_worker.wake(); });
    m_storage->setChangeObserver(
        [this](const std::vector<qint64> &accountIds, qint64 now) { m_changes.publish(accountIds, now); });
    if (auto *shared = dynamic_cast<PgStorage *>(m_storage.get())) {
        PgChangeListener::Callbacks relay;
        relay.changed = [this](const std::vector<qint64> &accountIds, qint64 now) {
            m_changes.publish(accountIds, now);
        };
        relay.missed = [this](qint64 now) { m_changes.publishToAll(now); };
        m_changeListener = std::make_unique<PgChangeListener>(shared->conninfo(), shared->changeChannel(),
                                                              shared->instance(), std::move(relay));
    }
    // Adds on other instances do not wake this one's worker: it looks again every few seconds.
    if (m_storage->shared())
        m_worker.setIdleRecheck(std::chrono::seconds(2));
}

Service::~Service()
{
    stop();
}

int Service::start()
{
    // A client that hangs up mid-reply must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    raiseDescriptorLimit(m_config.limits.maxConnections);
    if (m_changeListener)
        m_changeListener->start();
    const std::string host = m_config.listenHost.toStdString();
    const int port = m_server.start(host, m_config.listenPort);
    m_running = true;
    const QString hostPart =
        host.find(':') != std::string::npos ? u"["_qs + m_config.listenHost + u"]"_qs : m_config.listenHost;
    m_origin = u"http://"_qs + hostPart + u":"_qs + QString::number(port);
    QString publicOrigin = m_config.publicOrigin.isEmpty() ? m_origin : m_config.publicOrigin;
    publicOrigin = withoutTrailingSlashes(publicOrigin);
    m_server.setPublicOrigin(publicOrigin);
    m_leadership.start();
    return port;
}

void Service::stop()
{
    if (!m_running)
        return;
    m_running = false;
    m_server.stop();
    if (m_changeListener)
        m_changeListener->stop();
    m_leadership.stop();
    m_telegram.stop();
    m_worker.stop();
}

} // namespace clipvane::service
