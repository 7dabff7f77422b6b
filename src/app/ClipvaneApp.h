#pragma once

#include "LibrarySession.h"

#include <QObject>
#include <QStringList>
#include <QUrl>
#include <future>
#include <memory>

class QSettings;

namespace clipvane {

class GoogleAuth;
class LibrarySession;
class NetworkWatch;
class AppState;
class SettingsView;
class MainWindow;
class OnboardedFlag;
class SignInConfirmation;
class SingleInstance;
class KeyRules;
class UrlHandler;

// The running application: opens the library, creates the long-lived objects once, shows the
// main window, and takes what is opened into the application (its own arguments and those
// later launches hand over).
class ClipvaneApp : public QObject
{
    Q_OBJECT

public:
    // The exit status of a start-up that could not open the library.
    enum Exit { libraryUnusable = 1, libraryInUse = 3 };

    // How long start-up waits for a clipvane-cli command to finish with the library.
    static constexpr std::chrono::milliseconds kLockWait{5000};
    static constexpr qint64 kHttpCacheBytes = qint64(512) * 1024 * 1024;
    // How long after the window shows the system's network reports are first asked for.
    static constexpr std::chrono::milliseconds kNetworkWatchDelay{1000};

    explicit ClipvaneApp(QObject *parent = nullptr);
    ~ClipvaneApp() override;

    // Start-up, in order: the "onboarded" flag, the library (its store lock, store and sync
    // engine), the HTTP cache, the window state, the window; then the arguments. Zero once the window is up;
    // otherwise the exit status, after telling the user why.
    // opened: the store opened ahead on another thread, if start-up did so (waited for here).
    int start(const QStringList &arguments, const QUrl &apiBase = {},
              std::future<LibrarySession::OpenedStore> *opened = nullptr);

    // Links and callbacks from the command line or a later launch; none shows the window.
    void handleArguments(const QStringList &arguments);

    MainWindow *window() const { return m_window.get(); }
    AppState *state() const { return m_state.get(); }
    SettingsView *settings() const { return m_settings.get(); }
    LibrarySession *library() const { return m_library.get(); }

private:
    void fail(const QString &message);
    void confirmSignIn(const QString &token, const QString &email);
    void installHttpCache();
    void showSettings();

    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<QSettings> m_standard;
    std::unique_ptr<OnboardedFlag> m_onboarded;
    std::unique_ptr<LibrarySession> m_library;
    // Declared after the library: it relays into the library's watch, so it goes first.
    std::unique_ptr<NetworkWatch> m_network;
    std::unique_ptr<GoogleAuth> m_auth;
    std::unique_ptr<UrlHandler> m_urls;
    // The window's state (and its player) outlive the window; the Space key reaches the player
    // through the filter.
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<KeyRules> m_keys;
    // Made when first asked for; refers to the library's engine, client and secrets.
    std::unique_ptr<SettingsView> m_settings;
    // Last: the window refers to everything above and goes first.
    std::unique_ptr<MainWindow> m_window;
    // Its questions are windows over the main window: they go before it.
    std::unique_ptr<SignInConfirmation> m_confirmation;
    QStringList m_early; // handed over before the library was open
};

} // namespace clipvane
