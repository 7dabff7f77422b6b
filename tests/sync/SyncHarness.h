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

// 2024-03-05 12:00:00 UTC.
inline constexpr qint64 kStartMs = 1709640000000;

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

// Holds requests to one path on the server's threads until the test lets them through, so
// the test can act while the engine waits for the answer.
class Gate
{
public:
    ~Gate() { open(); }
    void close(const QByteArray &path);
    // Lets every held and later request through.
    void open();
    // Lets one request through.
    void pass();
    // Called on a server thread for every request; blocks when the path is held.
    void wait(const QByteArray &path);

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

// One engine with everything it talks to: a fake server on a free port, a store, settings
// and secrets in a temporary folder, a clock and a network watch the test controls. Requests
// without a scripted reply are answered like the service would: an empty list page (now =
// kEchoNow, family revision "0"), and adds, patches and deletions that succeed.
class SyncHarness
{
public:
    explicit SyncHarness(bool signedIn = true, std::chrono::milliseconds debounce = std::chrono::hours(1));
    ~SyncHarness();

    // A restart: the library is closed and opened again from its files, as at launch, after
    // whatever the test put into the store and the settings.
    void restart(std::chrono::milliseconds debounce = std::chrono::hours(1));
    // The library goes away (engine, store and all), as when the program ends.
    void close();
    // Runs one cycle to its end.
    void runCycle();
    // Waits until the server has received `count` requests in all.
    bool waitForRequests(int count);

    // Queues a reply for the next request to path. Unlike FakeHttpServer::enqueue, the gate
    // holds these as well.
    void reply(const QByteArray &path, FakeReply reply);

    Video *seed(const QString &id, const QString &state, const QString &title = {});
    QList<RecordedRequest> requestsTo(const QByteArray &path) const;
    int cyclesStarted() const { return m_cyclesStarted; }
    int cyclesEnded() const { return m_cyclesEnded; }
    // The group settings file as any other process reads it.
    std::unique_ptr<QSettings> rawGroup() const;

    QTemporaryDir dir;
    FakeHttpServer server;
    Gate gate;
    MemorySecretStore secrets;
    QNetworkAccessManager network;
    FakeClock clock;
    FakeNetworkWatch watch;
    std::unique_ptr<LibrarySession> session;
    // The parts of the open library.
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
