#include "ClipvaneApp.h"

#include "APIClient.h"
#include "AppPaths.h"
#include "AppState.h"
#include "FirstPaintProbe.h"
#include "GoogleAuth.h"
#include "KeyRules.h"
#include "LibrarySession.h"
#include "MainWindow.h"
#include "OnboardedFlag.h"
#include "SecretStore.h"
#include "SettingsView.h"
#include "SignInConfirmation.h"
#include "SingleInstance.h"
#include "StartupTrace.h"
#include "SyncEngine.h"
#include "SystemNetworkWatch.h"
#include "ThumbCache.h"
#include "UrlHandler.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkDiskCache>
#include <QSettings>
#include <QTextStream>
#include <QTimer>

namespace clipvane {

namespace {

// Without a screen (tests, scripts) nobody could answer a dialog: messages go to stderr only.
bool canShowDialogs()
{
    return QGuiApplication::platformName() != u"offscreen" && QGuiApplication::platformName() != u"minimal";
}

} // namespace

ClipvaneApp::ClipvaneApp(QObject *parent)
    : QObject(parent)
{}

ClipvaneApp::~ClipvaneApp() = default;

void ClipvaneApp::fail(const QString &message)
{
    QTextStream(stderr) << "clipvane: " << message << '\n';
    if (canShowDialogs()) {
        QMessageBox box(QMessageBox::Critical, tr("Clipvane"), tr("Clipvane can't open your library."),
                        QMessageBox::Ok);
        box.setInformativeText(message);
        box.exec();
    }
}

int ClipvaneApp::start(const QStringList &arguments, const QUrl &apiBase,
                       std::future<LibrarySession::OpenedStore> *opened)
{
    m_instance = std::make_unique<SingleInstance>(SingleInstance::serverName());
    if (!m_instance->listen()) {
        // Another launch won the race to start: it takes the arguments instead, or, not answering,
        // still holds the library.
        if (const std::optional<int> ended = SingleInstance::endAfterOffer(SingleInstance::serverName(), arguments))
            return *ended == 0 ? -1 : *ended;
    }
    connect(m_instance.get(), &SingleInstance::messageReceived, this, &ClipvaneApp::handleArguments);

    m_standard = AppPaths::standardSettings();
    m_onboarded = std::make_unique<OnboardedFlag>(*m_standard);

    LibrarySession::Options options;
    options.apiBase = apiBase;
    options.lockWait = kLockWait;
    // A window stays open: a video added on another device shows up without waiting for a
    // focus change or a local edit.
    options.liveChanges = true;
    LibrarySession::OpenedStore early;
    if (opened && opened->valid()) {
        early = opened->get();
        options.opened = &early;
    }
    QString error;
    LibrarySession::Failure why = LibrarySession::Failure::none;
    m_library = LibrarySession::open(options, &error, &why);
    if (!m_library) {
        fail(error);
        return why == LibrarySession::Failure::libraryInUse ? libraryInUse : libraryUnusable;
    }
    StartupTrace::mark("library session (store loaded)");
    installHttpCache();
    if (const QString refused = APIClient::baseRefusal(); !refused.isEmpty() && apiBase.isEmpty())
        QTextStream(stderr) << "clipvane: " << refused << '\n';

    SyncEngine &engine = m_library->engine();
    m_auth = std::make_unique<GoogleAuth>(APIClient::webOrigin(m_library->apiBase()));
    m_urls = std::make_unique<UrlHandler>(engine, m_library->store(), *m_onboarded, m_auth.get());
    connect(m_urls.get(), &UrlHandler::signInNeedsConfirmation, this, &ClipvaneApp::confirmSignIn);

    m_state = std::make_unique<AppState>(m_library->standard());
    m_keys = std::make_unique<KeyRules>(*m_state);
    m_window = std::make_unique<MainWindow>(engine, m_library->store(), *m_onboarded, *m_auth, *m_state,
                                            m_library->api(), m_library->standard());
    StartupTrace::mark("main window built");
    connect(m_window.get(), &MainWindow::settingsRequested, this, &ClipvaneApp::showSettings);
    connect(qApp, &QGuiApplication::applicationStateChanged, &engine, [&engine](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            engine.syncNow();
    });
    FirstPaintProbe::watch(m_window->currentPage());
    m_window->show();
    StartupTrace::mark("main window shown");
    // The system's network reports come over D-Bus, a blocking call at first: not before the
    // window is up. From then on the network coming back syncs and reopens the change stream.
    QTimer::singleShot(kNetworkWatchDelay, this, [this] {
        m_network = std::make_unique<SystemNetworkWatch>();
        connect(m_network.get(), &NetworkWatch::usableChanged, &m_library->networkWatch(),
                &NetworkWatch::usableChanged);
    });

    handleArguments(m_early + arguments);
    m_early.clear();
    return 0;
}

void ClipvaneApp::showSettings()
{
    if (!m_settings)
        m_settings = std::make_unique<SettingsView>(m_library->engine(), m_library->api(), m_library->secrets(),
                                                    *m_onboarded, m_library->standard());
    m_settings->showAndRaise();
}

void ClipvaneApp::installHttpCache()
{
    // Thumbnails are kept on disk between runs; the API's replies ask not to be stored.
    auto *cache = new QNetworkDiskCache(&APIClient::sharedNetwork());
    cache->setCacheDirectory(QDir(AppPaths::cacheDir()).filePath(QStringLiteral("http")));
    cache->setMaximumCacheSize(kHttpCacheBytes);
    APIClient::sharedNetwork().setCache(cache);
    ThumbCache::useNetwork(APIClient::sharedNetwork());
}

void ClipvaneApp::handleArguments(const QStringList &arguments)
{
    if (!m_urls) {
        m_early += arguments;
        return;
    }
    for (const QString &argument : arguments) {
        if (m_urls->handle(argument) == UrlHandler::Outcome::refusedSignIn)
            QTextStream(stderr) << "clipvane: a sign-in link without a token was refused\n";
    }
    if (arguments.isEmpty())
        m_window->bringToFront();
}

void ClipvaneApp::confirmSignIn(const QString &token, const QString &email)
{
    if (!canShowDialogs()) {
        QTextStream(stderr) << "clipvane: a sign-in link this application did not ask for was not applied: nobody "
                               "is here to confirm it\n";
        return;
    }
    if (!m_confirmation) {
        m_confirmation = std::make_unique<SignInConfirmation>(m_window.get(), [this] {
            return m_library->engine().isLoggedIn()
                       ? m_library->secrets().keychainRead(SecretKeys::email).value_or(QString())
                       : QString();
        });
        connect(m_confirmation.get(), &SignInConfirmation::confirmed, m_urls.get(), &UrlHandler::applySignIn);
    }
    if (!m_confirmation->offer(token, email))
        QTextStream(stderr) << "clipvane: a sign-in link was dropped: too many are waiting for an answer\n";
}

} // namespace clipvane
