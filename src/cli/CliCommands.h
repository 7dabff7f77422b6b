#pragma once

#include "CliArguments.h"
#include "LocalEdits.h"
#include <QCoreApplication>

#include <QTextStream>
#include <QUrl>
#include <chrono>
#include <memory>
#include <optional>
#include <qcorotask.h>

namespace clipvane {

class LibrarySession;
class StopSignals;
class SyncEngine;
class Video;
class VideoStore;

// Carries out one clipvane-cli command with the application's own store, settings, secrets
// and sync engine. Commands that change the library hold the store lock for their whole run.
class CliCommands
{
    Q_DECLARE_TR_FUNCTIONS(CliCommands)

public:
    enum Exit {
        success = 0,
        failure = 1,
        usageError = 2,
        libraryInUse = 3, // after waiting for the other process
        notWritable = 4,  // permissions or a read-only disk
        saveFailed = 5,   // a full disk, say; the change did not reach the disk
    };

    // How long a command that changes the library waits for another process to let go of it,
    // unless CLIPVANE_LOCK_WAIT_MS says otherwise.
    static constexpr std::chrono::milliseconds kLockWait{5000};

    // progress: whether sync progress is drawn on err (a terminal).
    CliCommands(CliArguments arguments, QTextStream &out, QTextStream &err, bool progress);
    ~CliCommands();

    QCoro::Task<int> run();

private:
    int share();
    QCoro::Task<int> signIn();
    int signOut();
    int status();
    int add();
    QCoro::Task<int> importFiles();
    int setExcluded(bool excluded);
    int edit();
    int mark();
    int remove();
    QCoro::Task<int> sync();
    // sync --follow, after the first cycle: a cycle on each change the service announces, until
    // SIGINT or SIGTERM (or the service turns out to have no change stream).
    QCoro::Task<int> follow();
    // The line a finished cycle prints: its counts on out, or why it failed on err.
    bool reportCycle();
    int list();
    QCoro::Task<int> family();
    // The token given to signin; none after telling why.
    std::optional<QString> signInToken();

    // Takes the store lock, opens the store and builds the engine. False after telling why;
    // exitCode then holds the status to end with.
    bool openForWriting(int *exitCode, const QString &inUseHint = QString());
    // The store for reading only: no lock, and a missing file is not created (null store, no
    // error). False after telling why the file cannot be read.
    bool openForReading();
    // openForWriting, then the record named on the command line; null after telling why.
    const Video *recordToChange(int *exitCode);
    // False after telling why, when the library's last change could not be saved.
    bool savedByDoor();
    // A change's outcome: message on out when it was done, the reason on err otherwise.
    int report(EditOutcome outcome, const QString &youtubeID, const QString &message);
    QCoro::Task<void> waitWhileSyncing();
    void drawProgress();
    void drawImportProgress(qint64 bytesRead, qint64 bytesTotal, int videosFound);

    CliArguments m_arguments;
    QTextStream &m_out;
    QTextStream &m_err;
    bool m_progress;
    bool m_progressShown = false;
    QUrl m_base; // the service the engine talks to

    // Writers hold the whole library; readers only the store.
    std::unique_ptr<LibrarySession> m_session;
    std::unique_ptr<VideoStore> m_readOnlyStore;
    VideoStore *m_store = nullptr;
    SyncEngine *m_engine = nullptr;
    // sync --follow: SIGINT and SIGTERM, and whether one has come.
    std::unique_ptr<StopSignals> m_stop;
    bool m_stopRequested = false;
};

} // namespace clipvane
