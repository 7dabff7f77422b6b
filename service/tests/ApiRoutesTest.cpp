// Every route over HTTP: authorisation, methods, unknown paths, body limits, the pages, the
// sign-in page (local and Google), the assistant and the Telegram link code with the bot.

#include "ExtrasFakeTelegram.h"
#include "TestService.h"
#include "api/Pages.h"

#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

#include <atomic>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

const std::vector<std::pair<std::string, std::string>> kApiRoutes = {
    {"GET", "/api/videos.php"},   {"POST", "/api/upsert.php"},    {"POST", "/api/delete.php"},
    {"GET", "/api/family.php"},   {"POST", "/api/family.php"},    {"GET", "/api/account.php?action=export"},
    {"POST", "/api/account.php"}, {"POST", "/api/assistant.php"}, {"POST", "/api/telegram-code.php"},
};
constexpr auto kForm = "application/x-www-form-urlencoded";
const std::string kGoogleTokenReply =
    R"({"access_token":"at","id_token":")" +
    fakeIdToken(R"({"aud":"client","email":"G.User@Example.com","email_verified":true})") + "\"}";

// A query item of an address such as clipvaneshelf://auth?token=…&email=….
QString queryItem(const std::string &address, const QString &name)
{
    return QUrlQuery(QUrl(QString::fromStdString(address)).query(QUrl::FullyDecoded))
        .queryItemValue(name, QUrl::FullyDecoded);
}

QJsonObject question(const QString &q, const QJsonValue &history = QJsonValue::Undefined)
{
    QJsonObject body{{u"q"_qs, q}};
    if (!history.isUndefined())
        body.insert(u"history"_qs, history);
    return body;
}

// Refused input, by route. Rows of an add: neither a link nor a change; rows of a change
// address the video the test adds first.
void badRequests()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QByteArray>("body");
    const auto bad = [](const char *name, const char *path, const QByteArray &body) {
        QTest::newRow(name) << QByteArray(path) << body;
    };
    const char *upsert = "/api/upsert.php";
    const QByteArray id = R"j({"youtube_id":"patch12345",)j";
    bad("add: empty url", upsert, R"j({"url":"","title":""})j");
    bad("add: words", upsert, R"j({"url":"not a link","title":""})j");
    bad("add: ftp", upsert, R"j({"url":"ftp://example.com/x"})j");
    bad("add: script", upsert, R"j({"url":"javascript:alert(1)"})j");
    bad("add: no host", upsert, R"j({"url":"http://"})j");
    bad("add: space in link", upsert, R"j({"url":"https://exa mple.com/"})j");
    bad("add: url not a string", upsert, R"j({"url":5})j");
    bad("add: title not a string", upsert, R"j({"url":"https://youtu.be/abcdef123","title":7})j");
    bad("add: url too long", upsert, R"j({"url":"https://example.com/)j" + QByteArray(4100, 'a') + "\"}");
    bad("upsert: neither url nor id", upsert, R"j({"title":"x"})j");
    bad("upsert: array body", upsert, R"j(["https://youtu.be/abcdef123"])j");
    bad("upsert: malformed", upsert, R"j({"url": )j");
    bad("upsert: empty body", upsert, {});
    bad("change: id not a string", upsert, R"j({"youtube_id":12345678})j");
    bad("change: empty id", upsert, R"j({"youtube_id":""})j");
    bad("change: excluded 2", upsert, id + R"j("excluded":2})j");
    bad("change: excluded text", upsert, id + R"j("excluded":"1"})j");
    bad("change: title number", upsert, id + R"j("title":1})j");
    bad("change: title too long", upsert, id + R"j("title":")j" + QByteArray(1001, 'a') + "\"}");
    bad("change: date too long", upsert, id + R"j("upload_date":")j" + QByteArray(65, '1') + "\"}");
    bad("delete: no id", "/api/delete.php", R"j({"id":5})j");
    const char *family = "/api/family.php";
    bad("family: no action", family, R"j({"email":"x@example.com"})j");
    bad("family: unknown action", family, R"j({"action":"invite","email":"x@example.com"})j");
    bad("family: no email", family, R"j({"action":"add"})j");
    bad("family: email not text", family, R"j({"action":"add","email":5})j");
    bad("family: not an address", family, R"j({"action":"add","email":"bob"})j");
    bad("family: two at signs", family, R"j({"action":"add","email":"a@b@example.com"})j");
    bad("family: no dot", family, R"j({"action":"remove","email":"a@localhost"})j");
    bad("family: yourself", family, R"j({"action":"add","email":" A@Example.com"})j");
    bad("account: export is a GET", "/api/account.php", R"j({"action":"export"})j");
    const char *assistant = "/api/assistant.php";
    bad("assistant: no question", assistant, R"j({"history":[]})j");
    bad("assistant: blank question", assistant, R"j({"q":"   "})j");
    bad("assistant: question not text", assistant, R"j({"q":3})j");
    bad("assistant: history not a list", assistant, R"j({"q":"x","history":"x"})j");
    bad("assistant: entry without answer", assistant, R"j({"q":"x","history":[{"q":"y"}]})j");
    bad("assistant: entry not an object", assistant, R"j({"q":"x","history":[1]})j");
    bad("assistant: question too long", assistant, R"j({"q":")j" + QByteArray(4001, 'q') + "\"}");
    bad("telegram code: not an object", "/api/telegram-code.php", "[]");
}

} // namespace

class ApiRoutesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void everyApiRouteWantsAToken_data()
    {
        QTest::addColumn<QString>("authorization");
        QTest::newRow("none") << QString();
        QTest::newRow("scheme only") << u"Bearer"_qs;
        QTest::newRow("unknown token") << u"Bearer AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"_qs;
        QTest::newRow("other scheme") << u"Basic YTpi"_qs;
        QTest::newRow("huge token") << (u"Bearer "_qs + QString(600, u'x'));
    }
    void everyApiRouteWantsAToken()
    {
        QFETCH(QString, authorization);
        TestService service;
        service.token(u"a@example.com"_qs);
        httplib::Headers headers;
        if (!authorization.isEmpty())
            headers.emplace("Authorization", authorization.toStdString());
        for (const auto &[method, path] : kApiRoutes) {
            const Reply reply = service.send(method, {}, path, "{}", headers);
            QCOMPARE(reply.status, 401);
            QVERIFY(reply.json.value(u"error"_qs).isString());
            QCOMPARE(reply.header("WWW-Authenticate"), std::string("Bearer"));
        }
    }

    void methodsPathsSizesAndPages()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        const httplib::Headers oddCase{{"Authorization", "bEaReR " + token.toStdString()}};
        QCOMPARE(service.send("GET", {}, "/api/family.php", {}, oddCase).status, 200);

        const Reply wrongMethod = service.get(token, "/api/upsert.php");
        QCOMPARE(wrongMethod.status, 405);
        QCOMPARE(wrongMethod.header("Allow"), std::string("POST"));
        QVERIFY(wrongMethod.json.contains(u"error"_qs));
        QCOMPARE(service.send("PUT", token, "/api/family.php", "{}").status, 405);
        QCOMPARE(service.send("DELETE", token, "/api/videos.php", "{}").status, 405);
        const Reply unknown = service.get(token, "/api/nothing.php");
        QCOMPARE(unknown.status, 404);
        QVERIFY(unknown.json.contains(u"error"_qs));
        QCOMPARE(service.get({}, "/../etc/passwd").status / 100, 4);

        const std::string huge = "{\"url\":\"" + std::string(300 * 1024, 'a') + "\"}";
        const Reply tooLarge = service.send("POST", token, "/api/upsert.php", huge);
        QCOMPARE(tooLarge.status, 413);
        QVERIFY(tooLarge.json.contains(u"error"_qs));
        QCOMPARE(service.get(token, "/api/family.php").status, 200); // still serving

        const Reply noBot = service.post(token, "/api/telegram-code.php", QJsonObject());
        QCOMPARE(noBot.status, 503);
        QVERIFY(noBot.json.contains(u"error"_qs));

        const Reply player = service.get({}, "/player.html");
        QCOMPARE(player.status, 200);
        QCOMPARE(player.body, Pages::playerHtml());
        QCOMPARE(player.header("Content-Security-Policy"), Pages::playerCsp());
        QVERIFY(player.header("Content-Type").starts_with("text/html"));
        QCOMPARE(service.get({}, "/").body, Pages::aboutHtml());
        const Reply post = service.post({}, "/player.html", QJsonObject());
        QCOMPARE(post.status, 405);
        QVERIFY(post.isJsonObject);
    }

    void localSignInOnLoopback()
    {
        TestService service;
        const Reply form = service.get({}, "/gauth/login.php");
        QCOMPARE(form.status, 200);
        QCOMPARE(form.body, Pages::localSignInForm({}));
        const Reply bad = service.send("POST", {}, "/gauth/login.php", "email=nobody", {}, kForm);
        QCOMPARE(bad.status, 400);
        QVERIFY(bad.header("Location").empty());

        const Reply done = service.send("POST", {}, "/gauth/login.php", "email=%20Someone%40Example.com", {}, kForm);
        QCOMPARE(done.status, 302);
        const std::string location = done.header("Location");
        QVERIFY2(location.starts_with("clipvaneshelf://auth?"), location.c_str());
        // The page sends the browser to the same callback (the client decodes the header).
        QVERIFY(done.body.find("clipvaneshelf://auth?token=") != std::string::npos);
        QCOMPARE(queryItem(location, u"email"_qs), u"someone@example.com"_qs);
        QCOMPARE(service.get(queryItem(location, u"token"_qs), "/api/family.php").status, 200);
        QVERIFY(location.find("state=") == std::string::npos);

        // The application's one-time state rides through the form into the callback; a value
        // that is not a plain token is dropped rather than passed on.
        QVERIFY(service.get({}, "/gauth/login.php?state=Ab-9_x").body.find("value=\"Ab-9_x\"") != std::string::npos);
        const Reply withState =
            service.send("POST", {}, "/gauth/login.php", "email=a%40example.com&state=Ab-9_x", {}, kForm);
        QCOMPARE(queryItem(withState.header("Location"), u"state"_qs), u"Ab-9_x"_qs);
        const Reply oddState =
            service.send("POST", {}, "/gauth/login.php", "email=a%40example.com&state=%3Cb%3E", {}, kForm);
        QCOMPARE(oddState.status, 302);
        QVERIFY(oddState.header("Location").find("state=") == std::string::npos);
    }

    void signInIsRefusedAwayFromLoopback()
    {
        TestService service([](ServiceConfig &config) { config.listenHost = u"0.0.0.0"_qs; });
        const Reply get = service.get({}, "/gauth/login.php");
        QCOMPARE(get.status, 403);
        QCOMPARE(get.body, Pages::signInRefused());
        const Reply post = service.send("POST", {}, "/gauth/login.php", "email=a%40example.com", {}, kForm);
        QCOMPARE(post.status, 403);
        QVERIFY(post.header("Location").empty());
    }

    void googleSignIn()
    {
        ExtrasFakeServer google;
        google.reply("POST", "/token", 200, kGoogleTokenReply);
        TestService service([&](ServiceConfig &config) {
            config.listenHost = u"0.0.0.0"_qs; // Google works on any address
            config.publicOrigin = u"https://clipvane.example/"_qs;
            config.google = GoogleConfig{u"client"_qs, u"secret"_qs, google.qBaseUrl() + u"/auth"_qs,
                                         google.qBaseUrl() + u"/token"_qs, google.qBaseUrl() + u"/userinfo"_qs};
        });
        const std::string start = service.get({}, "/gauth/login.php?state=app-1").header("Location");
        QCOMPARE(QUrl(QString::fromStdString(start)).toString(QUrl::RemoveQuery), google.qBaseUrl() + u"/auth"_qs);
        QCOMPARE(queryItem(start, u"redirect_uri"_qs), u"https://clipvane.example/gauth/login.php"_qs);
        const QString state = queryItem(start, u"state"_qs);
        QVERIFY(!state.isEmpty());

        const std::string back = "/gauth/login.php?code=abc&state=" + QUrl::toPercentEncoding(state).toStdString();
        const Reply done = service.get({}, back);
        QCOMPARE(done.status, 302);
        QCOMPARE(queryItem(done.header("Location"), u"email"_qs), u"g.user@example.com"_qs);
        QCOMPARE(queryItem(done.header("Location"), u"state"_qs), u"app-1"_qs);
        QCOMPARE(service.get(queryItem(done.header("Location"), u"token"_qs), "/api/family.php").status, 200);

        // A state is good once; Google's own refusal is shown, not signed in; no local form.
        const Reply replay = service.get({}, back);
        QCOMPARE(replay.status, 400);
        QVERIFY(replay.header("Location").empty());
        const Reply refused = service.get({}, "/gauth/login.php?error=access_denied&state=x");
        QCOMPARE(refused.status, 400);
        QVERIFY(refused.body.find("access_denied") != std::string::npos);
        QVERIFY(service.send("POST", {}, "/gauth/login.php", "email=a%40example.com", {}, kForm)
                    .header("Location")
                    .empty());
    }

    void assistantAnswersFromWhatTheUserSees()
    {
        TestService service;
        const QString me = service.token(u"me@example.com"_qs);
        const QString family = service.token(u"family@example.com"_qs);
        service.add(me, u"https://youtu.be/kitten1234"_qs, u"Funny kittens compilation"_qs);
        service.add(family, u"https://youtu.be/kitten5678"_qs, u"Kittens in boxes"_qs);
        service.add(service.token(u"stranger@example.com"_qs), u"https://youtu.be/kitten9999"_qs, u"Kittens"_qs);
        service.share(family, u"me@example.com"_qs);

        const QJsonArray history{QJsonObject{{u"q"_qs, u"hello"_qs}, {u"a"_qs, u"Hi!"_qs}}};
        const Reply reply = service.post(me, "/api/assistant.php", question(u"Which kittens videos?"_qs, history));
        QCOMPARE(reply.status, 200);
        QVERIFY(str(reply.json, "answer").contains(u"**Funny kittens compilation**"_qs));
        QStringList found;
        for (const QJsonValue &video : reply.json.value(u"videos"_qs).toArray())
            found.append(fields(video.toObject(), "youtube_id title url year"));
        QCOMPARE(found, (QStringList{u"kitten5678|Kittens in boxes|https://youtu.be/kitten5678|2020"_qs,
                                     u"kitten1234|Funny kittens compilation|https://youtu.be/kitten1234|2020"_qs}));
    }

    void badRequestsChangeNothing_data() { badRequests(); }
    void badRequestsChangeNothing()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, body);
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        const QJsonObject added = service.add(token, u"https://youtu.be/patch12345"_qs);
        const Reply reply = service.send("POST", token, path.toStdString(), body.toStdString());
        QCOMPARE(reply.status, 400);
        QVERIFY(!str(reply.json, "error").isEmpty());
        QCOMPARE(Client(service, token).sync().pulled(), QList<QJsonObject>{added});
        QCOMPARE(service.get(token, "/api/family.php").json.value(u"members"_qs).toArray(), QJsonArray());
    }

    void telegramCodeLinksAChatOnceAndLinksArrive()
    {
        ExtrasFakeTelegram telegram("bot-token");
        std::atomic<qint64> offset{0};
        TestService service(
            [&](ServiceConfig &config) {
                config.telegram =
                    TelegramConfig{u"bot-token"_qs, QString::fromStdString(telegram.base()), u"clipvane_test_bot"_qs};
                config.telegram.pollTimeoutSeconds = 1;
            },
            [&] { return QDateTime::currentMSecsSinceEpoch() + offset.load(); });
        Accounts &accounts = service.service().accounts();
        const QString token = service.token(u"me@example.com"_qs);
        const QString prefix = u"https://t.me/clipvane_test_bot?start="_qs;
        const auto newCode = [&] {
            const QString link = str(service.post(token, "/api/telegram-code.php", QJsonObject()).json, "link");
            return link.startsWith(prefix) ? link.mid(prefix.size()) : u"not a link: "_qs + link;
        };
        const std::string code = newCode().toStdString();

        telegram.pushMessage(42, "/start " + code);
        QTRY_COMPARE(telegram.sent().size(), size_t(1));
        QVERIFY(accounts.accountForChat(42).has_value());
        // The code is spent: another chat cannot use it.
        telegram.pushMessage(43, "/start " + code);
        QTRY_COMPARE(telegram.sent().size(), size_t(2));
        QVERIFY(!accounts.accountForChat(43).has_value());

        telegram.pushMessage(42, "look at this https://youtu.be/tele123456 !");
        QTRY_COMPARE(telegram.sent().size(), size_t(3));
        QVERIFY(telegram.sent().back().text.find("Title of tele123456") != std::string::npos);
        QCOMPARE(str(Client(service, token).sync().row(u"tele123456"_qs), "source"), u"telegram"_qs);

        // A code expires after ten minutes.
        const QString late = newCode();
        offset = 11 * 60 * 1000;
        QVERIFY(!accounts.linkTelegramChat(late, 44));
        offset = 0;
        QVERIFY(accounts.linkTelegramChat(late, 44));
    }
};

QTEST_GUILESS_MAIN(ApiRoutesTest)
#include "ApiRoutesTest.moc"
