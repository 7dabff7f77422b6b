#pragma once

#include "LibrarySession.h"
#include "MemorySecretStore.h"
#include "SyncEngine.h"

#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <memory>

namespace clipvane::test {

// A library's files in `dir`, with secrets in memory.
inline LibrarySession::Options libraryOptions(const QTemporaryDir &dir, MemorySecretStore &secrets,
                                              QNetworkAccessManager &network, QUrl apiBase)
{
    LibrarySession::Options options;
    options.apiBase = std::move(apiBase);
    options.storePath = dir.filePath(QStringLiteral("library.sqlite"));
    options.groupSettingsPath = dir.filePath(QStringLiteral("group.ini"));
    options.standardSettingsPath = dir.filePath(QStringLiteral("standard.ini"));
    options.secrets = &secrets;
    options.network = &network;
    return options;
}

// A library of its own in a temporary folder, with secrets in memory and a service address
// nothing answers on (port 9 of the loopback: cycles fail at once and send nothing anywhere).
struct TestLibrary
{
    explicit TestLibrary(QUrl apiBase = QUrl(QStringLiteral("http://127.0.0.1:9/api")),
                         std::chrono::milliseconds debounce = std::chrono::milliseconds(50))
    {
        LibrarySession::Options options = libraryOptions(dir, secrets, network, std::move(apiBase));
        options.debounce = debounce;
        QString error;
        session = LibrarySession::open(options, &error);
        if (!session)
            qFatal("test library: %s", qPrintable(error));
    }

    // A cycle a sign-in started ends (the address refuses at once) before the library goes, so
    // no suspended cycle outlives what it refers to.
    ~TestLibrary()
    {
        [[maybe_unused]] const bool ended = QTest::qWaitFor([this] { return !session->engine().syncing(); }, 10000);
    }

    QTemporaryDir dir;
    MemorySecretStore secrets;
    QNetworkAccessManager network;
    std::unique_ptr<LibrarySession> session;
};

} // namespace clipvane::test
