#include "TestService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

namespace clipvane::service::test {

std::optional<VideoMetadata> FakeMetadataProvider::fetch(const QString &youtubeID, const QString &)
{
    std::unique_lock lock(m_mutex);
    ++m_calls[youtubeID];
    ++m_waiting;
    m_released.wait(lock, [this] { return !m_held; });
    --m_waiting;
    if (m_offline)
        return std::nullopt;
    if (auto failures = m_failures.find(youtubeID); failures != m_failures.end() && failures->second > 0) {
        --failures->second;
        return std::nullopt;
    }
    const auto known = m_known.find(youtubeID);
    if (known == m_known.end())
        return VideoMetadata{u"Title of "_qs + youtubeID, u"2020-01-02"_qs, u"3:04"_qs};
    return known->second;
}

void FakeMetadataProvider::set(const QString &youtubeID, const VideoMetadata &metadata)
{
    std::lock_guard lock(m_mutex);
    m_known[youtubeID] = metadata;
}

void FakeMetadataProvider::failNext(const QString &youtubeID, int times)
{
    std::lock_guard lock(m_mutex);
    m_failures[youtubeID] = times;
}

void FakeMetadataProvider::setOffline(bool offline)
{
    std::lock_guard lock(m_mutex);
    m_offline = offline;
}

void FakeMetadataProvider::hold(bool held)
{
    {
        std::lock_guard lock(m_mutex);
        m_held = held;
    }
    m_released.notify_all();
}

int FakeMetadataProvider::waiting() const
{
    std::lock_guard lock(m_mutex);
    return m_waiting;
}

int FakeMetadataProvider::calls(const QString &youtubeID) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_calls.find(youtubeID);
    return it == m_calls.end() ? 0 : it->second;
}

PullMirror::PullMirror(TestService &service, QString token, qint64 cursor)
    : m_service(service)
    , m_token(std::move(token))
    , m_cursor(cursor)
{}

PullMirror &PullMirror::sync()
{
    QString familyRev = m_familyRev;
    for (const QJsonObject &row : m_service.pullAll(m_token, m_cursor, 600, &familyRev))
        m_rows.insert(row.value(u"youtube_id"_qs).toString(), row);
    m_familyRev = familyRev;
    return *this;
}

QString PullMirror::title(const QString &youtubeId) const
{
    return row(youtubeId).value(u"title"_qs).toString();
}

QStringList PullMirror::live() const
{
    QStringList ids;
    for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it)
        if (it->value(u"deleted"_qs).toInt() == 0)
            ids.append(it.key());
    return ids;
}

std::string Reply::header(const std::string &name) const
{
    const auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
}

TestService::TestService(const Configure &configure, Storage::WallClock wallClock)
{
    ServiceConfig config;
    config.dataDir = m_dir.path();
    config.listenHost = u"127.0.0.1"_qs;
    config.listenPort = 0;
    config.logRequests = false;
    config.limits.threads = 8;
    config.metadataRetry = MetadataRetry{3, 20, 2};
    config.telegram.botName = u"clipvane_test_bot"_qs;
    if (configure)
        configure(config);
    auto metadata = std::make_unique<FakeMetadataProvider>();
    m_metadata = metadata.get();
    m_service = std::make_unique<Service>(config, std::move(metadata), std::move(wallClock));
    m_port = m_service->start();
}

TestService::~TestService()
{
    m_service->stop();
}

QString TestService::token(const QString &email)
{
    return m_service->accounts().issueToken(email);
}

Account TestService::account(const QString &email)
{
    const auto account = m_service->accounts().authenticate(token(email));
    return account.value_or(Account{});
}

Reply TestService::toReply(const httplib::Result &result)
{
    Reply reply;
    if (!result)
        return reply;
    reply.status = result->status;
    reply.body = result->body;
    reply.headers = result->headers;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(result->body), &error);
    reply.isJsonObject = error.error == QJsonParseError::NoError && document.isObject();
    reply.json = document.object();
    return reply;
}

Reply TestService::send(const std::string &method, const QString &token, const std::string &path,
                        const std::string &body)
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_read_timeout(30, 0);
    httplib::Headers headers;
    if (!token.isEmpty())
        headers.emplace("Authorization", "Bearer " + token.toStdString());
    if (method == "GET")
        return toReply(client.Get(path.c_str(), headers));
    if (method == "POST")
        return toReply(client.Post(path.c_str(), headers, body, "application/json"));
    if (method == "PUT")
        return toReply(client.Put(path.c_str(), headers, body, "application/json"));
    if (method == "DELETE")
        return toReply(client.Delete(path.c_str(), headers, body, "application/json"));
    return Reply{};
}

Reply TestService::get(const QString &token, const std::string &pathAndQuery)
{
    return send("GET", token, pathAndQuery, std::string());
}

Reply TestService::post(const QString &token, const std::string &path, const QJsonObject &body)
{
    return postRaw(token, path, QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString());
}

Reply TestService::postRaw(const QString &token, const std::string &path, const std::string &body,
                           const std::string &contentType)
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_read_timeout(30, 0);
    httplib::Headers headers;
    if (!token.isEmpty())
        headers.emplace("Authorization", "Bearer " + token.toStdString());
    return toReply(client.Post(path.c_str(), headers, body, contentType.c_str()));
}

QJsonObject TestService::add(const QString &token, const QString &url, const QString &title)
{
    const Reply reply = post(token, "/api/upsert.php", QJsonObject{{u"url"_qs, url}, {u"title"_qs, title}});
    if (reply.status != 200)
        qWarning("add %s: %d %s", qPrintable(url), reply.status, reply.body.c_str());
    return reply.json.value(u"video"_qs).toObject();
}

QJsonObject TestService::patch(const QString &token, const QJsonObject &fields)
{
    const Reply reply = post(token, "/api/upsert.php", fields);
    if (reply.status != 200)
        qWarning("patch: %d %s", reply.status, reply.body.c_str());
    return reply.json.value(u"video"_qs).toObject();
}

void TestService::remove(const QString &token, const QString &youtubeId)
{
    const Reply reply = post(token, "/api/delete.php", QJsonObject{{u"youtube_id"_qs, youtubeId}});
    if (reply.status != 200)
        qWarning("delete %s: %d %s", qPrintable(youtubeId), reply.status, reply.body.c_str());
}

void TestService::share(const QString &ownerToken, const QString &memberEmail)
{
    const Reply reply =
        post(ownerToken, "/api/family.php", QJsonObject{{u"action"_qs, u"add"_qs}, {u"email"_qs, memberEmail}});
    if (reply.status != 200)
        qWarning("share: %d %s", reply.status, reply.body.c_str());
}

void TestService::unshare(const QString &ownerToken, const QString &memberEmail)
{
    const Reply reply =
        post(ownerToken, "/api/family.php", QJsonObject{{u"action"_qs, u"remove"_qs}, {u"email"_qs, memberEmail}});
    if (reply.status != 200)
        qWarning("unshare: %d %s", reply.status, reply.body.c_str());
}

QList<QJsonObject> TestService::pullAll(const QString &token, qint64 &cursor, int limit, QString *familyRev)
{
    QList<QJsonObject> rows;
    qint64 since = cursor;
    qint64 afterId = 0;
    for (;;) {
        const Reply reply = get(token, "/api/videos.php?since=" + std::to_string(since) +
                                           "&after_id=" + std::to_string(afterId) + "&limit=" + std::to_string(limit));
        if (reply.status != 200) {
            qWarning("pull: %d %s", reply.status, reply.body.c_str());
            return {};
        }
        if (familyRev)
            *familyRev = reply.json.value(u"family_rev"_qs).toString();
        const QJsonArray videos = reply.json.value(u"videos"_qs).toArray();
        for (const QJsonValue &video : videos)
            rows.append(video.toObject());
        if (videos.size() < limit) {
            cursor = reply.json.value(u"now"_qs).toInteger();
            return rows;
        }
        const QJsonObject last = videos.last().toObject();
        since = last.value(u"updated_at"_qs).toInteger();
        afterId = last.value(u"id"_qs).toInteger();
    }
}

} // namespace clipvane::service::test
