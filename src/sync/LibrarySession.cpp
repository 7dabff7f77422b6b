#include "LibrarySession.h"

#include "APIClient.h"
#include "AppPaths.h"
#include "ChangeStream.h"
#include "GroupSettings.h"
#include "NetworkWatch.h"
#include "SecretStore.h"
#include "StoreLock.h"
#include "SyncEngine.h"
#include "SystemClock.h"
#include "VideoStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>
#include <QThread>

namespace clipvane {

LibrarySession::~LibrarySession() = default;

QUrl LibrarySession::apiBase() const
{
    return m_api->base();
}

LibrarySession::OpenedStore LibrarySession::openStore(const QString &storePath, QThread *owner)
{
    OpenedStore opened;
    QString ignored;
    opened.lock = StoreLock::acquire(storePath, &ignored);
    if (!opened.lock)
        return opened;
    opened.store = VideoStore::open(storePath, &ignored);
    if (!opened.store) {
        opened.lock.reset();
        return opened;
    }
    opened.store->moveToThread(owner);
    return opened;
}

std::unique_ptr<LibrarySession> LibrarySession::open(const Options &options, QString *error, Failure *failure)
{
    const auto fail = [&](Failure kind) {
        if (failure)
            *failure = kind;
        return nullptr;
    };
    if (failure)
        *failure = Failure::none;

    std::unique_ptr<LibrarySession> session(new LibrarySession);
    const QString storePath = options.storePath.isEmpty() ? AppPaths::storePath() : options.storePath;
    if (options.opened && options.opened->store && options.lock) {
        session->m_lock = std::move(options.opened->lock);
        session->m_store = std::move(options.opened->store);
    } else {
        if (options.lock) {
            StoreLock::Failure why = StoreLock::Failure::none;
            session->m_lock = StoreLock::acquire(storePath, error, options.lockWait, &why, options.lockWaiting);
            if (!session->m_lock)
                return fail(why == StoreLock::Failure::inUse         ? Failure::libraryInUse
                            : why == StoreLock::Failure::notWritable ? Failure::notWritable
                                                                     : Failure::storeUnusable);
            // A store SQLite could only read would take every change and lose it at the save.
            const QFileInfo file(storePath);
            if ((file.exists() && !file.isWritable()) || !QFileInfo(file.absolutePath()).isWritable()) {
                if (error)
                    *error =
                        QCoreApplication::translate(
                            "LibrarySession", "The library cannot be written: %1 (permission denied or a read-only "
                                              "disk). Nothing was changed.")
                            .arg(storePath);
                return fail(Failure::notWritable);
            }
        }
        session->m_store = VideoStore::open(storePath, error);
        if (!session->m_store)
            return fail(Failure::storeUnusable);
    }

    session->m_standard = options.standardSettingsPath.isEmpty()
                              ? AppPaths::standardSettings()
                              : std::make_unique<QSettings>(options.standardSettingsPath, QSettings::IniFormat);
    session->m_group = std::make_unique<GroupSettings>(
        options.groupSettingsPath.isEmpty() ? AppPaths::groupSettingsPath() : options.groupSettingsPath);
    session->m_secrets = options.secrets ? options.secrets : &defaultSecretStore();
    session->m_api = std::make_unique<APIClient>(options.apiBase.isEmpty() ? APIClient::resolveBase() : options.apiBase,
                                                 *session->m_secrets,
                                                 options.network ? *options.network : APIClient::sharedNetwork());

    Clock *clock = options.clock;
    if (!clock) {
        session->m_ownClock = std::make_unique<SystemClock>();
        clock = session->m_ownClock.get();
    }
    NetworkWatch *watch = options.networkWatch;
    if (!watch) {
        session->m_ownWatch = std::make_unique<NetworkWatch>();
        watch = session->m_ownWatch.get();
    }
    session->m_watch = watch;
    session->m_engine =
        std::make_unique<SyncEngine>(*session->m_store, *session->m_api, *session->m_secrets, *session->m_group,
                                     *session->m_standard, *clock, *watch, options.debounce, options.positionDelay);
    if (options.liveChanges) {
        session->m_stream = options.makeChangeStream ? options.makeChangeStream(*session->m_api)
                                                     : std::make_unique<ChangeStream>(*session->m_api);
        session->m_engine->setChangeStream(session->m_stream.get());
    }
    return session;
}

} // namespace clipvane
