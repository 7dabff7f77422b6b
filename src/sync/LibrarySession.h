#pragma once

#include "StoreLock.h"
#include "VideoStore.h"

#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QSettings;
class QThread;

namespace clipvane {

class APIClient;
class ChangeStream;
class Clock;
class GroupSettings;
class NetworkWatch;
class SecretStore;
class SyncEngine;

// One library, assembled: the store lock, the store, the settings, the secrets, the API client
// and the sync engine, built in the order each needs the ones before it and torn down in the
// reverse order, so the engine never outlives what it refers to and the store makes its last
// save while the lock is still held. The application, clipvane-cli and the tests all open a
// library through this class.
class LibrarySession
{
public:
    enum class Failure { none, libraryInUse, notWritable, storeUnusable };

    // The lock and the loaded store, taken ahead of the rest of the library: start-up loads
    // them on another thread while the window system is set up. Null store: not taken.
    struct OpenedStore
    {
        std::unique_ptr<StoreLock> lock;
        std::unique_ptr<VideoStore> store;
    };

    // Where the library lives and what it talks to. Empty or null fields take the profile's own
    // files (AppPaths) and the process-wide services; the pointers are not owned and must
    // outlive the session.
    struct Options
    {
        QUrl apiBase;
        QString storePath;
        QString groupSettingsPath;
        QString standardSettingsPath; // an INI file; empty: the standard settings
        SecretStore *secrets = nullptr;
        QNetworkAccessManager *network = nullptr;
        Clock *clock = nullptr;
        // Null: the path counts as always usable (one command, one cycle).
        NetworkWatch *networkWatch = nullptr;
        // Whether the session holds the store lock, and how long it waits for another holder;
        // lockWaiting is told once when the wait begins (StoreLock::acquire).
        bool lock = true;
        std::chrono::milliseconds lockWait{0};
        std::function<void(const QString &holder)> lockWaiting;
        std::chrono::milliseconds debounce{2000};
        std::chrono::milliseconds positionDelay{60000}; // SyncEngine::kPositionDelay
        // Whether the engine holds the service's live change stream while signed in: a window
        // that stays open does; a command that runs one cycle and ends does not.
        bool liveChanges = false;
        // Makes that stream (tests shorten its back-off); empty: the standard one.
        std::function<std::unique_ptr<ChangeStream>(APIClient &)> makeChangeStream;
        // A store opened ahead by openStore() for the same path; open() takes it over. Without
        // one (or when it was not taken), open() takes the lock and opens the store itself.
        OpenedStore *opened = nullptr;
    };

    ~LibrarySession();
    LibrarySession(const LibrarySession &) = delete;
    LibrarySession &operator=(const LibrarySession &) = delete;

    // Null, with a message for the user and the kind of failure, when the lock cannot be taken
    // or the store cannot be opened. The store file is never changed by a failed open.
    static std::unique_ptr<LibrarySession> open(const Options &options, QString *error, Failure *failure = nullptr);

    // Takes the lock without waiting and loads the store, on any thread; the store then
    // belongs to owner. Null store when either fails: open() tries again and reports why.
    static OpenedStore openStore(const QString &storePath, QThread *owner);

    VideoStore &store() { return *m_store; }
    APIClient &api() { return *m_api; }
    GroupSettings &group() { return *m_group; }
    QSettings &standard() { return *m_standard; }
    SecretStore &secrets() { return *m_secrets; }
    SyncEngine &engine() { return *m_engine; }
    // Null unless the options asked for live changes.
    ChangeStream *changeStream() { return m_stream.get(); }
    // The network reports the engine listens to: the given watch, or one of its own that a
    // caller learning of the network later (the window, once shown) relays reports into.
    NetworkWatch &networkWatch() { return *m_watch; }
    QUrl apiBase() const;

private:
    LibrarySession() = default;

    // Declared in the order of assembly: members are destroyed in reverse, engine first and
    // the lock last.
    std::unique_ptr<StoreLock> m_lock;
    std::unique_ptr<VideoStore> m_store;
    std::unique_ptr<QSettings> m_standard;
    std::unique_ptr<GroupSettings> m_group;
    SecretStore *m_secrets = nullptr;
    std::unique_ptr<APIClient> m_api;
    std::unique_ptr<Clock> m_ownClock;
    std::unique_ptr<NetworkWatch> m_ownWatch;
    NetworkWatch *m_watch = nullptr;
    std::unique_ptr<ChangeStream> m_stream;
    std::unique_ptr<SyncEngine> m_engine;
};

} // namespace clipvane
