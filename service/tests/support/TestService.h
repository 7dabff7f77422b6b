#pragma once

#include "FakeHttpServer.h"
#include "Service.h"
#include "db/PgConnection.h"
#include "outbound/MetadataProvider.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace clipvane::service::test {

using clipvane::test::FakeHttpServer;
using clipvane::test::FakeReply;
using clipvane::test::RecordedRequest;

// Short reads of a JSON object: one field, or the fields of a blank-separated list as text
// joined by '|', for one comparison.
inline QString str(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toString();
}
inline qint64 num(const QJsonObject &object, const char *key)
{
    return object.value(QLatin1String(key)).toInteger();
}
inline QString fields(const QJsonObject &object, const char *names)
{
    QStringList values;
    for (const QString &name : QString::fromLatin1(names).split(u' '))
        values.append(object.value(name).toVariant().toString());
    return values.join(u'|');
}
inline QString videoLink(int n)
{
    return u"https://youtu.be/video%1"_qs.arg(n, 4, 10, QLatin1Char('0'));
}
// A query item of an address such as clipvaneshelf://auth?token=…&email=….
inline QString queryItem(const QString &address, const QString &name)
{
    return QUrlQuery(QUrl(address).query(QUrl::FullyDecoded)).queryItemValue(name, QUrl::FullyDecoded);
}

// A metadata provider the test controls: made-up metadata ("Title of <id>", 2020-01-02, 3:04)
// unless set otherwise, failures on demand, call counts, and a hold keeping fetches in flight.
class FakeMetadataProvider : public MetadataProvider
{
public:
    std::optional<VideoMetadata> fetch(const QString &youtubeID, const QString &) override
    {
        std::unique_lock lock(m_mutex);
        ++m_calls[youtubeID];
        ++m_totalCalls;
        ++m_waiting;
        m_released.wait(lock, [this, &youtubeID] { return !m_held || m_unheld.contains(youtubeID); });
        --m_waiting;
        if (m_failures.value(youtubeID) > 0) {
            --m_failures[youtubeID];
            return std::nullopt;
        }
        return m_known.value(youtubeID, VideoMetadata{u"Title of "_qs + youtubeID, u"2020-01-02"_qs, u"3:04"_qs});
    }

    void set(const QString &id, const VideoMetadata &metadata)
    {
        std::lock_guard lock(m_mutex);
        m_known.insert(id, metadata);
    }
    // The next `times` fetches of this ID find nothing.
    void failNext(const QString &id, int times)
    {
        std::lock_guard lock(m_mutex);
        m_failures.insert(id, times);
    }
    int calls(const QString &id) const
    {
        std::lock_guard lock(m_mutex);
        return m_calls.value(id);
    }
    int totalCalls() const
    {
        std::lock_guard lock(m_mutex);
        return m_totalCalls;
    }
    // Fetches of this ID go through even while the others are held.
    void letThrough(const QString &id)
    {
        std::lock_guard lock(m_mutex);
        m_unheld.insert(id);
    }
    int waiting() const
    {
        std::lock_guard lock(m_mutex);
        return m_waiting;
    }
    void hold(bool held)
    {
        {
            std::lock_guard lock(m_mutex);
            m_held = held;
        }
        m_released.notify_all();
    }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_held = false;
    int m_waiting = 0;
    int m_totalCalls = 0;
    QSet<QString> m_unheld;
    QMap<QString, VideoMetadata> m_known;
    QMap<QString, int> m_failures;
    QMap<QString, int> m_calls;
};

// A reply as a test sees it.
struct Reply
{
    int status = 0; // 0: no HTTP reply at all
    std::string body;
    QJsonObject json; // the body when it is a JSON object
    httplib::Headers headers;

    std::string header(const std::string &name) const
    {
        const auto it = headers.find(name);
        return it == headers.end() ? std::string() : it->second;
    }
};

// Where the service tests keep their data: SQLite in a temporary folder, or, when
// CLIPVANE_TEST_DATABASE names a PostgreSQL server ("postgresql://" takes the PG* environment),
// a schema of their own on it, dropped at the end.
class TestDatabase
{
public:
    TestDatabase()
    {
        const QString server = qEnvironmentVariable("CLIPVANE_TEST_DATABASE");
        if (server.isEmpty())
            return;
        static std::atomic<int> serial{0};
        m_schema = u"t%1_%2"_qs.arg(QCoreApplication::applicationPid()).arg(serial++);
        m_server = server.toStdString();
        PgConnection(m_server).exec(("CREATE SCHEMA " + m_schema.toStdString()).c_str());
        m_url = server + (server.contains(u'?') ? u"&"_qs : u"?"_qs) + u"options=-csearch_path%3D"_qs + m_schema;
    }
    ~TestDatabase()
    {
        if (!m_schema.isEmpty())
            PgConnection(m_server).exec(("DROP SCHEMA " + m_schema.toStdString() + " CASCADE").c_str());
    }
    TestDatabase(const TestDatabase &) = delete;
    TestDatabase &operator=(const TestDatabase &) = delete;

    static bool postgres() { return !qEnvironmentVariableIsEmpty("CLIPVANE_TEST_DATABASE"); }
    // The database for ServiceConfig::database: empty for SQLite in the data folder.
    QString url() const { return m_url; }
    QString dataDir() const { return m_dir.path(); }
    // The storage itself, for tests below the HTTP layer.
    std::unique_ptr<Storage> open() const
    {
        return Storage::open(m_url.isEmpty() ? Storage::sqliteIn(dataDir()) : m_url);
    }

private:
    QTemporaryDir m_dir;
    std::string m_server;
    QString m_schema;
    QString m_url;
};

// The whole service in-process on a free loopback port, quiet, with fresh data (or the given
// database, for a second instance beside another) and a fake metadata provider.
class TestService
{
public:
    explicit TestService(const std::function<void(ServiceConfig &)> &configure = {}, Storage::WallClock wallClock = {},
                         const TestDatabase *database = nullptr)
    {
        m_data = database ? database : &m_database;
        const TestDatabase &data = *m_data;
        ServiceConfig config;
        config.dataDir = data.dataDir();
        config.database = data.url();
        config.listenPort = 0;
        config.logRequests = false;
        config.limits.threads = 8;
        config.metadataRetry = MetadataRetry{3, 20, 2};
        // Adds in quick succession still ask the provider themselves, unless a test says otherwise.
        config.metadataPacing = MetadataPacing{10'000, 1000, 1000};
        config.telegram.botName = u"clipvane_test_bot"_qs;
        if (configure)
            configure(config);
        auto metadata = std::make_unique<FakeMetadataProvider>();
        m_metadata = metadata.get();
        m_service = std::make_unique<Service>(config, std::move(metadata), std::move(wallClock));
        m_port = m_service->start();
    }
    ~TestService() { m_service->stop(); }

    Service &service() { return *m_service; }
    FakeMetadataProvider &metadata() { return *m_metadata; }
    int port() const { return m_port; }
    const TestDatabase &database() const { return *m_data; }
    QString token(const QString &email) { return m_service->accounts().issueToken(email); }

    // A non-empty token goes along as a bearer token.
    Reply send(const std::string &method, const QString &token, const std::string &path, const std::string &body = {},
               httplib::Headers headers = {}, const char *contentType = "application/json")
    {
        httplib::Client client("127.0.0.1", m_port);
        client.set_read_timeout(30, 0);
        httplib::Request request;
        request.method = method;
        request.path = path;
        request.headers = std::move(headers);
        if (!token.isEmpty())
            request.set_header("Authorization", "Bearer " + token.toStdString());
        if (method != "GET") {
            request.body = body;
            request.set_header("Content-Type", contentType);
        }
        const httplib::Result result = client.send(request);
        if (!result)
            return Reply{};
        return Reply{result->status, result->body,
                     QJsonDocument::fromJson(QByteArray::fromStdString(result->body)).object(), result->headers};
    }
    Reply get(const QString &token, const std::string &path) { return send("GET", token, path); }
    Reply post(const QString &token, const std::string &path, const QJsonObject &body)
    {
        return send("POST", token, path, QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString());
    }

    // The video and family endpoints; a refusal is logged and yields an empty object.
    QJsonObject add(const QString &token, const QString &url, const QString &title = QString())
    {
        const QJsonObject body{{u"url"_qs, url}, {u"title"_qs, title}};
        return checked(post(token, "/api/upsert.php", body), "add").value(u"video"_qs).toObject();
    }
    QJsonObject patch(const QString &token, const QJsonObject &fields)
    {
        return checked(post(token, "/api/upsert.php", fields), "patch").value(u"video"_qs).toObject();
    }
    void remove(const QString &token, const QString &id)
    {
        checked(post(token, "/api/delete.php", QJsonObject{{u"youtube_id"_qs, id}}), "delete");
    }
    Reply family(const QString &token, const QString &action, const QString &email)
    {
        return post(token, "/api/family.php", QJsonObject{{u"action"_qs, action}, {u"email"_qs, email}});
    }
    void share(const QString &owner, const QString &member) { checked(family(owner, u"add"_qs, member), "share"); }
    void unshare(const QString &owner, const QString &member)
    {
        checked(family(owner, u"remove"_qs, member), "unshare");
    }

private:
    static QJsonObject checked(const Reply &reply, const char *what)
    {
        if (reply.status != 200)
            qWarning("%s: %d %s", what, reply.status, reply.body.c_str());
        return reply.json;
    }

    TestDatabase m_database;
    const TestDatabase *m_data = nullptr;
    FakeMetadataProvider *m_metadata = nullptr;
    std::unique_ptr<Service> m_service;
    int m_port = 0;
};

// The application's pull, step by step: pages of `limit` from the cursor, each row replacing
// what the client held for its ID. A restarting client (as the application is) starts again
// from 0 when the family revision changes. Every row is checked against the page's clock,
// the rows before it in the same pull, and what the client saw of its ID before.
class Client
{
public:
    Client(TestService &service, QString token, qint64 cursor = 0, int limit = 600, bool restarting = false)
        : m_services{&service}
        , m_token(std::move(token))
        , m_cursor(cursor)
        , m_limit(limit)
        , m_restarting(restarting)
    {}

    Client &sync()
    {
        qint64 since = m_cursor;
        qint64 afterId = 0;
        m_pulled.clear();
        m_totals.clear();
        for (bool firstPage = true;; firstPage = false) {
            // Round robin over the instances it was given, as behind a load balancer.
            TestService &service = *m_services[m_requests++ % m_services.size()];
            const Reply reply = service.get(m_token, "/api/videos.php?since=" + std::to_string(since) + "&after_id=" +
                                                         std::to_string(afterId) + "&limit=" + std::to_string(m_limit));
            if (reply.status != 200 || reply.json.value(u"widget"_qs) != QJsonValue(true) ||
                !reply.json.value(u"family_rev"_qs).isString()) {
                m_problems.append(u"pull: %1 %2"_qs.arg(reply.status).arg(QString::fromStdString(reply.body)));
                return *this;
            }
            if (firstPage && m_restarting && str(reply.json, "family_rev") != m_familyRev) {
                m_rows.clear();
                m_lastStamp.clear();
                m_lastVersion.clear();
                m_familyRev = str(reply.json, "family_rev");
                since = afterId = 0;
                continue;
            }
            m_familyRev = str(reply.json, "family_rev");
            m_totals.append(num(reply.json, "total"));
            const QJsonArray videos = reply.json.value(u"videos"_qs).toArray();
            for (const QJsonValue &video : videos)
                take(video.toObject(), num(reply.json, "now"));
            if (videos.size() < m_limit) {
                m_cursor = num(reply.json, "now");
                return *this;
            }
            since = num(videos.last().toObject(), "updated_at");
            afterId = num(videos.last().toObject(), "id");
        }
    }

    // Another instance on the same database, asked in turn.
    Client &alsoVia(TestService &other)
    {
        m_services.append(&other);
        return *this;
    }

    QList<QJsonObject> pulled() const { return m_pulled; } // by the last sync, in order
    QJsonObject row(const QString &youtubeId) const { return m_rows.value(youtubeId); }
    QString title(const QString &youtubeId) const { return str(row(youtubeId), "title"); }
    QMap<QString, QJsonObject> liveRows() const
    {
        QMap<QString, QJsonObject> live = m_rows;
        live.removeIf([](const auto &row) { return num(row.value(), "deleted") != 0; });
        return live;
    }
    QStringList live() const { return liveRows().keys(); }
    QString familyRev() const { return m_familyRev; }
    qint64 cursor() const { return m_cursor; }
    QList<qint64> totals() const { return m_totals; } // of each page of the last sync
    QStringList problems() const { return m_problems; }

private:
    void take(const QJsonObject &row, qint64 now)
    {
        const QString id = str(row, "youtube_id");
        const qint64 stamp = num(row, "updated_at");
        if (stamp >= now)
            m_problems.append(u"%1 stamped %2, not below now %3"_qs.arg(id).arg(stamp).arg(now));
        if (m_lastStamp.contains(id) && stamp <= m_lastStamp.value(id))
            m_problems.append(u"%1 went back from %2 to %3"_qs.arg(id).arg(m_lastStamp.value(id)).arg(stamp));
        if (!m_pulled.isEmpty() && std::pair(stamp, num(row, "id")) <=
                                       std::pair(num(m_pulled.last(), "updated_at"), num(m_pulled.last(), "id")))
            m_problems.append(u"%1 came out of (updated_at, id) order"_qs.arg(id));
        // Titles may carry a version per owner and ID ("owner:id:v7"); each owner's versions
        // of an ID must arrive in the order they were written.
        const QStringList parts = str(row, "title").split(u':');
        if (num(row, "deleted") == 0 && parts.size() == 3) {
            const QString key = parts[0] + u':' + id;
            const int version = parts[2].mid(1).toInt();
            if (m_lastVersion.contains(key) && version < m_lastVersion.value(key))
                m_problems.append(u"%1 version %2 after %3"_qs.arg(key).arg(version).arg(m_lastVersion.value(key)));
            m_lastVersion.insert(key, version);
        }
        m_lastStamp.insert(id, stamp);
        m_rows.insert(id, row);
        m_pulled.append(row);
    }

    QList<TestService *> m_services;
    qsizetype m_requests = 0;
    QString m_token;
    qint64 m_cursor;
    int m_limit;
    bool m_restarting;
    QString m_familyRev = u"0"_qs;
    QMap<QString, QJsonObject> m_rows;
    QMap<QString, qint64> m_lastStamp;
    QMap<QString, int> m_lastVersion;
    QList<QJsonObject> m_pulled;
    QList<qint64> m_totals;
    QStringList m_problems;
};

} // namespace clipvane::service::test
