#include "SyncHarness.h"

#include "LinkParser.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <atomic>

namespace clipvane::test {

namespace {

constexpr auto kGateLimit = std::chrono::seconds(60);
constexpr int kWaitForRequestsMs = 20000;

// Answers like the service: adds and patches echo what was sent, deletions succeed.
FakeReply serviceAnswer(const RecordedRequest &request)
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
        const QString id = body.value(u"youtube_id"_qs).toString();
        video = serverVideo(id, ++updatedAt, 1);
        for (const QString &field : {u"title"_qs, u"upload_date"_qs, u"duration"_qs, u"excluded"_qs})
            video.insert(field, body.value(field));
    } else {
        const QString id = youtubeID(body.value(u"url"_qs).toString()).value_or(u"unknown"_qs);
        const QString title = body.value(u"title"_qs).toString();
        video = serverVideo(id, ++updatedAt, 1, title.isEmpty() ? u"Server title "_qs + id : title);
    }
    return FakeReply::json(videoBody(video));
}

} // namespace

void Gate::close(const QByteArray &path)
{
    std::lock_guard lock(m_mutex);
    m_path = path;
    m_closed = true;
    m_passes = 0;
}

void Gate::open()
{
    std::lock_guard lock(m_mutex);
    m_closed = false;
    m_changed.notify_all();
}

void Gate::pass()
{
    std::lock_guard lock(m_mutex);
    ++m_passes;
    m_changed.notify_all();
}

void Gate::wait(const QByteArray &path)
{
    std::unique_lock lock(m_mutex);
    if (!m_closed || path != m_path)
        return;
    // Bounded, so a failing test cannot hang the server's threads for ever.
    if (m_changed.wait_for(lock, kGateLimit, [this] { return !m_closed || m_passes > 0; }) && m_closed)
        --m_passes;
}

QJsonObject serverVideo(const QString &id, qint64 updatedAt, qint64 rowId, const QString &title)
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

QByteArray pageBody(const QList<QJsonObject> &videos, qint64 now, int total, const QString &familyRev, bool widget)
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

QByteArray videoBody(const QJsonObject &video)
{
    return QJsonDocument(QJsonObject{{u"video"_qs, video}}).toJson(QJsonDocument::Compact);
}

SyncHarness::SyncHarness(bool signedIn, std::chrono::milliseconds debounce)
{
    if (!dir.isValid() || !server.start())
        qFatal("test harness: no temporary folder or no free port");
    server.setHandler([this](const RecordedRequest &request) { return answer(request); });
    if (signedIn)
        secrets.keychainSave(u"token-1"_qs, SecretKeys::token);
    open(debounce);
}

SyncHarness::~SyncHarness()
{
    close();
    gate.open();
    // Closing the idle connections lets the server stop without waiting out its keep-alive.
    network.clearConnectionCache();
    // The server's threads use the scripted replies: they stop before those go away.
    server.stop();
}

FakeReply SyncHarness::answer(const RecordedRequest &request)
{
    gate.wait(request.path);
    {
        std::lock_guard lock(m_repliesMutex);
        QList<FakeReply> &queued = m_replies[request.path];
        if (!queued.isEmpty())
            return queued.takeFirst();
    }
    return serviceAnswer(request);
}

void SyncHarness::reply(const QByteArray &path, FakeReply reply)
{
    std::lock_guard lock(m_repliesMutex);
    m_replies[path].append(std::move(reply));
}

void SyncHarness::open(std::chrono::milliseconds debounce)
{
    LibrarySession::Options options;
    options.apiBase = server.url(u"/api"_qs);
    options.storePath = dir.filePath(u"library.sqlite"_qs);
    options.groupSettingsPath = dir.filePath(u"group.ini"_qs);
    options.standardSettingsPath = dir.filePath(u"Clipvane.ini"_qs);
    options.secrets = &secrets;
    options.network = &network;
    options.clock = &clock;
    options.networkWatch = &watch;
    options.debounce = debounce;
    QString error;
    session = LibrarySession::open(options, &error);
    if (!session)
        qFatal("test harness: library: %s", qPrintable(error));
    api = &session->api();
    store = &session->store();
    group = &session->group();
    standard = &session->standard();
    engine = &session->engine();
    QObject::connect(engine, &SyncEngine::syncingChanged, engine,
                     [this](bool syncing) { ++(syncing ? m_cyclesStarted : m_cyclesEnded); });
}

void SyncHarness::close()
{
    session.reset();
    api = nullptr, store = nullptr, group = nullptr, standard = nullptr, engine = nullptr;
}

void SyncHarness::restart(std::chrono::milliseconds debounce)
{
    close();
    open(debounce);
}

void SyncHarness::runCycle()
{
    QCoro::waitFor(engine->sync());
}

bool SyncHarness::waitForRequests(int count)
{
    return QTest::qWaitFor([&] { return server.requestCount() >= count; }, kWaitForRequestsMs);
}

Video *SyncHarness::seed(const QString &id, const QString &state, const QString &title)
{
    Video *video = store->insert(Video(id, title.isEmpty() ? u"Local "_qs + id : title, u"https://youtu.be/"_qs + id,
                                       u"2019-05-06"_qs, u"1:00"_qs, false, u"web"_qs, 500, 600, state));
    store->save();
    return video;
}

QList<RecordedRequest> SyncHarness::requestsTo(const QByteArray &path) const
{
    QList<RecordedRequest> matching;
    for (const RecordedRequest &request : server.requests()) {
        if (request.path == path)
            matching.append(request);
    }
    return matching;
}

std::unique_ptr<QSettings> SyncHarness::rawGroup() const
{
    // A copy under a new name: QSettings may trust its cache of a file name it has read before.
    static int copies = 0;
    const QString copy = dir.filePath(u"group-copy-%1.ini"_qs.arg(++copies));
    QFile::copy(group->path(), copy);
    return std::make_unique<QSettings>(copy, QSettings::IniFormat);
}

} // namespace clipvane::test
