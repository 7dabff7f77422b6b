#pragma once

#include "EditHistory.h"
#include "KeptLibraries.h"
#include "LocalEdits.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <chrono>
#include <optional>
#include <qcorotask.h>

class QSettings;

namespace clipvane {

class APIClient;
class APIError;
class ChangeStream;
class Clock;
class GroupSettings;
class NetworkWatch;
class SecretStore;
class Video;
class VideoStore;
struct APIVideo;

// Keeps the local store in step with the user's library on the service: signs in and out,
// runs sync cycles (take in the shared inbox, push pending records one at a time, pull the
// server's changes page by page), applies the user's local edits, and decides when a cycle
// runs. Everything happens on the main thread; network waits suspend the cycle without
// blocking it, so the user may edit records while a cycle waits.
class SyncEngine : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool syncing READ syncing NOTIFY syncingChanged)
    Q_PROPERTY(QDateTime lastSync READ lastSync NOTIFY lastSyncChanged)
    Q_PROPERTY(QString lastError READ lastError NOTIFY lastErrorChanged)
    Q_PROPERTY(bool hasError READ hasError NOTIFY lastErrorChanged)
    Q_PROPERTY(bool isLoggedIn READ isLoggedIn NOTIFY isLoggedInChanged)
    Q_PROPERTY(double progressFraction READ progressFraction NOTIFY progressFractionChanged)
    Q_PROPERTY(bool hasProgress READ hasProgress NOTIFY progressFractionChanged)
    Q_PROPERTY(int progressReceived READ progressReceived NOTIFY progressReceivedChanged)
    Q_PROPERTY(int progressTotal READ progressTotal NOTIFY progressTotalChanged)
    Q_PROPERTY(bool widgetVisible READ widgetVisible NOTIFY widgetVisibleChanged)

public:
    static constexpr int kPageLimit = 600;
    // Adds sent at once: a push of a large import would otherwise wait on each round trip in turn.
    static constexpr int kAddsInFlight = 4;
    static constexpr std::chrono::milliseconds kDebounce{2000};
    // How long a change announced by the service waits for its pull: long enough to gather a
    // burst of announcements into one cycle, short enough that another device's add shows at once.
    static constexpr std::chrono::milliseconds kAnnouncedDelay{100};
    // How long a saved resume position may wait for its push: positions come every few
    // seconds while a video plays, and one push now and then carries the latest.
    static constexpr std::chrono::milliseconds kPositionDelay{60000};

    // Everything from the outside world comes in here and must outlive the engine. Reads the
    // widget flag, provisions "testToken" from the standard settings, and decides whether a
    // user is signed in. Starts no cycle.
    SyncEngine(VideoStore &store, APIClient &api, SecretStore &secrets, GroupSettings &group, QSettings &standard,
               Clock &clock, NetworkWatch &network, std::chrono::milliseconds debounce = kDebounce,
               std::chrono::milliseconds positionDelay = kPositionDelay, QObject *parent = nullptr);
    ~SyncEngine() override;

    bool syncing() const { return m_syncing; }
    // End of the last successful cycle; null when none has succeeded yet.
    QDateTime lastSync() const { return m_lastSync; }
    // Message of the last failed cycle or sign-in; null when there is none.
    QString lastError() const { return m_lastError.value_or(QString()); }
    bool hasError() const { return m_lastError.has_value(); }
    bool isLoggedIn() const { return m_isLoggedIn; }
    // Share of the pull received, 0 to 1; -1 while no pull with a known total runs.
    double progressFraction() const { return m_progressFraction.value_or(-1.0); }
    bool hasProgress() const { return m_progressFraction.has_value(); }
    int progressReceived() const { return m_progressReceived; }
    int progressTotal() const { return m_progressTotal; }
    bool widgetVisible() const { return m_widgetVisible; }

    // Stores the credentials and, when they read back intact, signs in and kicks a cycle. When
    // the local records belong to another account than email, that library (pending changes and
    // cursor included) is set aside under its account first, so nothing of it reaches or shows
    // in this one's library, and the library kept for email comes back; when it cannot be set
    // aside, nobody is signed in and nothing changes. An empty email cannot be told apart and
    // keeps the records.
    bool signIn(const QString &token, const QString &email);
    // Forgets the credentials and the pull cursor. The local records stay.
    void signOut();
    // Signs out after the service erased the account. The local records stay until the next
    // sign-in, which starts with an empty store even for the same address (a new account).
    void signOutDeletedAccount();

    // One cycle. Never fails: the outcome is in lastSync and lastError. A call while a cycle
    // runs only asks for one more cycle afterwards and returns at once.
    QCoro::Task<void> sync();
    // Starts a cycle now without waiting for it (or asks for one more after the running one).
    void syncNow();
    // Starts a cycle once no further call has come for the debounce time.
    void scheduleSync();
    // Starts a cycle within the position delay, unless one is due sooner; later calls meanwhile
    // neither start another nor put it off.
    void scheduleUnhurriedSync();

    // Holds the service's live change stream while someone is signed in (a new sign-in connects it
    // afresh, the network coming back at once) and syncs on what it announces. Not owned; it
    // must outlive the engine. Null: none, and nothing but the usual triggers starts a cycle.
    void setChangeStream(ChangeStream *stream);
    // The library changed on the service at its clock now: a cycle is scheduled, unless the
    // library has already pulled that far (the echo of this device's own push). One announced
    // while a cycle runs is weighed when it ends, against the cursor that cycle reached, so a
    // running cycle leads to one more at most.
    void changeAnnounced(qint64 now);

    // The one door for changes to the library; each change it makes schedules a cycle.
    LocalEdits &edits() { return m_edits; }
    // The last undoable change of this session; forgotten at sign-out and at every sign-in.
    EditHistory &history() { return m_history; }

Q_SIGNALS:
    void syncingChanged(bool syncing);
    void lastSyncChanged(const QDateTime &lastSync);
    void lastErrorChanged(const QString &lastError);
    void isLoggedInChanged(bool isLoggedIn);
    void progressFractionChanged(double progressFraction);
    void progressReceivedChanged(int progressReceived);
    void progressTotalChanged(int progressTotal);
    void widgetVisibleChanged(bool widgetVisible);
    // The details of a record were edited (the library list recomputes on it).
    void localEdit();
    // A pull starts from the beginning because the store does not hold what the cursor said
    // (it was made anew or replaced): everything comes again.
    void refilling();

private:
    // How a step of the cycle ended.
    struct Outcome
    {
        enum class Kind { done, failed, signedOut, abandoned };
        Kind kind = Kind::done;
        QString message;

        static Outcome done() { return {}; }
        static Outcome abandoned() { return {Kind::abandoned, {}}; }
        static Outcome failed(QString message) { return {Kind::failed, std::move(message)}; }
        static Outcome fromError(const APIError &error);
        bool goOn() const { return kind == Kind::done; }
    };
    static bool sameAccount(const QString &a, const QString &b);
    // Removes every local record and the pull cursors: the store starts over for a new account.
    void forgetLibrary();
    // Sets the library of account aside; false (and lastError) when it could not be.
    bool keepLibrary(const QString &account);
    void restoreLibrary(const QString &account);
    void startCycle();
    QCoro::Task<Outcome> runCycle(quint64 session);
    Outcome ingestShareInbox();
    QCoro::Task<Outcome> pushPending(quint64 session);
    QCoro::Task<Outcome> pushDeletion(QString youtubeID, quint64 session);
    QCoro::Task<Outcome> pushPatch(QString youtubeID, quint64 session);
    QCoro::Task<Outcome> pushAdd(QString youtubeID, quint64 session, bool *again);
    QCoro::Task<Outcome> pullChanges(quint64 session);
    void mergeServerVideo(const APIVideo &server);
    Outcome saveStore();
    // The answer to one record's push failed: either the record is refused for good (it stays
    // pending, the error is reported, the push goes on) or the cycle ends.
    Outcome recordFailure(const APIError &error);
    bool isCurrent(quint64 session) const { return m_session == session && m_isLoggedIn; }
    void onPathUpdate(bool usable);
    // After a cycle: one more when the service announced a change the cycle did not pull.
    void followAnnouncement();
    void pullAnnouncedSoon();

    void setSyncing(bool syncing);
    void setLastSync(const QDateTime &lastSync);
    void setLastError(std::optional<QString> lastError);
    void setLoggedIn(bool loggedIn);
    void setProgress(std::optional<double> fraction, int received, int total);
    void setWidgetVisible(bool visible);
    void resetProgress();

    VideoStore &m_store;
    APIClient &m_api;
    SecretStore &m_secrets;
    GroupSettings &m_group;
    Clock &m_clock;

    bool m_syncing = false;
    QDateTime m_lastSync;
    std::optional<QString> m_lastError;
    bool m_isLoggedIn = false;
    std::optional<double> m_progressFraction;
    int m_progressReceived = 0;
    int m_progressTotal = 0;
    bool m_widgetVisible = true;

    bool m_wasOnline = true;
    bool m_pendingKick = false;
    QTimer m_debounce;
    QTimer m_unhurried;
    QTimer m_announcedSoon;
    // Changes at every sign-in and sign-out: a cycle of an earlier session stops at its next
    // step, so it never writes a cursor or applies a reply for an account no longer signed in.
    quint64 m_session = 0;
    // The records whose adds are on their way to the server: deleting one must reach the server too.
    QSet<QString> m_addInFlight;
    ChangeStream *m_stream = nullptr;
    // The latest service clock announced while a cycle ran; 0: none.
    qint64 m_announced = 0;
    KeptLibraries m_kept;
    LocalEdits m_edits;
    EditHistory m_history; // works through m_edits, so it comes after it
};

} // namespace clipvane
