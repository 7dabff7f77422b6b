#include "APIClient.h"
#include "AppPaths.h"
#include "FakeHttpServer.h"
#include "MemorySecretStore.h"

#include "WaitForTask.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkRequest>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

using namespace clipvane;
using namespace clipvane::test;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(std::optional<QString>)
Q_DECLARE_METATYPE(clipvane::test::FakeReply)

namespace {

const QString kToken = QStringLiteral("tok-123.abc_DEF~");

// Remembers every request the client hands to the network, as it was handed over, so tests
// can check what never reaches the wire (time-outs, cookie handling) and that nothing was sent.
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

struct Outcome
{
    bool ok = false;
    std::optional<APIError> error;
};

template<typename T> Outcome outcomeOf(const ApiResult<T> &result)
{
    if (result.ok())
        return {true, std::nullopt};
    return {false, result.error()};
}

// Runs one endpoint by name, with fixed arguments.
Outcome call(APIClient &client, const QString &endpoint)
{
    if (endpoint == QLatin1String("videos"))
        return outcomeOf(waitForTask(client.videos(0, 0, 600)));
    if (endpoint == QLatin1String("upsert"))
        return outcomeOf(waitForTask(client.upsert(QStringLiteral("https://youtu.be/abc"), QString())));
    if (endpoint == QLatin1String("patch"))
        return outcomeOf(
            waitForTask(client.patchVideo(QStringLiteral("abc"), true, QStringLiteral("T"), QString(), QString())));
    if (endpoint == QLatin1String("delete"))
        return outcomeOf(waitForTask(client.deleteVideo(QStringLiteral("abc"))));
    if (endpoint == QLatin1String("family"))
        return outcomeOf(waitForTask(client.family()));
    if (endpoint == QLatin1String("familyAction"))
        return outcomeOf(waitForTask(client.familyAction(QStringLiteral("add"), QStringLiteral("a@b.c"))));
    if (endpoint == QLatin1String("export"))
        return outcomeOf(waitForTask(client.exportAccount()));
    if (endpoint == QLatin1String("deleteAccount"))
        return outcomeOf(waitForTask(client.deleteAccount()));
    if (endpoint == QLatin1String("telegram"))
        return outcomeOf(waitForTask(client.telegramLink()));
    if (endpoint == QLatin1String("ask"))
        return outcomeOf(waitForTask(client.ask(QStringLiteral("hi"), {})));
    qFatal("unknown endpoint");
}

const QStringList &allEndpoints()
{
    static const QStringList names{QStringLiteral("videos"),   QStringLiteral("upsert"),
                                   QStringLiteral("patch"),    QStringLiteral("delete"),
                                   QStringLiteral("family"),   QStringLiteral("familyAction"),
                                   QStringLiteral("export"),   QStringLiteral("deleteAccount"),
                                   QStringLiteral("telegram"), QStringLiteral("ask")};
    return names;
}

QByteArray pathOf(const QString &endpoint)
{
    static const QHash<QString, QByteArray> paths{
        {QStringLiteral("videos"), "/api/videos.php"},          {QStringLiteral("upsert"), "/api/upsert.php"},
        {QStringLiteral("patch"), "/api/upsert.php"},           {QStringLiteral("delete"), "/api/delete.php"},
        {QStringLiteral("family"), "/api/family.php"},          {QStringLiteral("familyAction"), "/api/family.php"},
        {QStringLiteral("export"), "/api/account.php"},         {QStringLiteral("deleteAccount"), "/api/account.php"},
        {QStringLiteral("telegram"), "/api/telegram-code.php"}, {QStringLiteral("ask"), "/api/assistant.php"}};
    return paths.value(endpoint);
}

// A JSON object whose compact text is exactly `size` bytes.
QByteArray objectOfSize(qsizetype size)
{
    const QByteArray frame = R"({"a":""})";
    return QByteArray(R"({"a":")") + QByteArray(size - frame.size(), 'x') + QByteArray(R"("})");
}

FakeReply binary(QByteArray body, bool chunked = false)
{
    FakeReply reply;
    reply.body = std::move(body);
    reply.headers = {{"Content-Type", "application/octet-stream"}};
    reply.chunked = chunked;
    return reply;
}

} // namespace

class APIClientTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void requestShapes_data();
    void requestShapes();
    void patchSendsNumbersAndEmptyTexts();
    void askSendsHistoryOldestFirst();
    void listQueryKeepsOrderAndFullRange();

    void missingTokenSendsNothing_data();
    void missingTokenSendsNothing();

    void requestStatusRules_data();
    void requestStatusRules();
    void listStatusRules_data();
    void listStatusRules();
    void exportStatusRules_data();
    void exportStatusRules();
    void endpointReplyRules_data();
    void endpointReplyRules();
    void endpointResults();

    void cookiesNeverSentOrStored();
    void redirectToOtherOriginIsNotFollowed();
    void timeoutIsTransportError();
    void refusedConnectionIsTransportError();

    void bodyBound_data();
    void bodyBound();
    void oversizedBodyIsAbandonedEarly();
    void largeBodyWithinTheBoundArrivesWhole();

    void baseJoinsOnePathComponent_data();
    void baseJoinsOnePathComponent();
    void resolveBase_data();
    void resolveBase();
    void settingBaseIsUsedForEveryRequest();

private:
    std::unique_ptr<FakeHttpServer> m_server;
    std::unique_ptr<RecordingNetwork> m_network;
    std::unique_ptr<MemorySecretStore> m_secrets;
    std::unique_ptr<APIClient> m_client;
    QTemporaryDir m_profile;
};

void APIClientTest::initTestCase()
{
    QVERIFY(m_profile.isValid());
    AppPaths::setProfile(m_profile.path());
}

void APIClientTest::init()
{
    m_server = std::make_unique<FakeHttpServer>();
    QVERIFY(m_server->start());
    m_network = std::make_unique<RecordingNetwork>();
    m_secrets = std::make_unique<MemorySecretStore>();
    QVERIFY(m_secrets->keychainSave(kToken, SecretKeys::token));
    m_client = std::make_unique<APIClient>(m_server->url(QStringLiteral("/api")), *m_secrets, *m_network);
}

void APIClientTest::cleanup()
{
    m_client.reset();
    m_network.reset();
    m_server.reset();
    qunsetenv("CLIPVANE_API_BASE");
}

void APIClientTest::requestShapes_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QByteArray>("body"); // exact compact JSON; empty: no body at all
    QTest::addColumn<int>("timeoutMs");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray video = R"({"video":{"youtube_id":"abc"}})";
    QTest::newRow("videos") << "videos" << QByteArray("GET") << QByteArray("since=0&after_id=0&limit=600")
                            << QByteArray() << 60000 << QByteArray(R"({"videos":[]})");
    QTest::newRow("upsert") << "upsert" << QByteArray("POST") << QByteArray()
                            << QByteArray(R"({"title":"","url":"https://youtu.be/abc"})") << 90000 << video;
    QTest::newRow("patch") << "patch" << QByteArray("POST") << QByteArray()
                           << QByteArray(
                                  R"({"duration":"","excluded":1,"title":"T","upload_date":"","youtube_id":"abc"})")
                           << 30000 << video;
    QTest::newRow("delete") << "delete" << QByteArray("POST") << QByteArray() << QByteArray(R"({"youtube_id":"abc"})")
                            << 30000 << QByteArray("{}");
    QTest::newRow("family") << "family" << QByteArray("GET") << QByteArray() << QByteArray() << 30000
                            << QByteArray("{}");
    QTest::newRow("familyAction") << "familyAction" << QByteArray("POST") << QByteArray()
                                  << QByteArray(R"({"action":"add","email":"a@b.c"})") << 30000 << QByteArray("{}");
    QTest::newRow("export") << "export" << QByteArray("GET") << QByteArray("action=export") << QByteArray() << 60000
                            << QByteArray("{}");
    QTest::newRow("deleteAccount") << "deleteAccount" << QByteArray("POST") << QByteArray()
                                   << QByteArray(R"({"action":"delete"})") << 30000 << QByteArray("{}");
    QTest::newRow("telegram") << "telegram" << QByteArray("POST") << QByteArray() << QByteArray("{}") << 30000
                              << QByteArray(R"({"link":"https://t.me/clipvane_bot?start=x"})");
    QTest::newRow("ask") << "ask" << QByteArray("POST") << QByteArray() << QByteArray(R"({"history":[],"q":"hi"})")
                         << 60000 << QByteArray(R"({"answer":"none"})");
}

void APIClientTest::requestShapes()
{
    QFETCH(QString, endpoint);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, query);
    QFETCH(QByteArray, body);
    QFETCH(int, timeoutMs);
    QFETCH(QByteArray, reply);

    m_server->enqueue(pathOf(endpoint), FakeReply::json(reply));
    const Outcome outcome = call(*m_client, endpoint);
    QVERIFY2(outcome.ok, outcome.error ? qPrintable(outcome.error->description()) : "");

    QCOMPARE(m_server->requestCount(), 1);
    const RecordedRequest sent = m_server->lastRequest();
    QCOMPARE(sent.method, method);
    QCOMPARE(sent.path, pathOf(endpoint));
    QCOMPARE(sent.query, query);
    QCOMPARE(sent.body, body);
    QCOMPARE(sent.header("Authorization"), QByteArray("Bearer ") + kToken.toLatin1());
    QCOMPARE(sent.header("Content-Type"), body.isEmpty() ? QByteArray() : QByteArray("application/json"));
    QVERIFY(!sent.hasHeader("Cookie"));

    QCOMPARE(m_network->requests.size(), 1);
    const QNetworkRequest &handed = m_network->requests.constFirst();
    QCOMPARE(handed.transferTimeout(), timeoutMs);
    QCOMPARE(handed.attribute(QNetworkRequest::CookieLoadControlAttribute).toInt(), int(QNetworkRequest::Manual));
    QCOMPARE(handed.attribute(QNetworkRequest::CookieSaveControlAttribute).toInt(), int(QNetworkRequest::Manual));
}

void APIClientTest::patchSendsNumbersAndEmptyTexts()
{
    m_server->enqueue("/api/upsert.php", FakeReply::json(R"({"video":{"youtube_id":"abc"}})"));
    const auto result = waitForTask(m_client->patchVideo(QStringLiteral("abc"), false, QString(), {}, {}));
    QVERIFY(result.ok());
    QCOMPARE(m_server->lastRequest().body,
             QByteArray(R"({"duration":"","excluded":0,"title":"","upload_date":"","youtube_id":"abc"})"));
}

void APIClientTest::askSendsHistoryOldestFirst()
{
    m_server->enqueue("/api/assistant.php", FakeReply::json(R"({"answer":"ok"})"));
    const QList<AskExchange> history{{QStringLiteral("first?"), QStringLiteral("one")},
                                     {QStringLiteral("second?"), QStringLiteral("two \u2014 \"quoted\"")}};
    QVERIFY(waitForTask(m_client->ask(QStringLiteral("third?"), history)).ok());
    const QJsonObject sent = QJsonDocument::fromJson(m_server->lastRequest().body).object();
    QCOMPARE(sent.value(QLatin1String("q")).toString(), QStringLiteral("third?"));
    const QJsonArray exchanges = sent.value(QLatin1String("history")).toArray();
    QCOMPARE(exchanges.size(), 2);
    QCOMPARE(exchanges[0].toObject(), (QJsonObject{{QStringLiteral("q"), QStringLiteral("first?")},
                                                   {QStringLiteral("a"), QStringLiteral("one")}}));
    QCOMPARE(exchanges[1].toObject().value(QLatin1String("a")).toString(), history[1].answer);
}

void APIClientTest::listQueryKeepsOrderAndFullRange()
{
    m_server->enqueue("/api/videos.php", FakeReply::json(R"({"videos":[]})"));
    QVERIFY(waitForTask(m_client->videos(std::numeric_limits<qint64>::max(), -7, 600)).ok());
    const QList<QPair<QString, QString>> items = m_server->lastRequest().queryItems();
    QCOMPARE(items.size(), 3);
    QCOMPARE(items[0], qMakePair(QStringLiteral("since"), QStringLiteral("9223372036854775807")));
    QCOMPARE(items[1], qMakePair(QStringLiteral("after_id"), QStringLiteral("-7")));
    QCOMPARE(items[2], qMakePair(QStringLiteral("limit"), QStringLiteral("600")));
}

void APIClientTest::missingTokenSendsNothing_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<std::optional<QString>>("token");
    for (const QString &endpoint : allEndpoints()) {
        QTest::addRow("%s, none", qPrintable(endpoint)) << endpoint << std::optional<QString>();
        QTest::addRow("%s, empty", qPrintable(endpoint)) << endpoint << std::optional<QString>(QString());
    }
    // A token that would split the header line is never put on the wire.
    QTest::newRow("line break") << "videos" << std::optional<QString>(QStringLiteral("abc\r\nX-Evil: 1"));
    QTest::newRow("non-ASCII") << "upsert" << std::optional<QString>(QStringLiteral("t\u00f6ken"));
    QTest::newRow("space") << "export" << std::optional<QString>(QStringLiteral("two words"));
}

void APIClientTest::missingTokenSendsNothing()
{
    QFETCH(QString, endpoint);
    QFETCH(std::optional<QString>, token);
    m_secrets->keychainDelete(SecretKeys::token);
    if (token)
        m_secrets->keychainSave(*token, SecretKeys::token);

    const Outcome outcome = call(*m_client, endpoint);
    QVERIFY(!outcome.ok);
    QCOMPARE(outcome.error->kind(), APIError::Kind::unauthorized);
    QCOMPARE(outcome.error->description(), QStringLiteral("Signed out \u2014 check your password"));
    QVERIFY(m_network->requests.isEmpty());
    QCOMPARE(m_server->requestCount(), 0);
}

void APIClientTest::requestStatusRules_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("kind"); // APIError::Kind when not ok
    QTest::addColumn<QString>("message");

    const int http = int(APIError::Kind::http);
    const int bad = int(APIError::Kind::badResponse);
    const int unauthorized = int(APIError::Kind::unauthorized);
    const int parse = int(APIError::Kind::parse);
    const QString signedOut = QStringLiteral("Signed out \u2014 check your password");

    QTest::newRow("200 object") << 200 << QByteArray(R"({"a":1})") << true << 0 << QString();
    QTest::newRow("201 object") << 201 << QByteArray("{}") << true << 0 << QString();
    QTest::newRow("299 object") << 299 << QByteArray("{}") << true << 0 << QString();
    QTest::newRow("200 empty body") << 200 << QByteArray() << false << parse << QString();
    QTest::newRow("204 empty body") << 204 << QByteArray() << false << parse << QString();
    QTest::newRow("200 array") << 200 << QByteArray("[1,2]") << false << bad
                               << QStringLiteral("Unexpected server response");
    QTest::newRow("200 not JSON") << 200 << QByteArray("<html>") << false << parse << QString();
    QTest::newRow("200 number") << 200 << QByteArray("42") << false << parse << QString();
    QTest::newRow("401") << 401 << QByteArray("{}") << false << unauthorized << signedOut;
    QTest::newRow("401 not JSON") << 401 << QByteArray("nope") << false << unauthorized << signedOut;
    QTest::newRow("403") << 403 << QByteArray("{}") << false << http << QStringLiteral("Server error (403)");
    QTest::newRow("404") << 404 << QByteArray("{}") << false << http << QStringLiteral("Server error (404)");
    QTest::newRow("500 not JSON") << 500 << QByteArray("oops") << false << http << QStringLiteral("Server error (500)");
    QTest::newRow("503") << 503 << QByteArray("{}") << false << http << QStringLiteral("Server error (503)");
    QTest::newRow("304") << 304 << QByteArray() << false << http << QStringLiteral("Server error (304)");
}

void APIClientTest::requestStatusRules()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);
    QFETCH(int, kind);
    QFETCH(QString, message);

    m_server->enqueue("/api/thing.php", FakeReply::json(body, status));
    const auto result =
        waitForTask(m_client->request(QStringLiteral("thing.php"), QStringLiteral("GET"), std::nullopt, true, 5s));
    QCOMPARE(result.ok(), ok);
    if (ok)
        return;
    QCOMPARE(int(result.error().kind()), kind);
    if (result.error().kind() == APIError::Kind::parse) {
        // The parser's own text, as it describes this body.
        QJsonParseError expected{};
        QJsonDocument::fromJson(body, &expected);
        QCOMPARE(result.error().description(), expected.errorString());
    } else {
        QCOMPARE(result.error().description(), message);
    }
}

void APIClientTest::listStatusRules_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("kind"); // -1: success

    const int bad = int(APIError::Kind::badResponse);
    QTest::newRow("200 page") << 200 << QByteArray(R"({"videos":[]})") << -1;
    QTest::newRow("201 page") << 201 << QByteArray(R"({"videos":[]})") << bad;
    QTest::newRow("204") << 204 << QByteArray() << bad;
    QTest::newRow("401") << 401 << QByteArray("{}") << int(APIError::Kind::unauthorized);
    QTest::newRow("500") << 500 << QByteArray(R"({"videos":[]})") << bad;
    QTest::newRow("503") << 503 << QByteArray() << bad;
    QTest::newRow("not JSON") << 200 << QByteArray("{") << int(APIError::Kind::parse);
    QTest::newRow("array") << 200 << QByteArray("[]") << bad;
    QTest::newRow("no keys") << 200 << QByteArray("{}") << bad;
    QTest::newRow("videos missing") << 200 << QByteArray(R"({"now":5})") << bad;
    QTest::newRow("videos an object") << 200 << QByteArray(R"({"videos":{}})") << bad;
    QTest::newRow("videos with a number") << 200 << QByteArray(R"({"videos":[{"youtube_id":"a"},1]})") << bad;
}

void APIClientTest::listStatusRules()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, kind);

    m_server->enqueue("/api/videos.php", FakeReply::json(body, status));
    const auto result = waitForTask(m_client->videos(0, 0, 600));
    QCOMPARE(result.ok(), kind == -1);
    if (kind != -1)
        QCOMPARE(int(result.error().kind()), kind);
}

void APIClientTest::exportStatusRules_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("ok");

    QTest::newRow("200") << 200 << true;
    QTest::newRow("201") << 201 << true;
    QTest::newRow("299") << 299 << true;
    QTest::newRow("401") << 401 << false;
    QTest::newRow("404") << 404 << false;
    QTest::newRow("500") << 500 << false;
}

void APIClientTest::exportStatusRules()
{
    QFETCH(int, status);
    QFETCH(bool, ok);

    // Not JSON, with a NUL byte: the export passes through untouched.
    const QByteArray bytes("{\"videos\":[]}\n\0tail", 19);
    m_server->enqueue("/api/account.php", FakeReply::json(bytes, status));
    const auto result = waitForTask(m_client->exportAccount());
    QCOMPARE(result.ok(), ok);
    if (ok) {
        QCOMPARE(result.value(), bytes);
    } else {
        QCOMPARE(result.error().kind(), APIError::Kind::badResponse);
        QCOMPARE(result.error().description(), QStringLiteral("Unexpected server response"));
    }
}

void APIClientTest::endpointReplyRules_data()
{
    QTest::addColumn<QString>("endpoint");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("ok");

    QTest::newRow("upsert without video") << "upsert" << QByteArray("{}") << false;
    QTest::newRow("upsert video not an object") << "upsert" << QByteArray(R"({"video":"abc"})") << false;
    QTest::newRow("upsert video without id") << "upsert" << QByteArray(R"({"video":{"title":"t"}})") << false;
    QTest::newRow("patch video without id") << "patch" << QByteArray(R"({"video":{"youtube_id":5}})") << false;
    QTest::newRow("delete any object") << "delete" << QByteArray(R"({"whatever":[1]})") << true;
    QTest::newRow("delete array") << "delete" << QByteArray("[]") << false;
    QTest::newRow("family array") << "family" << QByteArray("[]") << false;
    QTest::newRow("family strange content") << "family" << QByteArray(R"({"members":7})") << true;
    QTest::newRow("family action array") << "familyAction" << QByteArray("[]") << false;
    QTest::newRow("delete account any object") << "deleteAccount" << QByteArray(R"({"ok":false})") << true;
    QTest::newRow("telegram link a number") << "telegram" << QByteArray(R"({"link":5})") << false;
    QTest::newRow("telegram no link") << "telegram" << QByteArray("{}") << false;
    QTest::newRow("ask without answer") << "ask" << QByteArray(R"({"videos":[]})") << false;
    QTest::newRow("ask answer a number") << "ask" << QByteArray(R"({"answer":1})") << false;
}

void APIClientTest::endpointReplyRules()
{
    QFETCH(QString, endpoint);
    QFETCH(QByteArray, body);
    QFETCH(bool, ok);

    m_server->enqueue(pathOf(endpoint), FakeReply::json(body));
    const Outcome outcome = call(*m_client, endpoint);
    QCOMPARE(outcome.ok, ok);
    if (!ok)
        QCOMPARE(outcome.error->kind(), APIError::Kind::badResponse);
}

void APIClientTest::endpointResults()
{
    m_server->enqueue("/api/upsert.php",
                      FakeReply::json(R"({"video":{"youtube_id":"abc","title":"Hello","updated_at":"17"}})"));
    const auto video = waitForTask(m_client->upsert(QStringLiteral("https://youtu.be/abc"), QString()));
    QVERIFY(video.ok());
    QCOMPARE(video->title, QStringLiteral("Hello"));
    QCOMPARE(video->updatedAt, qint64(17));

    m_server->enqueue("/api/family.php", FakeReply::json(R"({"members":["a@x","b@x"],"shared_with_me":["o@x"]})"));
    const auto family = waitForTask(m_client->family());
    QVERIFY(family.ok());
    QCOMPARE(family->members, (QStringList{QStringLiteral("a@x"), QStringLiteral("b@x")}));
    QCOMPARE(family->sharedWithMe, QStringList{QStringLiteral("o@x")});

    m_server->enqueue("/api/telegram-code.php", FakeReply::json(R"({"link":"https://t.me/clipvane_bot?start=k"})"));
    const auto link = waitForTask(m_client->telegramLink());
    QVERIFY(link.ok());
    QCOMPARE(link.value(), QStringLiteral("https://t.me/clipvane_bot?start=k"));

    m_server->enqueue("/api/assistant.php",
                      FakeReply::json(R"({"answer":"Try **A**","videos":[{"title":"A","url":"u","year":2019}]})"));
    const auto answer = waitForTask(m_client->ask(QStringLiteral("q"), {}));
    QVERIFY(answer.ok());
    QCOMPARE(answer->answer, QStringLiteral("Try **A**"));
    QCOMPARE(answer->videos.size(), 1);
    QCOMPARE(answer->videos[0].year, QStringLiteral("2019"));

    m_server->enqueue("/api/videos.php",
                      FakeReply::json(R"({"now":99,"total":3,"videos":[{"youtube_id":"a"},{"title":"no id"}]})"));
    const auto page = waitForTask(m_client->videos(0, 0, 600));
    QVERIFY(page.ok());
    QCOMPARE(page->now, qint64(99));
    QCOMPARE(page->videos.size(), 1);
    QCOMPARE(page->objectCount, 2);
}

void APIClientTest::cookiesNeverSentOrStored()
{
    FakeReply withCookie = FakeReply::json(R"({"videos":[]})");
    withCookie.headers = {{"Set-Cookie", "session=secret; Path=/"}};
    m_server->enqueue("/api/videos.php", withCookie);
    m_server->enqueue("/api/videos.php", FakeReply::json(R"({"videos":[]})"));
    QVERIFY(waitForTask(m_client->videos(0, 0, 600)).ok());
    QVERIFY(waitForTask(m_client->videos(0, 0, 600)).ok());

    QCOMPARE(m_server->requestCount(), 2);
    QVERIFY(!m_server->lastRequest().hasHeader("Cookie"));
    QVERIFY(m_network->cookieJar()->cookiesForUrl(m_server->url(QStringLiteral("/api/videos.php"))).isEmpty());
}

void APIClientTest::redirectToOtherOriginIsNotFollowed()
{
    FakeHttpServer elsewhere;
    QVERIFY(elsewhere.start());
    elsewhere.setDefaultReply(FakeReply::json(R"({"videos":[]})"));
    FakeReply redirect = FakeReply::json("{}", 302);
    redirect.headers = {{"Location", elsewhere.url(QStringLiteral("/api/videos.php")).toEncoded()}};
    m_server->enqueue("/api/videos.php", redirect);

    const auto result = waitForTask(m_client->videos(0, 0, 600));
    QVERIFY(!result.ok());
    QCOMPARE(elsewhere.requestCount(), 0);
}

void APIClientTest::timeoutIsTransportError()
{
    FakeReply stalled = FakeReply::json("{}");
    stalled.delay = 20s; // cut short when the server stops
    m_server->enqueue("/api/slow.php", stalled);

    const auto result =
        waitForTask(m_client->request(QStringLiteral("slow.php"), QStringLiteral("GET"), std::nullopt, true, 200ms));
    QVERIFY(!result.ok());
    QCOMPARE(result.error().kind(), APIError::Kind::transport);
    QVERIFY(!result.error().description().isEmpty());
    QCOMPARE(m_server->requestCount(), 1); // sent once: no retry
}

void APIClientTest::refusedConnectionIsTransportError()
{
    const QUrl base = m_server->url(QStringLiteral("/api"));
    m_server->stop(); // the port is free again and nobody listens on it
    APIClient client(base, *m_secrets, *m_network);

    const auto result = waitForTask(client.videos(0, 0, 600));
    QVERIFY(!result.ok());
    QCOMPARE(result.error().kind(), APIError::Kind::transport);
    QVERIFY(!result.error().description().isEmpty());
}

void APIClientTest::bodyBound_data()
{
    QTest::addColumn<QString>("endpoint"); // "request" or "export"
    QTest::addColumn<FakeReply>("reply");
    QTest::addColumn<bool>("ok");

    constexpr qsizetype kBound = 4096;
    // Deflated zeros: a few dozen bytes on the wire that grow far past the bound.
    const QByteArray inflated = QByteArray(R"({"a":")") + QByteArray(100 * kBound, '0') + QByteArray(R"("})");
    FakeReply bomb = binary(qCompress(inflated, 9).mid(4)); // qCompress frames zlib data with a length
    bomb.headers.append(qMakePair(QByteArray("Content-Encoding"), QByteArray("deflate")));

    for (const QString &endpoint : {QStringLiteral("request"), QStringLiteral("export")}) {
        const QByteArray name = endpoint.toLatin1();
        QTest::addRow("%s, exactly the bound", name.constData()) << endpoint << binary(objectOfSize(kBound)) << true;
        QTest::addRow("%s, one byte over", name.constData()) << endpoint << binary(objectOfSize(kBound + 1)) << false;
        QTest::addRow("%s, chunked under", name.constData())
            << endpoint << binary(objectOfSize(kBound - 10), true) << true;
        QTest::addRow("%s, chunked over", name.constData())
            << endpoint << binary(objectOfSize(3 * kBound), true) << false;
        QTest::addRow("%s, compressed over", name.constData()) << endpoint << bomb << false;
    }
}

void APIClientTest::bodyBound()
{
    QFETCH(QString, endpoint);
    QFETCH(FakeReply, reply);
    QFETCH(bool, ok);

    m_client->setMaxBodyBytes(4096);
    Outcome outcome;
    if (endpoint == QLatin1String("export")) {
        m_server->enqueue("/api/account.php", reply);
        outcome = outcomeOf(waitForTask(m_client->exportAccount()));
    } else {
        m_server->enqueue("/api/big.php", reply);
        outcome = outcomeOf(
            waitForTask(m_client->request(QStringLiteral("big.php"), QStringLiteral("GET"), std::nullopt, true, 5s)));
    }
    QCOMPARE(outcome.ok, ok);
    if (!ok)
        QCOMPARE(outcome.error->kind(), APIError::Kind::badResponse);
}

void APIClientTest::oversizedBodyIsAbandonedEarly()
{
    // Far more than the socket buffers between the two ends can hold: the server can only
    // send it all if the client reads everything.
    constexpr qsizetype kHuge = qsizetype(32) * 1024 * 1024;
    m_client->setMaxBodyBytes(4096);
    m_server->enqueue("/api/account.php", binary(QByteArray(kHuge, 'x'), true));
    const auto result = waitForTask(m_client->exportAccount());
    QVERIFY(!result.ok());
    QCOMPARE(result.error().kind(), APIError::Kind::badResponse);
    QVERIFY2(m_server->chunkedBytesSent() < kHuge / 2, QByteArray::number(m_server->chunkedBytesSent()).constData());
}

void APIClientTest::largeBodyWithinTheBoundArrivesWhole()
{
    // Many times the read buffer, with and without a length: nothing is lost or stalls.
    QByteArray bytes(qsizetype(8) * 1024 * 1024, '\0');
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 + i / 4096);
    for (const bool chunked : {false, true}) {
        m_server->enqueue("/api/account.php", binary(bytes, chunked));
        const auto result = waitForTask(m_client->exportAccount());
        QVERIFY(result.ok());
        QVERIFY(result.value() == bytes);
    }
}

void APIClientTest::baseJoinsOnePathComponent_data()
{
    QTest::addColumn<QString>("basePath");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("api") << "/api" << QByteArray("/api/videos.php");
    QTest::newRow("trailing slash") << "/api/" << QByteArray("/api/videos.php");
    QTest::newRow("deeper") << "/family/clipvane/api" << QByteArray("/family/clipvane/api/videos.php");
    QTest::newRow("root") << "" << QByteArray("/videos.php");
}

void APIClientTest::baseJoinsOnePathComponent()
{
    QFETCH(QString, basePath);
    QFETCH(QByteArray, expected);

    APIClient client(m_server->url(basePath), *m_secrets, *m_network);
    m_server->setDefaultReply(FakeReply::json(R"({"videos":[]})"));
    QVERIFY(waitForTask(client.videos(1, 2, 3)).ok());
    QCOMPARE(m_server->lastRequest().path, expected);
    QCOMPARE(m_server->lastRequest().query, QByteArray("since=1&after_id=2&limit=3"));
}

void APIClientTest::resolveBase_data()
{
    QTest::addColumn<QVariant>("setting"); // invalid: not set
    QTest::addColumn<QString>("environment");
    QTest::addColumn<QString>("expected"); // empty: the built-in base

    const QVariant none;
    QTest::newRow("nothing set") << none << QString() << QString();
    QTest::newRow("https setting") << QVariant(QStringLiteral("https://clips.example.org/api")) << QString()
                                   << "https://clips.example.org/api";
    QTest::newRow("loopback v4") << QVariant(QStringLiteral("http://127.0.0.1:9999/api")) << QString()
                                 << "http://127.0.0.1:9999/api";
    QTest::newRow("loopback v4 range") << QVariant(QStringLiteral("http://127.4.5.6/api")) << QString()
                                       << "http://127.4.5.6/api";
    QTest::newRow("loopback v6") << QVariant(QStringLiteral("http://[::1]:9999/api")) << QString()
                                 << "http://[::1]:9999/api";
    QTest::newRow("localhost") << QVariant(QStringLiteral("http://LocalHost:9999/api")) << QString()
                               << "http://localhost:9999/api";
    QTest::newRow("clear text to a remote host")
        << QVariant(QStringLiteral("http://clips.example.org/api")) << QString() << QString();
    QTest::newRow("clear text to the LAN")
        << QVariant(QStringLiteral("http://192.168.1.5:8470/api")) << QString() << QString();
    QTest::newRow("clear text to a look-alike")
        << QVariant(QStringLiteral("http://127.0.0.1.example.org/api")) << QString() << QString();
    QTest::newRow("other scheme") << QVariant(QStringLiteral("ftp://127.0.0.1/api")) << QString() << QString();
    QTest::newRow("not a URL") << QVariant(QStringLiteral("not a url")) << QString() << QString();
    QTest::newRow("empty setting") << QVariant(QString()) << QStringLiteral("https://env.example.org/api") << QString();
    QTest::newRow("environment") << none << QStringLiteral("https://env.example.org/api")
                                 << "https://env.example.org/api";
    QTest::newRow("clear-text environment") << none << QStringLiteral("http://10.0.0.2/api") << QString();
    QTest::newRow("setting wins") << QVariant(QStringLiteral("https://setting.example.org/api"))
                                  << QStringLiteral("https://env.example.org/api") << "https://setting.example.org/api";
    QTest::newRow("refused setting still wins") << QVariant(QStringLiteral("http://clips.example.org/api"))
                                                << QStringLiteral("https://env.example.org/api") << QString();
    QTest::newRow("setting not text") << QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b")})
                                      << QStringLiteral("https://env.example.org/api") << "https://env.example.org/api";
}

void APIClientTest::resolveBase()
{
    QFETCH(QVariant, setting);
    QFETCH(QString, environment);
    QFETCH(QString, expected);

    {
        const auto settings = AppPaths::standardSettings();
        settings->remove(QStringLiteral("apiBase"));
        if (setting.isValid())
            settings->setValue(QStringLiteral("apiBase"), setting);
        settings->sync();
    }
    if (environment.isEmpty())
        qunsetenv("CLIPVANE_API_BASE");
    else
        qputenv("CLIPVANE_API_BASE", environment.toUtf8());

    const QUrl resolved = APIClient::resolveBase();
    QCOMPARE(resolved, expected.isEmpty() ? APIClient::builtInBase() : QUrl(expected));
    QCOMPARE(APIClient::builtInBase(), QUrl(QStringLiteral("http://127.0.0.1:8470/api")));
}

void APIClientTest::settingBaseIsUsedForEveryRequest()
{
    {
        const auto settings = AppPaths::standardSettings();
        settings->setValue(QStringLiteral("apiBase"), m_server->url(QStringLiteral("/elsewhere/api")).toString());
    }
    APIClient client(APIClient::resolveBase(), *m_secrets, *m_network);
    m_server->setDefaultReply(FakeReply::json(R"({"videos":[],"video":{"youtube_id":"a"},"link":"l"})"));
    QVERIFY(waitForTask(client.videos(0, 0, 600)).ok());
    QVERIFY(waitForTask(client.upsert(QStringLiteral("u"), QString())).ok());
    QVERIFY(waitForTask(client.telegramLink()).ok());
    const QList<RecordedRequest> sent = m_server->requests();
    QCOMPARE(sent.size(), 3);
    for (const RecordedRequest &request : sent)
        QVERIFY2(request.path.startsWith("/elsewhere/api/"), request.path.constData());
    AppPaths::standardSettings()->remove(QStringLiteral("apiBase"));
}

QTEST_GUILESS_MAIN(APIClientTest)
#include "APIClientTest.moc"
