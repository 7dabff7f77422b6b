#pragma once

#include "ChangeStream.h"
#include "Clock.h"
#include "FakeHttpServer.h"
#include "GroupSettings.h"
#include "LinkParser.h"
#include "NetworkWatch.h"
#include "TestLibrary.h"
#include "VideoStore.h"

#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace clipvane::test {

inline constexpr qint64 kStartMs = 1709640000000; // 2024-03-05 12:00:00 UTC
inline const QByteArray kVideosPath = QByteArrayLiteral("/api/videos.php");
inline const QByteArray kUpsertPath = QByteArrayLiteral("/api/upsert.php");
inline const QByteArray kDeletePath = QByteArrayLiteral("/api/delete.php");
inline const QByteArray kEventsPath = QByteArrayLiteral("/api/events.php");
inline constexpr qint64 kEchoNow = 777000;

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
    void close(const QByteArray &path, int letThrough = 0) // holds requests after the first letThrough
    {
        std::lock_guard lock(m_mutex);
        m_path = path;
        m_closed = true;
        m_passes = letThrough;
    }
    void open() // lets every held and later request through
    {
        std::lock_guard lock(m_mutex);
        m_closed = false;
        m_changed.notify_all();
    }
    void wait(const QByteArray &path) // on a server thread; blocks while the path is held
    {
        std::unique_lock lock(m_mutex);
        if (!m_closed || path != m_path)
            return;
        // Bounded, so a failing test cannot hang the server's threads for ever.
        if (m_changed.wait_for(lock, std::chrono::seconds(60), [this] { return !m_closed || m_passes > 0; }) &&
            m_closed)
            --m_passes;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    QByteArray m_path;
    bool m_closed = false;
    int m_passes = 0;
};

// Server replies in the service's shape.
inline QJsonObject serverVideo(const QString &id, qint64 updatedAt, qint64 rowId, const QString &title = {})
{
    static const QJsonObject common = QJsonDocument::fromJson(R"({"upload_date": "2020-01-02", "duration": "3:00",
        "excluded": 0, "deleted": 0, "source": "web", "created_at": 1000, "owner_email": "", "read_only": 0})")
                                          .object();
    QJsonObject video = common;
    video.insert(u"id"_qs, rowId);
    video.insert(u"youtube_id"_qs, id);
    video.insert(u"title"_qs, title.isEmpty() ? u"Title "_qs + id : title);
    video.insert(u"url"_qs, u"https://youtu.be/"_qs + id);
    video.insert(u"updated_at"_qs, updatedAt);
    return video;
}

inline QByteArray pageBody(const QList<QJsonObject> &videos, qint64 now, int total, const QString &familyRev = u"0"_qs,
                           bool widget = true)
{
    QJsonArray array;
    for (const QJsonObject &video : videos)
        array.append(video);
    return QJsonDocument(QJsonObject{{u"now"_qs, now},
                                     {u"family_rev"_qs, familyRev},
                                     {u"total"_qs, total},
                                     {u"widget"_qs, widget},
                                     {u"videos"_qs, array}})
        .toJson(QJsonDocument::Compact);
}

inline QByteArray videoBody(const QJsonObject &video)
{
    return QJsonDocument(QJsonObject{{u"video"_qs, video}}).toJson(QJsonDocument::Compact);
}

// Answers like the service: an empty page (now = kEchoNow, family revision "0"); adds and
// patches echo what was sent, deletions succeed.
inline FakeReply serviceAnswer(const RecordedRequest &request)
{
    static std::atomic<qint64> updatedAt{kEchoNow};
    if (request.path == kVideosPath)
        return FakeReply::json(pageBody({}, kEchoNow, 0));
    if (request.path == kDeletePath)
        return FakeReply::json(QByteArrayLiteral(R"({"ok":true})"));
    if (request.path != kUpsertPath)
        return FakeReply::json(QByteArrayLiteral(R"({"error":"unknown"})"), 404);
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    QJsonObject video;
    if (body.contains(u"youtube_id"_qs)) {
        video = serverVideo(body.value(u"youtube_id"_qs).toString(), ++updatedAt, 1);
        for (const QString &field :
             {u"title"_qs, u"upload_date"_qs, u"duration"_qs, u"excluded"_qs, u"watched"_qs, u"position"_qs}) {
            if (body.contains(field))
                video.insert(field, body.value(field));
        }
    } else {
        const QString id = youtubeID(body.value(u"url"_qs).toString()).value_or(u"unknown"_qs);
        const QString title = body.value(u"title"_qs).toString();
        video = serverVideo(id, ++updatedAt, 1, title.isEmpty() ? u"Server title "_qs + id : title);
    }
    return FakeReply::json(videoBody(video));
}

// One engine with a fake server, a store, settings and secrets in a temporary folder, and a
// clock and network watch the test controls. Unscripted requests get the service's answer.
// With live changes, the engine holds the change stream (its back-off in milliseconds); the
// server answers it from feed.
class SyncHarness
{
public:
    explicit SyncHarness(bool signedIn = true, std::chrono::milliseconds debounce = std::chrono::hours(1),
                         bool liveChanges = false)
        : m_live(liveChanges)
    {
        if (!dir.isValid() || !server.start())
            qFatal("test harness: no temporary folder or no free port");
        server.setHandler([this](const RecordedRequest &request) { return answer(request); });
        if (signedIn)
            secrets.keychainSave(u"token-1"_qs, SecretKeys::token);
        open(debounce);
    }
    ~SyncHarness()
    {
        close();
        gate.open();
        // Closing the idle connections lets the server stop without waiting out its keep-alive.
        network.clearConnectionCache();
        server.stop(); // before the scripted replies its threads use go away
    }

    // Closes the library and opens it again from its files, as at launch.
    void restart(std::chrono::milliseconds debounce = std::chrono::hours(1))
    {
        close();
        open(debounce);
    }
    void close() // as when the program ends
    {
        session.reset();
        store = nullptr, group = nullptr, engine = nullptr;
    }
    void runCycle() { QCoro::waitFor(engine->sync()); }
    bool waitForRequests(int count) // in all
    {
        return QTest::qWaitFor([&] { return server.requestCount() >= count; }, 20000);
    }
    // Queues a reply for the next request to path; the gate holds these too.
    void reply(const QByteArray &path, FakeReply reply)
    {
        std::lock_guard lock(m_repliesMutex);
        m_replies[path].append(std::move(reply));
    }

    const Video *seed(const QString &id, const QString &state, const QString &title = {})
    {
        const Video *video =
            store->insert(Video(id, title.isEmpty() ? u"Local "_qs + id : title, u"https://youtu.be/"_qs + id,
                                u"2019-05-06"_qs, u"1:00"_qs, false, u"web"_qs, 500, 600, state));
        store->save();
        return video;
    }
    QList<RecordedRequest> requestsTo(const QByteArray &path) const
    {
        QList<RecordedRequest> matching;
        for (const RecordedRequest &request : server.requests()) {
            if (request.path == path)
                matching.append(request);
        }
        return matching;
    }
    int cyclesStarted() const { return m_cyclesStarted; }
    int cyclesEnded() const { return m_cyclesEnded; }
    // The group file as another process reads it: a copy under a new name, since QSettings may
    // trust its cache of a file name it has read before.
    std::unique_ptr<QSettings> rawGroup() const
    {
        static int copies = 0;
        const QString copy = dir.filePath(u"group-copy-%1.ini"_qs.arg(++copies));
        QFile::copy(group->path(), copy);
        return std::make_unique<QSettings>(copy, QSettings::IniFormat);
    }

    QTemporaryDir dir;
    FakeHttpServer server;
    Gate gate;
    MemorySecretStore secrets;
    QNetworkAccessManager network;
    FakeClock clock;
    FakeNetworkWatch watch;
    std::unique_ptr<LibrarySession> session;
    VideoStore *store = nullptr;
    GroupSettings *group = nullptr;
    SyncEngine *engine = nullptr;
    std::shared_ptr<ReplyFeed> feed = std::make_shared<ReplyFeed>();
    ChangeStream::Timing liveTiming{std::chrono::milliseconds(10), std::chrono::milliseconds(40),
                                    std::chrono::milliseconds(40), std::chrono::seconds(60),
                                    std::chrono::seconds(60),      [] { return 0.5; }};

private:
    void open(std::chrono::milliseconds debounce)
    {
        LibrarySession::Options options = libraryOptions(dir, secrets, network, server.url(u"/api"_qs));
        options.clock = &clock;
        options.networkWatch = &watch;
        options.debounce = debounce;
        options.liveChanges = m_live;
        options.makeChangeStream = [this](APIClient &api) {
            ChangeStream::Timing timing = liveTiming;
            return std::make_unique<ChangeStream>(api, timing);
        };
        QString error;
        session = LibrarySession::open(options, &error);
        if (!session)
            qFatal("test harness: library: %s", qPrintable(error));
        store = &session->store();
        group = &session->group();
        engine = &session->engine();
        QObject::connect(engine, &SyncEngine::syncingChanged, engine,
                         [this](bool syncing) { ++(syncing ? m_cyclesStarted : m_cyclesEnded); });
    }
    FakeReply answer(const RecordedRequest &request)
    {
        gate.wait(request.path);
        {
            std::lock_guard lock(m_repliesMutex);
            QList<FakeReply> &queued = m_replies[request.path];
            if (!queued.isEmpty())
                return queued.takeFirst();
        }
        if (m_live && request.path == kEventsPath)
            return FakeReply::eventStream(feed);
        return serviceAnswer(request);
    }

    std::mutex m_repliesMutex;
    QHash<QByteArray, QList<FakeReply>> m_replies;
    bool m_live = false;
    int m_cyclesStarted = 0;
    int m_cyclesEnded = 0;
};

} // namespace clipvane::test
