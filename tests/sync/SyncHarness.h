#pragma once

#include "APIClient.h"
#include "Clock.h"
#include "FakeHttpServer.h"
#include "GroupSettings.h"
#include "LibrarySession.h"
#include "MemorySecretStore.h"
#include "NetworkWatch.h"
#include "SyncEngine.h"
#include "VideoStore.h"

#include <QHash>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace clipvane::test {

inline constexpr qint64 kStartMs = 1709640000000; // 2024-03-05 12:00:00 UTC

class FakeClock : public Clock
{
public:
    qint64 nowMs() const override { return m_now; }
    void set(qint64 ms) { m_now = ms; }

private:
    qint64 m_now = kStartMs;
};

class FakeNetworkWatch : public NetworkWatch
{
public:
    void report(bool usable) { Q_EMIT usableChanged(usable); }
};

// Holds requests to one path on the server's threads, so the test can act while the engine
// waits for the answer.
class Gate
{
public:
    ~Gate() { open(); }
    void close(const QByteArray &path);
    void open();                       // lets every held and later request through
    void pass();                       // lets one request through
    void wait(const QByteArray &path); // on a server thread; blocks while the path is held

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QByteArray m_path;
    bool m_closed = false;
    int m_passes = 0;
};

// Server replies in the service's shape.
QJsonObject serverVideo(const QString &id, qint64 updatedAt, qint64 rowId, const QString &title = {});
QByteArray pageBody(const QList<QJsonObject> &videos, qint64 now, int total, const QString &familyRev = u"0"_qs,
                    bool widget = true);
QByteArray videoBody(const QJsonObject &video);

inline const QByteArray kVideosPath = QByteArrayLiteral("/api/videos.php");
inline const QByteArray kUpsertPath = QByteArrayLiteral("/api/upsert.php");
inline const QByteArray kDeletePath = QByteArrayLiteral("/api/delete.php");
inline constexpr qint64 kEchoNow = 777000;

// One engine with a fake server, a store, settings and secrets in a temporary folder, and a
// clock and network watch the test controls. Unscripted requests are answered as the service
// would: an empty page (now = kEchoNow, family revision "0"); adds, patches, deletions succeed.
class SyncHarness
{
public:
    explicit SyncHarness(bool signedIn = true, std::chrono::milliseconds debounce = std::chrono::hours(1));
    ~SyncHarness();

    // Closes the library and opens it again from its files, as at launch.
    void restart(std::chrono::milliseconds debounce = std::chrono::hours(1));
    void close(); // as when the program ends
    void runCycle();
    bool waitForRequests(int count); // in all
    // Queues a reply for the next request to path; the gate holds these too.
    void reply(const QByteArray &path, FakeReply reply);

    Video *seed(const QString &id, const QString &state, const QString &title = {});
    QList<RecordedRequest> requestsTo(const QByteArray &path) const;
    int cyclesStarted() const { return m_cyclesStarted; }
    int cyclesEnded() const { return m_cyclesEnded; }
    std::unique_ptr<QSettings> rawGroup() const; // the group file as another process reads it

    QTemporaryDir dir;
    FakeHttpServer server;
    Gate gate;
    MemorySecretStore secrets;
    QNetworkAccessManager network;
    FakeClock clock;
    FakeNetworkWatch watch;
    std::unique_ptr<LibrarySession> session;
    APIClient *api = nullptr;
    VideoStore *store = nullptr;
    GroupSettings *group = nullptr;
    QSettings *standard = nullptr;
    SyncEngine *engine = nullptr;

private:
    void open(std::chrono::milliseconds debounce);
    FakeReply answer(const RecordedRequest &request);

    std::mutex m_repliesMutex;
    QHash<QByteArray, QList<FakeReply>> m_replies;
    int m_cyclesStarted = 0;
    int m_cyclesEnded = 0;
};

} // namespace clipvane::test
