#include "SyncEngine.h"

#include "APIClient.h"
#include "ChangeStream.h"
#include "Clock.h"
#include "GroupSettings.h"
#include "NetworkWatch.h"
#include "SecretStore.h"
#include "SettingsKeys.h"
#include "VideoStore.h"

#include <QSettings>
#include <utility>

namespace clipvane {

namespace {

// Stands for an account the service no longer has: no e-mail address is equal to it, so the
// next sign-in, whoever it is, starts with an empty store.
const QString kDeletedAccount = QStringLiteral("*");

} // namespace

SyncEngine::SyncEngine(VideoStore &store, APIClient &api, SecretStore &secrets, GroupSettings &group,
                       QSettings &standard, Clock &clock, NetworkWatch &network, std::chrono::milliseconds debounce,
                       std::chrono::milliseconds positionDelay, QObject *parent)
    : QObject(parent)
    , m_store(store)
    , m_api(api)
    , m_secrets(secrets)
    , m_group(group)
    , m_clock(clock)
    , m_kept(store.path())
    , m_edits(store, clock, [this](const QString &id) { return m_addInFlight.contains(id); })
    , m_history(m_edits, store)
{
    connect(&m_edits, &LocalEdits::changed, this, &SyncEngine::scheduleSync);
    connect(&m_edits, &LocalEdits::positionSaved, this, &SyncEngine::scheduleUnhurriedSync);
    connect(&m_edits, &LocalEdits::detailsEdited, this, &SyncEngine::localEdit);
    m_widgetVisible = m_group.widgetVisible();

    m_debounce.setSingleShot(true);
    // A precise timer never fires before the debounce time is over.
    m_debounce.setTimerType(Qt::PreciseTimer);
    m_debounce.setInterval(debounce);
    connect(&m_debounce, &QTimer::timeout, this, &SyncEngine::syncNow);
    m_unhurried.setSingleShot(true);
    m_unhurried.setInterval(positionDelay);
    connect(&m_unhurried, &QTimer::timeout, this, &SyncEngine::syncNow);
    m_announcedSoon.setSingleShot(true);
    m_announcedSoon.setInterval(std::min(debounce, kAnnouncedDelay));
    connect(&m_announcedSoon, &QTimer::timeout, this, [this] {
        // The cycle pushes whatever the debounce was gathering too.
        m_debounce.stop();
        syncNow();
    });

    const QVariant testToken = standard.value(SettingsKeys::testToken);
    if (testToken.typeId() == QMetaType::QString && !testToken.toString().isEmpty())
        m_secrets.keychainSave(testToken.toString(), SecretKeys::token);
    m_isLoggedIn = m_secrets.keychainRead(SecretKeys::token).has_value();
    // A library kept before its account was recorded belongs to whoever is signed in now.
    if (m_isLoggedIn && m_group.libraryAccount().isEmpty()) {
        const std::optional<QString> email = m_secrets.keychainRead(SecretKeys::email);
        if (email && !email->isEmpty())
            m_group.setLibraryAccount(*email);
    }

    // A cursor written before the store's generation was recorded describes the store found
    // here, unless that store has just been made: then it describes one that is gone.
    // Claiming takes the lock and writes; a launch whose cursor is already claimed only reads.
    if (!m_store.startedEmpty() && m_group.pullState().store.isEmpty())
        m_group.claimCursors(m_store.generation());

    connect(&network, &NetworkWatch::usableChanged, this, &SyncEngine::onPathUpdate);
}

SyncEngine::~SyncEngine() = default;

// Credentials

bool SyncEngine::signIn(const QString &token, const QString &email)
{
    // The records of another account must never be pushed into this one's library nor shown as
    // its own: they go aside before anything of the new account is stored, and the library
    // kept for the new account, if any, comes back.
    const QString previous = m_group.libraryAccount();
    if (previous == kDeletedAccount) {
        // The service erased that account: its records, and changes to them, can go nowhere.
        forgetLibrary();
        restoreLibrary(email);
    } else if (!email.isEmpty() && (previous.isEmpty() || !sameAccount(previous, email))) {
        // Whoever is signed in stays so when the library cannot be set aside.
        if (!previous.isEmpty() && !keepLibrary(previous))
            return false;
        restoreLibrary(email);
    }
    m_secrets.keychainSave(token, SecretKeys::token);
    m_secrets.keychainSave(email, SecretKeys::email);
    const std::optional<QString> stored = m_secrets.keychainRead(SecretKeys::token);
    ++m_session;
    // An undo of another session could reach into another account's library.
    m_history.clear();
    if (stored && *stored == token) {
        if (!email.isEmpty())
            m_group.setLibraryAccount(email);
        setLastError(std::nullopt);
        setLoggedIn(true);
        // Another account, or the same one anew: a stream opened with the old token, or refused
        // for it, says nothing of this one.
        if (m_stream)
            m_stream->start();
        syncNow();
        return true;
    }
    setLastError(tr("Couldn't save your sign-in to the keychain."));
    setLoggedIn(false);
    return false;
}

bool SyncEngine::keepLibrary(const QString &account)
{
    QString error;
    if (!m_store.all().isEmpty() && !m_kept.keep(m_store, m_group.pullState(), account, &error)) {
        setLastError(tr("Couldn't set aside the library of %1, so no one else was signed in: %2").arg(account, error));
        return false;
    }
    forgetLibrary();
    return true;
}

void SyncEngine::restoreLibrary(const QString &account)
{
    if (account.isEmpty())
        return;
    QString error;
    if (const std::optional<GroupSettings::PullState> pull = m_kept.restore(m_store, account, &error))
        m_group.setPullState(*pull);
    else if (!error.isEmpty())
        qWarning("clipvane: the library kept for %s stays aside: %s", qPrintable(account), qPrintable(error));
}

bool SyncEngine::sameAccount(const QString &a, const QString &b)
{
    return a.trimmed().compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

void SyncEngine::signOutDeletedAccount()
{
    signOut();
    m_group.setLibraryAccount(kDeletedAccount);
}

void SyncEngine::forgetLibrary()
{
    const QList<const Video *> records = m_store.all();
    m_store.remove(records);
    saveStore();
    m_group.removeCursors();
    m_group.setLibraryAccount(QString());
    m_addInFlight.clear();
}

void SyncEngine::signOut()
{
    m_secrets.keychainDelete(SecretKeys::token);
    m_secrets.keychainDelete(SecretKeys::email);
    m_group.removeCursors();
    ++m_session;
    m_history.clear();
    m_announced = 0;
    m_announcedSoon.stop();
    if (m_stream)
        m_stream->stop();
    setLoggedIn(false);
}

// Triggers

void SyncEngine::syncNow()
{
    if (!m_isLoggedIn)
        return;
    if (m_syncing) {
        m_pendingKick = true;
        return;
    }
    startCycle();
}

void SyncEngine::scheduleSync()
{
    m_debounce.start();
}

void SyncEngine::scheduleUnhurriedSync()
{
    if (!m_debounce.isActive() && !m_unhurried.isActive())
        m_unhurried.start();
}

void SyncEngine::startCycle()
{
    // The cycle runs on by itself once its task handle is dropped.
    [[maybe_unused]] const QCoro::Task<void> cycle = sync();
}

void SyncEngine::onPathUpdate(bool usable)
{
    if (usable && !m_wasOnline) {
        syncNow();
        if (m_stream && m_isLoggedIn)
            m_stream->reconnectNow();
    }
    m_wasOnline = usable;
}

void SyncEngine::setChangeStream(ChangeStream *stream)
{
    if (m_stream)
        m_stream->disconnect(this);
    m_stream = stream;
    if (!m_stream)
        return;
    connect(m_stream, &ChangeStream::changed, this, &SyncEngine::changeAnnounced);
    // What changed while the stream was down was never announced: a pull finds it.
    connect(m_stream, &ChangeStream::resumed, this, &SyncEngine::scheduleSync);
    // The service refused the token on the stream: a cycle finds out whether it still takes it.
    connect(m_stream, &ChangeStream::unauthorized, this, &SyncEngine::scheduleSync);
    // From the event loop, not while the library is being assembled: reading the token may
    // wait for the keychain, and start-up has the window to show first.
    QTimer::singleShot(0, this, [this, stream] {
        if (m_stream == stream && m_isLoggedIn && stream->state() == ChangeStream::State::stopped)
            stream->start();
    });
}

void SyncEngine::changeAnnounced(qint64 now)
{
    if (!m_isLoggedIn || now <= m_group.syncCursor())
        return;
    if (m_syncing) {
        m_announced = std::max(m_announced, now);
        return;
    }
    pullAnnouncedSoon();
}

void SyncEngine::pullAnnouncedSoon()
{
    // Not restarted by later announcements: a device adding videos every second would otherwise
    // keep this one from ever syncing.
    if (!m_announcedSoon.isActive())
        m_announcedSoon.start();
}

void SyncEngine::followAnnouncement()
{
    const qint64 announced = std::exchange(m_announced, 0);
    if (announced > 0 && m_isLoggedIn && announced > m_group.syncCursor())
        pullAnnouncedSoon();
}

// Published properties

void SyncEngine::setSyncing(bool syncing)
{
    if (m_syncing == syncing)
        return;
    m_syncing = syncing;
    Q_EMIT syncingChanged(syncing);
}

void SyncEngine::setLastSync(const QDateTime &lastSync)
{
    if (m_lastSync == lastSync)
        return;
    m_lastSync = lastSync;
    Q_EMIT lastSyncChanged(lastSync);
}

void SyncEngine::setLastError(std::optional<QString> lastError)
{
    if (m_lastError == lastError)
        return;
    m_lastError = std::move(lastError);
    Q_EMIT lastErrorChanged(this->lastError());
}

void SyncEngine::setLoggedIn(bool loggedIn)
{
    if (m_isLoggedIn == loggedIn)
        return;
    m_isLoggedIn = loggedIn;
    Q_EMIT isLoggedInChanged(loggedIn);
}

void SyncEngine::setProgress(std::optional<double> fraction, int received, int total)
{
    // Every field is set before any signal goes out, so an observer of one signal reads the
    // other two properties already consistent with it.
    const bool totalChanged = std::exchange(m_progressTotal, total) != total;
    const bool receivedChanged = std::exchange(m_progressReceived, received) != received;
    const bool fractionChanged = std::exchange(m_progressFraction, fraction) != fraction;
    if (totalChanged)
        Q_EMIT progressTotalChanged(total);
    if (receivedChanged)
        Q_EMIT progressReceivedChanged(received);
    if (fractionChanged)
        Q_EMIT progressFractionChanged(progressFraction());
}

void SyncEngine::resetProgress()
{
    setProgress(std::nullopt, 0, 0);
}

void SyncEngine::setWidgetVisible(bool visible)
{
    if (m_widgetVisible == visible)
        return;
    m_widgetVisible = visible;
    // Only a mirror for the other processes of the family: a failed write changes nothing here.
    m_group.setWidgetVisible(visible);
    Q_EMIT widgetVisibleChanged(visible);
}

} // namespace clipvane
