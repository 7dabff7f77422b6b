#pragma once

#include "MetadataProvider.h"
#include "Service.h"

#include <QJsonObject>
#include <QMap>
#include <QStringList>
#include <QTemporaryDir>

#include <httplib.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace clipvane::service::test {

// A metadata provider the test controls: every ID has made-up metadata ("Title of <id>",
// 2020-01-02, 3:04) unless set otherwise; failures on demand; a call count.
class FakeMetadataProvider : public MetadataProvider
{
public:
    std::optional<VideoMetadata> fetch(const QString &youtubeID, const QString &url) override;

    void set(const QString &youtubeID, const VideoMetadata &metadata);
    // The next `times` fetches of this ID find nothing.
    void failNext(const QString &youtubeID, int times);
    // Every fetch finds nothing until switched back.
    void setOffline(bool offline);
    int calls(const QString &youtubeID) const;
    // While held, every fetch waits until released (requests stay in flight).
    void hold(bool held);
    int waiting() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_held = false;
    int m_waiting = 0;
    std::map<QString, VideoMetadata> m_known;
    std::map<QString, int> m_failures;
    std::map<QString, int> m_calls;
    bool m_offline = false;
};

// A reply as a test sees it.
struct Reply
{
    int status = 0; // 0: no HTTP reply at all
    std::string body;
    QJsonObject json; // the body when it is a JSON object
    httplib::Headers headers;
    bool isJsonObject = false;

    std::string header(const std::string &name) const;
};

class TestService;

// What a client holds after pulling: the latest row of each ID, deletion rows included,
// and the cursor. sync() may run any number of times (QTRY conditions re-evaluate it).
class PullMirror
{
public:
    PullMirror(TestService &service, QString token, qint64 cursor = 0);
    PullMirror &sync();
    QJsonObject row(const QString &youtubeId) const { return m_rows.value(youtubeId); }
    QString title(const QString &youtubeId) const;
    // IDs whose latest row is not a deletion.
    QStringList live() const;
    QString familyRev() const { return m_familyRev; }
    qint64 cursor() const { return m_cursor; }

private:
    TestService &m_service;
    QString m_token;
    qint64 m_cursor;
    QString m_familyRev = u"0"_qs;
    QMap<QString, QJsonObject> m_rows;
};

// The whole service in-process on a free loopback port with a temporary data folder and a
// fake metadata provider. Quiet: no request log.
class TestService
{
public:
    using Configure = std::function<void(ServiceConfig &)>;
    explicit TestService(const Configure &configure = {}, Storage::WallClock wallClock = {});
    ~TestService();

    Service &service() { return *m_service; }
    FakeMetadataProvider &metadata() { return *m_metadata; }
    int port() const { return m_port; }
    QString dataDir() const { return m_dir.path(); }

    QString token(const QString &email);
    Account account(const QString &email);

    Reply get(const QString &token, const std::string &pathAndQuery);
    Reply post(const QString &token, const std::string &path, const QJsonObject &body);
    Reply postRaw(const QString &token, const std::string &path, const std::string &body,
                  const std::string &contentType = "application/json");
    Reply send(const std::string &method, const QString &token, const std::string &path, const std::string &body);

    // Convenience for the video endpoints; fail the test on a non-200.
    QJsonObject add(const QString &token, const QString &url, const QString &title = QString());
    QJsonObject patch(const QString &token, const QJsonObject &fields);
    void remove(const QString &token, const QString &youtubeId);
    void share(const QString &ownerToken, const QString &memberEmail);
    void unshare(const QString &ownerToken, const QString &memberEmail);

    // Pulls from (since, afterId) the way the application does; returns every row in order
    // and sets cursor to the "now" of the last page. Stops with an empty list on any error.
    QList<QJsonObject> pullAll(const QString &token, qint64 &cursor, int limit = 600, QString *familyRev = nullptr);

    static Reply toReply(const httplib::Result &result);

private:
    QTemporaryDir m_dir;
    FakeMetadataProvider *m_metadata = nullptr;
    std::unique_ptr<Service> m_service;
    int m_port = 0;
};

} // namespace clipvane::service::test
