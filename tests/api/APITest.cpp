// The service's client: what it sends, how it reads answers and refusals, its bounds and its
// address; the readers of the service's JSON; where the sign-in token is kept.
#include "APIClient.h"
#include "APIVideo.h"
#include "AppPaths.h"
#include "AskVideo.h"
#include "BoundedWait.h"
#include "FakeHttpServer.h"
#include "FamilyLists.h"
#include "FileSecretStore.h"
#include "JsonRead.h"
#include "MemorySecretStore.h"
#include "VideoPage.h"
#include "WaitForTask.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QPointer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <limits>
#include <memory>
#include <sys/stat.h>

using namespace clipvane;
using namespace clipvane::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(clipvane::test::FakeReply)

namespace {

const QString kToken = QStringLiteral("tok-123.abc_DEF~");
const QString kSignedOut = QStringLiteral("Signed out \u2014 check your password");
constexpr qint64 kBound = 4096;
constexpr qsizetype kHuge = qsizetype(32) * 1024 * 1024;

// Every request handed to the network: what never reaches the wire (time-outs, cookie handling), or nothing sent.
class RecordingNetwork : public QNetworkAccessManager
{
public:
    QList<QNetworkRequest> requests;

protected:
    QNetworkReply *createRequest(Operation operation, const QNetworkRequest &request, QIODevice *data) override
    {
        requests.append(request);
        return QNetworkAccessManager::createRequest(operation, request, data);
    }
};

// The error of a finished call; none when it succeeded.
using Outcome = std::optional<APIError>;

template<typename T> Outcome outcomeOf(QCoro::Task<ApiResult<T>> task)
{
    const ApiResult<T> result = waitForTask(std::move(task));
    return result.ok() ? Outcome() : result.error();
}

// Every endpoint of the client, called with fixed arguments, with the request it must send
// and a reply it accepts.
struct Endpoint
{
    QString name;
    std::function<Outcome(APIClient &)> call;
    QByteArray method;
    QByteArray path;
    QByteArray query;
    QByteArray body; // exact compact JSON; empty: no body at all
    int timeoutMs;
    QByteArray reply;
};

const QList<Endpoint> &endpoints()
{
    const QByteArray video = R"({"video":{"youtube_id":"abc"}})";
    static const QList<Endpoint> all{
        {u"videos"_qs, [](APIClient &c) { return outcomeOf(c.videos(0, 0, 600)); }, "GET", "/api/videos.php",
         "since=0&after_id=0&limit=600", "", 60000, R"({"videos":[]})"},
        {u"upsert"_qs, [](APIClient &c) { return outcomeOf(c.upsert(u"https://youtu.be/abc"_qs, {})); }, "POST",
         "/api/upsert.php", "", R"({"title":"","url":"https://youtu.be/abc"})", 90000, video},
        // Only the fields the change holds go out.
        {u"patch"_qs,
         [](APIClient &c) {
             VideoChange change;
             change.youtubeID = u"abc"_qs;
             change.title = u"T"_qs;
             change.excluded = true;
             change.watched = false;
             change.position = 90;
             return outcomeOf(c.patchVideo(change));
         },
         "POST", "/api/upsert.php", "", R"({"excluded":1,"position":90,"title":"T","watched":0,"youtube_id":"abc"})",
         30000, video},
        {u"delete"_qs, [](APIClient &c) { return outcomeOf(c.deleteVideo(u"abc"_qs)); }, "POST", "/api/delete.php", "",
         R"({"youtube_id":"abc"})", 30000, "{}"},
        {u"family"_qs, [](APIClient &c) { return outcomeOf(c.family()); }, "GET", "/api/family.php", "", "", 30000,
         "{}"},
        {u"familyAction"_qs, [](APIClient &c) { return outcomeOf(c.familyAction(u"add"_qs, u"a@b.c"_qs)); }, "POST",
         "/api/family.php", "", R"({"action":"add","email":"a@b.c"})", 30000, "{}"},
        {u"export"_qs, [](APIClient &c) { return outcomeOf(c.exportAccount()); }, "GET", "/api/account.php",
         "action=export", "", 60000, "{}"},
        {u"deleteAccount"_qs, [](APIClient &c) { return outcomeOf(c.deleteAccount()); }, "POST", "/api/account.php", "",
         R"({"action":"delete"})", 30000, "{}"},
        {u"telegram"_qs, [](APIClient &c) { return outcomeOf(c.telegramLink()); }, "POST", "/api/telegram-code.php", "",
         "{}", 30000, R"({"link":"https://t.me/x"})"},
        {u"ask"_qs, [](APIClient &c) { return outcomeOf(c.ask(u"hi"_qs, {})); }, "POST", "/api/assistant.php", "",
         R"({"history":[],"q":"hi"})", 60000, R"({"answer":"none"})"},
    };
    return all;
}

const Endpoint &endpoint(const QString &name)
{
    return *std::find_if(endpoints().cbegin(), endpoints().cend(), [&](const Endpoint &e) { return e.name == name; });
}

// A JSON object whose compact text is exactly `size` bytes.
QByteArray objectOfSize(qsizetype size, char fill = 'x')
{
    const QByteArray frame = R"({"a":""})";
    return R"({"a":")" + QByteArray(size - frame.size(), fill) + R"("})";
}

FakeReply binary(QByteArray body, bool chunked = false)
{
    FakeReply reply = FakeReply::json(std::move(body));
    reply.headers = {{"Content-Type", "application/octet-stream"}};
    reply.chunked = chunked;
    return reply;
}

constexpr qint64 kMax64 = std::numeric_limits<qint64>::max();
constexpr qint64 kMin64 = std::numeric_limits<qint64>::min();
constexpr int kMaxInt = std::numeric_limits<int>::max();
constexpr int kMinInt = std::numeric_limits<int>::min();

// The JSON value written as `text` (wrapped in an array, since the parser wants a container).
QJsonValue jsonValue(const QByteArray &text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson("[" + text + "]", &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test JSON: %s", text.constData());
    return document.array().at(0);
}

QJsonObject jsonObject(const QByteArray &text)
{
    return jsonValue(text).toObject();
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

} // namespace

class APITest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<RecordingNetwork> m_network;
    std::unique_ptr<MemorySecretStore> m_secrets;
    std::unique_ptr<APIClient> m_client;
    QTemporaryDir m_profile;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString path(const QString &name = u"secrets.json"_qs) const { return m_dir->filePath(name); }

    // Answers the endpoint's request with reply and runs it.
    Outcome callWith(const QString &name, FakeReply reply)
    {
        const Endpoint &called = endpoint(name);
        m_server->enqueue(called.path, std::move(reply));
        return called.call(*m_client);
    }

    Outcome request(const QByteArray &path, FakeReply reply, std::chrono::milliseconds timeout = 5s)
    {
        m_server->enqueue("/api/" + path, std::move(reply));
        return outcomeOf(m_client->request(QString::fromLatin1(path), u"GET"_qs, std::nullopt, true, timeout));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_profile.isValid());
        AppPaths::setProfile(m_profile.path());
    }

    void init()
    {
        m_server = std::make_unique<FakeHttpServer>();
        QVERIFY(m_server->start());
        m_network = std::make_unique<RecordingNetwork>();
        m_secrets = std::make_unique<MemorySecretStore>();
        QVERIFY(m_secrets->keychainSave(kToken, SecretKeys::token));
        m_client = std::make_unique<APIClient>(m_server->url(u"/api"_qs), *m_secrets, *m_network);
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }

    void cleanup()
    {
        m_client.reset();
        m_network.reset();
        m_server.reset();
    }

    void requestShapes_data()
    {
        QTest::addColumn<QString>("endpoint");
        for (const Endpoint &each : endpoints())
            QTest::newRow(qPrintable(each.name)) << each.name;
    }
    void requestShapes()
    {
        QFETCH(QString, endpoint);
        const Endpoint &expected = ::endpoint(endpoint);
        const Outcome outcome = callWith(endpoint, FakeReply::json(expected.reply));
        QVERIFY2(!outcome, outcome ? qPrintable(outcome->description()) : "");
        QCOMPARE(m_server->requestCount(), 1);
        const RecordedRequest sent = m_server->lastRequest();
        QCOMPARE(sent.method, expected.method);
        QCOMPARE(sent.path, expected.path);
        QCOMPARE(sent.query, expected.query);
        QCOMPARE(sent.body, expected.body);
        QCOMPARE(sent.header("Authorization"), "Bearer " + kToken.toLatin1());
        QCOMPARE(sent.header("Content-Type"), expected.body.isEmpty() ? QByteArray() : "application/json");
        QVERIFY(!sent.hasHeader("Cookie"));
        QCOMPARE(m_network->requests.size(), 1);
        const QNetworkRequest &handed = m_network->requests.constFirst();
        QCOMPARE(handed.transferTimeout(), expected.timeoutMs);
        QCOMPARE(handed.attribute(QNetworkRequest::CookieLoadControlAttribute).toInt(), int(QNetworkRequest::Manual));
        QCOMPARE(handed.attribute(QNetworkRequest::CookieSaveControlAttribute).toInt(), int(QNetworkRequest::Manual));
    }

    void requestArguments()
    {
        m_server->setDefaultReply(FakeReply::json(R"({"videos":[],"video":{"youtube_id":"abc"},"answer":"ok"})"));
        // The full 64-bit range, in the order the service reads it.
        QVERIFY(!outcomeOf(m_client->videos(std::numeric_limits<qint64>::max(), -7, 600)));
        QCOMPARE(m_server->lastRequest().query, QByteArray("since=9223372036854775807&after_id=-7&limit=600"));
        // History oldest first, texts as they are.
        const QList<AskExchange> history{{u"first?"_qs, u"one"_qs}, {u"second?"_qs, u"two \u2014 \"quoted\""_qs}};
        QVERIFY(!outcomeOf(m_client->ask(u"third?"_qs, history)));
        const QJsonObject sent = QJsonDocument::fromJson(m_server->lastRequest().body).object();
        QCOMPARE(sent.value(u"q"_qs).toString(), u"third?"_qs);
        QCOMPARE(sent.value(u"history"_qs).toArray(),
                 (QJsonArray{QJsonObject{{u"q"_qs, u"first?"_qs}, {u"a"_qs, u"one"_qs}},
                             QJsonObject{{u"q"_qs, u"second?"_qs}, {u"a"_qs, history[1].answer}}}));
    }

    void missingTokenSendsNothing_data()
    {
        QTest::addColumn<QString>("endpoint");
        QTest::addColumn<std::optional<QString>>("token");
        for (const Endpoint &each : endpoints()) {
            QTest::addRow("%s, none", qPrintable(each.name)) << each.name << std::optional<QString>();
            QTest::addRow("%s, empty", qPrintable(each.name)) << each.name << std::optional<QString>(QString());
        }
        // A token that would split the header line is never put on the wire.
        QTest::newRow("line break") << "videos" << std::optional<QString>(u"abc\r\nX-Evil: 1"_qs);
        QTest::newRow("non-ASCII") << "upsert" << std::optional<QString>(u"t\u00f6ken"_qs);
        QTest::newRow("space") << "export" << std::optional<QString>(u"two words"_qs);
    }
    void missingTokenSendsNothing()
    {
        QFETCH(QString, endpoint);
        QFETCH(std::optional<QString>, token);
        m_secrets->keychainDelete(SecretKeys::token);
        if (token)
            m_secrets->keychainSave(*token, SecretKeys::token);
        const Outcome outcome = ::endpoint(endpoint).call(*m_client);
        QVERIFY(outcome);
        QCOMPARE(outcome->kind(), APIError::Kind::unauthorized);
        QCOMPARE(outcome->description(), kSignedOut);
        QVERIFY(m_network->requests.isEmpty());
        QCOMPARE(m_server->requestCount(), 0);
    }

    // How a status and body become an outcome: the general request, the list (only a plain 200
    // carries a page), the export (every refusal reads the same; the bytes are the settings test's) and what
    // each endpoint needs in a reply.
    void statusRules_data()
    {
        QTest::addColumn<QString>("endpoint"); // empty: the general request
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("kind"); // -1: success
        QTest::addColumn<QString>("message");
        const auto row = [](const QString &endpoint, int status, const QByteArray &body, int kind,
                            const QString &message = {}, const char *rule = "") {
            QTest::addRow("%s %d %s%s", qPrintable(endpoint), status, body.constData(), rule)
                << endpoint << status << body << kind << message;
        };
        const int ok = -1;
        const int http = int(APIError::Kind::http);
        const int bad = int(APIError::Kind::badResponse);
        const int unauthorized = int(APIError::Kind::unauthorized);
        const int parse = int(APIError::Kind::parse);
        const QString unexpected = u"Unexpected server response"_qs;
        const QString list = u"videos"_qs;
        const QString exported = u"export"_qs;
        row({}, 299, "{}", ok);
        row({}, 204, "", parse, u"The service's reply was not understood (HTTP 204, an empty reply)"_qs);
        row({}, 200, "[1,2]", bad, unexpected);
        row({}, 401, "nope", unauthorized, kSignedOut);
        row({}, 500, "oops", http, u"Server error (500)"_qs);
        row({}, 304, "", http, u"Server error (304)"_qs);
        row(list, 201, R"({"videos":[]})", bad, unexpected);
        row(list, 401, "{}", unauthorized, kSignedOut);
        // Unlike every other request, a failed list reads as a bad reply, not as a server error.
        row(list, 500, R"({"videos":[]})", bad, unexpected, " (only a plain 200 carries a page)");
        row(list, 200, "{", parse, u"The service's reply was not understood (HTTP 200, application/json, not JSON)"_qs);
        row(list, 200, R"({"now":5})", bad, unexpected);
        row(exported, 401, "{}", bad, unexpected, " (every refusal reads the same, none signs out)");
        row(u"upsert"_qs, 200, "{}", bad, unexpected);
        row(u"delete"_qs, 200, R"({"whatever":[1]})", ok);
        row(u"delete"_qs, 200, "[]", bad, unexpected);
        row(u"family"_qs, 200, "[]", bad, unexpected);
        row(u"family"_qs, 200, R"({"members":7})", ok);
        row(u"familyAction"_qs, 200, "[]", bad, unexpected);
        row(u"deleteAccount"_qs, 200, R"({"ok":false})", ok);
        row(u"telegram"_qs, 200, R"({"link":5})", bad, unexpected);
        row(u"ask"_qs, 200, R"({"videos":[]})", bad, unexpected);
    }
    void statusRules()
    {
        QFETCH(QString, endpoint);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, kind);
        const FakeReply reply = FakeReply::json(body, status);
        const Outcome outcome = endpoint.isEmpty() ? request("thing.php", reply) : callWith(endpoint, reply);
        QCOMPARE(outcome ? int(outcome->kind()) : -1, kind);
        if (outcome)
            QTEST(outcome->description(), "message");
    }

    void redirectToOtherOriginIsNotFollowed()
    {
        FakeHttpServer elsewhere;
        QVERIFY(elsewhere.start());
        elsewhere.setDefaultReply(FakeReply::json(R"({"videos":[]})"));
        FakeReply redirect = FakeReply::json("{}", 302);
        redirect.headers = {{"Location", elsewhere.url(u"/api/videos.php"_qs).toEncoded()}};
        QVERIFY(callWith(u"videos"_qs, redirect));
        QCOMPARE(elsewhere.requestCount(), 0);
    }

    void transportErrors()
    {
        FakeReply stalled = FakeReply::json("{}");
        stalled.delay = 20s; // cut short when the server stops
        Outcome outcome = request("slow.php", stalled, 200ms);
        QVERIFY(outcome);
        QCOMPARE(outcome->kind(), APIError::Kind::timedOut);
        QCOMPARE(outcome->description(), u"Timed out: the service did not answer within 0.2 s"_qs);
        QCOMPARE(m_server->requestCount(), 1); // sent once: no retry
        m_server->stop();                      // the port is free again and nobody listens on it
        outcome = outcomeOf(m_client->videos(0, 0, 600));
        QVERIFY(outcome);
        QCOMPARE(outcome->kind(), APIError::Kind::transport);
        QVERIFY(!outcome->description().isEmpty());
    }

    // A service that answers, but too slowly: a byte at a time, or steadily yet past the deadline.
    // Qt's own time-out restarts with every byte and would wait for the whole reply.
    void slowRepliesAreGivenUp_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<QString>("message");
        const QByteArray body = objectOfSize(400);
        QTest::newRow("a byte every 20 ms")
            << FakeReply::trickle(body, 1, 20ms)
            << u"Timed out: the service sent its reply too slowly (under 64 bytes in 0.3 s)"_qs;
        QTest::newRow("steady, past the deadline")
            << FakeReply::trickle(body, 40, 50ms) << u"Timed out: the service did not answer within 0.4 s"_qs;
    }
    void slowRepliesAreGivenUp()
    {
        QFETCH(FakeReply, reply);
        m_client->setPace({400ms, 64, 300ms});
        const Outcome outcome = request("slow.php", reply, 5s);
        QVERIFY(outcome);
        QCOMPARE(outcome->kind(), APIError::Kind::timedOut);
        QTEST(outcome->description(), "message");
        QVERIFY2(m_server->chunkedBytesSent() < reply.body.size(),
                 qPrintable(QString::number(m_server->chunkedBytesSent())));
        // The same pace lets a reply through that keeps it.
        QVERIFY(!request("fast.php", FakeReply::trickle(objectOfSize(400), 100, 50ms), 5s));
    }

    // Replies that are no JSON say what came instead; a small compressed reply that inflates
    // far past the bound is refused as soon as it passes it.
    void repliesNotUnderstood_data()
    {
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("message");
        const int parse = int(APIError::Kind::parse);
        QTest::newRow("proxy page")
            << FakeReply::html("<html><body>Bad gateway</body></html>") << parse
            << u"The service's reply was not understood (HTTP 200, text/html; charset=utf-8, not JSON)"_qs;
        QTest::newRow("empty") << FakeReply::json("", 200) << parse
                               << u"The service's reply was not understood (HTTP 200, an empty reply)"_qs;
        const int bad = int(APIError::Kind::badResponse);
        // Qt would inflate it until the deadline; here it stops at the bound.
        QTest::newRow("gzip bomb") << FakeReply::gzipBomb(qint64(256) * 1024 * 1024) << bad
                                   << u"Unexpected server response: the reply was larger than 64 MiB"_qs;
        FakeReply cut = FakeReply::gzipped(R"({"ok": true, "padding": "abcdefghijklmnopqrstuvwxyz"})");
        cut.body.chop(12);
        QTest::newRow("gzip cut short")
            << cut << bad << u"Unexpected server response: the reply's compressed bytes were cut short"_qs;
        FakeReply garbled = FakeReply::json("{}");
        garbled.headers = {{"Content-Encoding", "gzip"}};
        QTest::newRow("not gzip at all") << garbled << bad
                                         << u"Unexpected server response: the reply's compressed bytes were damaged"_qs;
        FakeReply brotli = FakeReply::json("{}");
        brotli.headers = {{"Content-Encoding", "br"}};
        QTest::newRow("unknown encoding")
            << brotli << bad
            << u"Unexpected server response: the reply came in an encoding this client does not read (br)"_qs;
        // A compressed reply within bounds reads as its JSON.
        QTest::newRow("gzip") << FakeReply::gzipped(R"({"ok": true})") << -1 << QString();
    }
    void repliesNotUnderstood()
    {
        QFETCH(FakeReply, reply);
        const Outcome outcome = request("odd.php", reply);
        QFETCH(int, kind);
        QCOMPARE(outcome.has_value(), kind >= 0);
        if (!outcome)
            return;
        QTEST(int(outcome->kind()), "kind");
        QTEST(outcome->description(), "message");
    }

    void bodyBound_data()
    {
        QTest::addColumn<QString>("endpoint"); // empty: the general request
        QTest::addColumn<FakeReply>("reply");
        QTest::addColumn<bool>("ok");
        for (const QString &endpoint : {QString(), u"export"_qs}) {
            const auto row = [&endpoint](const char *name, const FakeReply &reply, bool ok) {
                QTest::addRow("%s, %s", endpoint.isEmpty() ? "request" : "export", name) << endpoint << reply << ok;
            };
            row("exactly the bound", binary(objectOfSize(kBound)), true);
            row("one byte over", binary(objectOfSize(kBound + 1)), false);
            row("chunked under", binary(objectOfSize(kBound - 10), true), true);
            row("chunked over", binary(objectOfSize(3 * kBound), true), false);
        }
        // Far more than the socket buffers between the two ends can hold: the server can only
        // send it all if the client reads everything.
        QTest::newRow("export, far over: abandoned early")
            << u"export"_qs << binary(QByteArray(kHuge, 'x'), true) << false;
    }
    void bodyBound()
    {
        QFETCH(QString, endpoint);
        QFETCH(FakeReply, reply);
        QFETCH(bool, ok);
        m_client->setMaxBodyBytes(kBound);
        const Outcome outcome = endpoint.isEmpty() ? request("big.php", reply) : callWith(endpoint, reply);
        QCOMPARE(outcome.has_value(), !ok);
        if (outcome)
            QCOMPARE(outcome->kind(), APIError::Kind::badResponse);
        if (reply.body.size() == kHuge)
            QVERIFY2(m_server->chunkedBytesSent() < kHuge / 2,
                     QByteArray::number(m_server->chunkedBytesSent()).constData());
    }

    void baseJoinsOnePathComponent()
    {
        m_server->setDefaultReply(FakeReply::json(R"({"videos":[]})"));
        const QList<std::pair<QString, QByteArray>> bases{
            {u"/api"_qs, "/api/videos.php"},
            {u"/api/"_qs, "/api/videos.php"},
            {u"/family/clipvane/api"_qs, "/family/clipvane/api/videos.php"},
            {QString(), "/videos.php"}};
        for (const auto &[base, expected] : bases) {
            APIClient client(m_server->url(base), *m_secrets, *m_network);
            QVERIFY(!outcomeOf(client.videos(1, 2, 3)));
            QCOMPARE(m_server->lastRequest().path, expected);
        }
    }

    // The bearer token may only travel over HTTPS, or in clear to this machine.
    void resolveBase_data()
    {
        QTest::addColumn<QVariant>("setting"); // invalid: not set
        QTest::addColumn<QString>("environment");
        QTest::addColumn<QString>("expected"); // empty: the built-in base
        const auto row = [](const char *name, const QVariant &setting, const QString &environment,
                            const QString &expected) { QTest::newRow(name) << setting << environment << expected; };
        const auto text = [](const char *url) { return QVariant(QString::fromLatin1(url)); };
        const QString env = u"https://env.example.org/api"_qs;
        row("nothing set", {}, {}, {});
        row("https setting", text("https://clips.example.org/api"), {}, u"https://clips.example.org/api"_qs);
        row("loopback v4 range", text("http://127.4.5.6/api"), {}, u"http://127.4.5.6/api"_qs);
        row("loopback v6", text("http://[::1]:9999/api"), {}, u"http://[::1]:9999/api"_qs);
        row("localhost", text("http://LocalHost:9999/api"), {}, u"http://localhost:9999/api"_qs);
        row("clear text to a remote host", text("http://clips.example.org/api"), {}, {});
        row("clear text to a look-alike", text("http://127.0.0.1.example.org/api"), {}, {});
        row("other scheme", text("ftp://127.0.0.1/api"), {}, {});
        row("not a URL", text("not a url"), {}, {});
        row("empty setting", text(""), env, {});
        row("environment", {}, env, env);
        row("clear-text environment", {}, u"http://10.0.0.2/api"_qs, {});
        row("setting wins", text("https://setting.example.org/api"), env, u"https://setting.example.org/api"_qs);
        row("refused setting still wins", text("http://clips.example.org/api"), env, {});
        row("setting not text", QVariant(QStringList{u"a"_qs, u"b"_qs}), env, env);
    }
    void resolveBase()
    {
        QFETCH(QVariant, setting);
        QFETCH(QString, environment);
        QFETCH(QString, expected);
        {
            const auto settings = AppPaths::standardSettings();
            settings->remove(u"apiBase"_qs);
            if (setting.isValid())
                settings->setValue(u"apiBase"_qs, setting);
        }
        if (environment.isEmpty())
            qunsetenv("CLIPVANE_API_BASE");
        else
            qputenv("CLIPVANE_API_BASE", environment.toUtf8());
        QCOMPARE(APIClient::resolveBase(), QUrl(expected.isEmpty() ? u"http://127.0.0.1:8470/api"_qs : expected));
        // A refused address is named, never replaced in silence.
        const QString configured = setting.typeId() == QMetaType::QString ? setting.toString() : environment;
        const QString refusal = APIClient::baseRefusal();
        QCOMPARE(!refusal.isEmpty(), expected.isEmpty() && !configured.isEmpty());
        QVERIFY(refusal.isEmpty() || refusal.contains(configured));
        qunsetenv("CLIPVANE_API_BASE");
    }

    // One value read three ways: toInt64, toInt and flag.
    void numbers_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<qint64>("wide");
        QTest::addColumn<int>("narrow");
        QTest::addColumn<bool>("flag");
        const auto number = [](const char *json, qint64 wide, int narrow, bool flag) {
            QTest::newRow(json) << QByteArray(json) << wide << narrow << flag;
        };
        number("1", 1, 1, true);
        number("2", 2, 2, false);
        number("9223372036854775807", kMax64, 0, false);
        number("-9223372036854775808", kMin64, 0, false);
        number("2147483647", kMaxInt, kMaxInt, false);
        number("-2147483648", kMinInt, kMinInt, false);
        number("2147483648", 2147483648, 0, false);
        // Floats are truncated toward zero; past the range they read as 0.
        number("1.5", 1, 1, true);
        number("-4.9", -4, -4, false);
        number("9.2e18", 9200000000000000000, 0, false);
        number("9223372036854775808", 0, 0, false);
        number("-9.3e18", 0, 0, false);
        // Strings: an optional sign and ASCII digits, nothing else.
        number(R"("01")", 1, 1, true);
        number(R"("000000000000000000000000042")", 42, 42, false);
        number(R"("+7")", 7, 7, false);
        number(R"("9223372036854775807")", kMax64, 0, false);
        number(R"("-9223372036854775808")", kMin64, 0, false);
        number(R"("9223372036854775808")", 0, 0, false);
        number(R"("-9223372036854775809")", 0, 0, false);
        for (const char *rejected : {R"("4.5")", R"("1e3")", R"(" 42")", R"("42 ")", R"("")", R"("-")", R"("+-1")",
                                     R"("0x1F")", R"("\u0664\u0662")", R"("true")", "false", "null", "[1]", "{}"})
            number(rejected, 0, 0, false);
        number("true", 0, 0, true);
    }
    void numbers()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, flag);
        QTEST(JsonRead::toInt64(jsonValue(json)), "wide");
        QTEST(JsonRead::toInt(jsonValue(json)), "narrow");
        QCOMPARE(JsonRead::flag(jsonValue(json)), flag);
    }

    void video()
    {
        const auto full = APIVideo::fromJson(jsonObject(R"({
            "id": 7, "youtube_id": "dQw4w9WgXcQ", "title": "Never", "url": "youtu.be/dQw4w9WgXcQ",
            "upload_date": "2009-10-25", "duration": "3:33", "excluded": "1", "deleted": 0, "source": "telegram",
            "created_at": 1700000000000, "updated_at": "1700000000123", "owner_email": "mum@example.org",
            "read_only": true, "unknown": {"ignored": true}})"));
        QCOMPARE(full,
                 (APIVideo{7, u"dQw4w9WgXcQ"_qs, u"Never"_qs, u"youtu.be/dQw4w9WgXcQ"_qs, u"2009-10-25"_qs, u"3:33"_qs,
                           true, false, u"telegram"_qs, 1700000000000, 1700000000123, u"mum@example.org"_qs, true}));
        const auto odd = APIVideo::fromJson(jsonObject(R"({
            "youtube_id": "abc", "id": "x", "title": 5, "url": null, "upload_date": [], "duration": {},
            "excluded": 2, "deleted": "yes", "source": false, "created_at": "4.5", "updated_at": 4.5,
            "owner_email": 1, "read_only": "0"})"));
        APIVideo defaults; // wrong types read as defaults
        defaults.youtubeID = u"abc"_qs;
        defaults.updatedAt = 4;
        QCOMPARE(odd, defaults);
        // Without a usable identity nothing can be merged.
        for (const char *json :
             {R"({"title":"t"})", R"({"youtube_id":123})", R"({"youtube_id":null})", R"({"youtube_id":""})"})
            QVERIFY2(!APIVideo::fromJson(jsonObject(json)), json);
    }

    // The viewing keys: absent (an older service) or unusable, a video is unwatched from the start.
    void viewing_data()
    {
        QTest::addColumn<QByteArray>("keys");
        QTest::addColumn<bool>("watched");
        QTest::addColumn<int>("position");
        QTest::newRow("absent") << QByteArray() << false << 0;
        QTest::newRow("as the service writes them") << QByteArray(R"("watched":1,"position":125)") << true << 125;
        QTest::newRow("boolean, text number") << QByteArray(R"("watched":true,"position":"125")") << true << 125;
        QTest::newRow("at the bound") << QByteArray(R"("watched":0,"position":360000)") << false << 360000;
        QTest::newRow("fraction truncated") << QByteArray(R"("position":4.7)") << false << 4;
        QTest::newRow("beyond the bound") << QByteArray(R"("watched":2,"position":360001)") << false << 0;
        QTest::newRow("negative") << QByteArray(R"("watched":"yes","position":-5)") << false << 0;
        QTest::newRow("huge") << QByteArray(R"("position":1e30)") << false << 0;
        QTest::newRow("not a number") << QByteArray(R"("watched":null,"position":"soon")") << false << 0;
    }
    void viewing()
    {
        QFETCH(QByteArray, keys);
        const QByteArray json = R"({"youtube_id":"abc")" + (keys.isEmpty() ? QByteArray() : "," + keys) + "}";
        const auto video = APIVideo::fromJson(jsonObject(json));
        QVERIFY(video);
        QTEST(video->watched, "watched");
        QTEST(video->position, "position");
    }

    // A list page as the cycle reads it: "now 'revision' total widget objects: IDs (- deleted)".
    void page_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("read");
        const auto row = [](const char *json, const char *read) {
            QTest::newRow(json) << QByteArray(json) << QString::fromUtf8(read);
        };
        row(R"({"videos":[]})", "0 '0' 0 on 0:");
        row(R"({"now":"1700000000999","family_rev":"r7","total":1250.9,"widget":false,"videos":[]})",
            "1700000000999 'r7' 1250 off 0:");
        // Only text is a revision tag, and empty text is text.
        row(R"({"family_rev":5,"videos":[]})", "0 '0' 0 on 0:");
        row(R"({"family_rev":"","videos":[]})", "0 '' 0 on 0:");
        // Entries without a usable ID are dropped but counted: the count decides whether a page is full.
        row(R"({"videos":[{"youtube_id":"a","deleted":1},{"title":"no id"},{"youtube_id":7},{"youtube_id":"b"}]})",
            "0 '0' 0 on 4: -a b");
        // Only a JSON Boolean or the number 0 turns the assistant off.
        row(R"({"widget":1,"videos":[]})", "0 '0' 0 on 0:");
        row(R"({"widget":0,"videos":[]})", "0 '0' 0 off 0:");
        row(R"({"widget":"0","videos":[]})", "0 '0' 0 on 0:");
        row(R"({"widget":null,"videos":[]})", "0 '0' 0 on 0:");
        // Beyond the service's bounds: the whole page is refused.
        const QByteArray longText(1001, 't');
        static QList<QByteArray> overlong;
        for (const QByteArray &field :
             {"\"title\":\"" + longText + "\"", "\"youtube_id\":\"" + QByteArray(257, 'i') + "\"",
              "\"upload_date\":\"" + QByteArray(65, '1') + "\"", "\"owner_email\":\"" + QByteArray(321, 'e') + "\""})
            overlong.append("{\"videos\":[{\"youtube_id\":\"a\"},{\"youtube_id\":\"b\"," + field + "}]}");
        for (const QByteArray &json : overlong)
            QTest::newRow(json.left(60).constData()) << json << u"<none>"_qs;
        for (const char *json : {"{}", R"({"now":1})", R"({"videos":null})", R"({"videos":{"youtube_id":"a"}})",
                                 R"({"videos":"[]"})", R"({"videos":[{"youtube_id":"a"},"b"]})", R"({"videos":[[]]})"})
            row(json, "<none>");
    }
    void page()
    {
        QFETCH(QByteArray, json);
        const auto page = VideoPage::fromJson(jsonObject(json));
        QString read = u"<none>"_qs;
        if (page) {
            read = u"%1 '%2' %3 %4 %5:"_qs.arg(page->now)
                       .arg(page->familyRev)
                       .arg(page->total)
                       .arg(page->widget ? u"on"_qs : u"off"_qs)
                       .arg(page->objectCount);
            for (const APIVideo &video : page->videos)
                read += (video.deleted ? u" -"_qs : u" "_qs) + video.youtubeID;
        }
        QTEST(read, "read");
    }

    // A page holds no more rows than were asked for; a page of far more is abandoned by its size
    // while it downloads, long before the whole of it has been sent.
    void pageOfMoreRowsThanAsked()
    {
        const auto rows = [](int count) {
            QByteArray json = "{\"videos\":[";
            for (int i = 0; i < count; ++i)
                json += QByteArray(i > 0 ? "," : "") + "{\"youtube_id\":\"v" + QByteArray::number(i) + "\"}";
            return json + "]" + "}";
        };
        m_server->enqueue("/api/videos.php", FakeReply::json(rows(3)));
        ApiResult<VideoPage> page = waitForTask(m_client->videos(0, 0, 3));
        QVERIFY(page && page->videos.size() == 3);
        m_server->enqueue("/api/videos.php", FakeReply::json(rows(4)));
        page = waitForTask(m_client->videos(0, 0, 3));
        QVERIFY(!page);
        QCOMPARE(page.error().description(),
                 u"Unexpected server response: a page held 4 videos where at most 3 were asked for"_qs);
        FakeReply huge = FakeReply::json(rows(1000000));
        huge.chunked = true;
        huge.headers = {{"Content-Type", "application/octet-stream"}}; // sent as it is, not compressed
        m_server->enqueue("/api/videos.php", huge);
        page = waitForTask(m_client->videos(0, 0, 3));
        QVERIFY(!page);
        QVERIFY(page.error().description().contains(u"larger than"_qs));
        QVERIFY2(m_server->chunkedBytesSent() < huge.body.size() / 2,
                 QByteArray::number(m_server->chunkedBytesSent()).constData());
    }

    void askVideo()
    {
        const auto full = AskVideo::fromJson(
            jsonObject(R"({"title":"T","url":"U","youtube_id":"abc","duration":"1:02:03","year":2020})"));
        QCOMPARE(full, (AskVideo{u"T"_qs, u"U"_qs, u"abc"_qs, u"1:02:03"_qs, u"2020"_qs}));
        QCOMPARE(AskVideo::fromJson(jsonObject(R"({"title":"","url":"","youtube_id":5})")), AskVideo());
        for (const char *json :
             {R"({"title":"T"})", R"({"url":"U"})", R"({"title":"T","url":7})", R"({"title":null,"url":"U"})"})
            QVERIFY2(!AskVideo::fromJson(jsonObject(json)), json);
        // A year reads as text when it is a whole number of 1 or more.
        const QList<std::pair<QByteArray, QString>> years{
            {"2019", u"2019"_qs}, {R"("2019")", u"2019"_qs}, {"2019.9", u"2019"_qs}, {"1", u"1"_qs}, {"0", {}},
            {"-1", {}},           {R"("last year")", {}},    {R"("2019.5")", {}}};
        for (const auto &[year, expected] : years) {
            QJsonObject object = jsonObject(R"({"title":"t","url":"u"})");
            object.insert(u"year"_qs, jsonValue(year));
            const auto video = AskVideo::fromJson(object);
            QVERIFY2(video && video->year == expected, year.constData());
        }
    }

    // The titles of the videos read, or "<none>" when there is no answer at all.
    void askAnswer()
    {
        const QList<std::pair<QByteArray, QString>> answers{
            {R"({"answer":""})", u""_qs},
            {R"({"answer":"a","videos":[{"title":"B","url":"u"},{"title":"A","url":"u"}]})", u"B A"_qs},
            {R"({"answer":"a","videos":[{"title":"A","url":"u"},{"title":"B"},{"title":"C","url":"u"}]})", u"A C"_qs},
            {R"({"answer":"a","videos":{"title":"A","url":"u"}})", u""_qs},
            {R"({"answer":"a","videos":[{"title":"A","url":"u"},3]})", u""_qs}, // read only as a whole
            {R"({"videos":[]})", u"<none>"_qs},
            {R"({"answer":["a"]})", u"<none>"_qs}};
        for (const auto &[json, titles] : answers) {
            const auto answer = AskAnswer::fromJson(jsonObject(json));
            QStringList seen;
            for (const AskVideo &video : answer ? answer->videos : QList<AskVideo>())
                seen.append(video.title);
            QCOMPARE(answer ? seen.join(u' ') : u"<none>"_qs, titles);
        }
    }

    // Each list is read all or nothing.
    void familyLists()
    {
        const QStringList ab{u"a@x"_qs, u"b@x"_qs};
        const QStringList o{u"o@x"_qs};
        QCOMPARE(FamilyLists::fromJson(jsonObject(R"({"members":["a@x","b@x"],"shared_with_me":["o@x"]})")),
                 (FamilyLists{ab, o}));
        QCOMPARE(FamilyLists::fromJson(jsonObject(R"({"members":["a@x","b@x"]})")), (FamilyLists{ab, {}}));
        QCOMPARE(FamilyLists::fromJson(jsonObject(R"({"members":["a@x",3],"shared_with_me":["o@x"]})")),
                 (FamilyLists{{}, o}));
        QCOMPARE(FamilyLists::fromJson(jsonObject(R"({"members":"a@x","shared_with_me":{"o":1}})")), FamilyLists());
    }

    void fileRoundTrip()
    {
        const QString nested = path(u"a/b/secrets.json"_qs); // folders are made as needed
        FileSecretStore store(nested);
        store.keychainDelete(SecretKeys::token); // deleting from no file creates none
        QVERIFY(!QFile::exists(nested));
        QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);
        QVERIFY(store.keychainSave(u"first"_qs, SecretKeys::token));
        QVERIFY(store.keychainSave(QString(), SecretKeys::email));
        QCOMPARE(store.keychainRead(SecretKeys::token), u"first"_qs);
        QCOMPARE(store.keychainRead(SecretKeys::email), QString()); // stored empty, not missing
        // A second save replaces the first; a new store object sees what the first one wrote.
        QVERIFY(store.keychainSave(u"second \u00e9\u2014"_qs, SecretKeys::token));
        FileSecretStore again(nested);
        QCOMPARE(again.keychainRead(SecretKeys::token), u"second \u00e9\u2014"_qs);
        again.keychainDelete(SecretKeys::token);
        QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);
        QCOMPARE(store.keychainRead(SecretKeys::email), QString());
        // No temporary or lock file stays behind.
        QCOMPARE(QDir(path(u"a/b"_qs)).entryList(QDir::Files | QDir::Hidden), QStringList{u"secrets.json"_qs});
        // A path below a regular file can never be written, whoever runs the test.
        writeFile(path(u"plain"_qs), "x");
        FileSecretStore blocked(path(u"plain/secrets.json"_qs));
        QVERIFY(!blocked.keychainSave(u"t"_qs, SecretKeys::token));
        QCOMPARE(blocked.keychainRead(SecretKeys::token), std::nullopt);
    }

    // Readable by the user alone, whatever the umask, also when an older file was looser.
    void fileIsPrivate()
    {
        writeFile(path(), "{\"life_email\":\"a@b.c\"}");
        QVERIFY(
            QFile::setPermissions(path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther));
        const mode_t previous = ::umask(0);
        const bool saved = FileSecretStore(path()).keychainSave(u"token"_qs, SecretKeys::token);
        const bool savedNew = FileSecretStore(path(u"new.json"_qs)).keychainSave(u"token"_qs, SecretKeys::token);
        ::umask(previous);
        QVERIFY(saved && savedNew);
        const auto userOnly = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser;
        QCOMPARE(QFile::permissions(path()), userOnly);
        QCOMPARE(QFile::permissions(path(u"new.json"_qs)), userOnly);
        QCOMPARE(FileSecretStore(path()).keychainRead(SecretKeys::email), u"a@b.c"_qs);
    }

    void fileGarbageReadsAsNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("life_api_token=abc");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("array") << QByteArray(R"(["life_api_token","abc"])");
        QTest::newRow("value not text") << QByteArray(R"({"life_api_token":42})");
        QTest::newRow("truncated") << QByteArray("{\"life_api_token\":\"ab");
        QTest::newRow("oversized") << "{\"life_api_token\":\"" + QByteArray(1 << 20, 'a') + "\"}";
    }
    void fileGarbageReadsAsNothing()
    {
        QFETCH(QByteArray, content);
        writeFile(path(), content);
        FileSecretStore store(path());
        QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);
        // The next save replaces the damaged file with a sound one.
        QVERIFY(store.keychainSave(u"fresh"_qs, SecretKeys::token));
        QCOMPARE(store.keychainRead(SecretKeys::token), u"fresh"_qs);
    }

    void defaultStoreInProfileIsFile()
    {
        auto *file = dynamic_cast<FileSecretStore *>(&defaultSecretStore());
        QVERIFY(file);
        QCOMPARE(file->path(), AppPaths::secretsFilePath());
        QVERIFY(file->path().startsWith(m_profile.path()));
    }

    // A keychain job's answer ends the wait, also at once inside start() from a sender that deletes
    // itself (a later one is the keychain test's); one after the wait gave up touches nothing.
    void waitForAnswer_data()
    {
        QTest::addColumn<int>("delayMs"); // -1: at once, inside start()
        QTest::addColumn<bool>("inTime");
        QTest::newRow("at once") << -1 << true;
        QTest::newRow("after the wait gave up") << 150 << false;
    }
    void waitForAnswer()
    {
        QFETCH(int, delayMs);
        QFETCH(bool, inTime);
        // A job answers by naming itself, then deletes itself.
        QPointer<QObject> job = new QObject;
        const auto answer = [job] {
            job->setObjectName(u"5"_qs);
            job->deleteLater();
        };
        int calls = 0;
        {
            int seen = 0; // lives only as long as the wait: a late answer must not write to it
            const auto start = [&] {
                if (delayMs < 0)
                    answer();
                else
                    QTimer::singleShot(delayMs, job.data(), answer);
            };
            const bool answered = clipvane::waitForAnswer(
                job.data(), &QObject::objectNameChanged,
                [&] {
                    ++calls;
                    seen = job->objectName().toInt();
                },
                start, inTime ? 5s : 20ms);
            QCOMPARE(answered, inTime);
            QCOMPARE(seen, inTime ? 5 : 0);
        }
        QTRY_VERIFY(job.isNull()); // every answer arrives, in time or late
        QCOMPARE(calls, inTime ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(APITest)
#include "APITest.moc"
