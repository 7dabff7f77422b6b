// Every route over HTTP: authorisation, methods, unknown paths, body limits, the pages, the
// sign-in page (local and Google), the assistant and the Telegram link code with the bot.

#include "ExtrasFakeServer.h"
#include "ExtrasFakeTelegram.h"
#include "Pages.h"
#include "TestService.h"

#include <QJsonArray>
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

void idTokenReplyRows()
{
    QTest::addColumn<std::string>("tokenReply");
    QTest::newRow("verified ID token") << std::string(R"json({"access_token":"at","id_token":")json") +
                                              fakeIdToken(R"json({"aud":"client","email":"G.User@Example.com",)json"
                                                          R"json("email_verified":true})json") +
                                              "\"}";
}

// The query items of a callback address such as clipvaneshelf://auth?token=…&email=….
QUrlQuery callbackQuery(const std::string &location)
{
    return QUrlQuery(QUrl(QString::fromStdString(location)).query(QUrl::FullyDecoded));
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
        for (const auto &[method, path] : kApiRoutes) {
            httplib::Client client("127.0.0.1", service.port());
            httplib::Headers headers;
            if (!authorization.isEmpty())
                headers.emplace("Authorization", authorization.toStdString());
            const Reply reply =
                TestService::toReply(method == "GET" ? client.Get(path.c_str(), headers)
                                                     : client.Post(path.c_str(), headers, "{}", "application/json"));
            QCOMPARE(reply.status, 401);
            QVERIFY(reply.isJsonObject);
            QVERIFY(reply.json.value(u"error"_qs).isString());
            QCOMPARE(reply.header("WWW-Authenticate"), std::string("Bearer"));
        }
    }

    void bearerSchemeIsCaseInsensitive()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        httplib::Client client("127.0.0.1", service.port());
        const Reply reply = TestService::toReply(
            client.Get("/api/family.php", httplib::Headers{{"Authorization", "bEaReR " + token.toStdString()}}));
        QCOMPARE(reply.status, 200);
    }

    void methodsPathsAndSizesAreChecked()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        const Reply wrongMethod = service.get(token, "/api/upsert.php");
        QCOMPARE(wrongMethod.status, 405);
        QCOMPARE(wrongMethod.header("Allow"), std::string("POST"));
        QVERIFY(wrongMethod.json.contains(u"error"_qs));
        QCOMPARE(service.send("PUT", token, "/api/family.php", "{}").status, 405);
        QCOMPARE(service.send("DELETE", token, "/api/videos.php", "{}").status, 405);

        const Reply unknown = service.get(token, "/api/nothing.php");
        QCOMPARE(unknown.status, 404);
        QVERIFY(unknown.json.contains(u"error"_qs));
        QCOMPARE(service.get(QString(), "/../etc/passwd").status / 100, 4);

        const Reply tooLarge =
            service.postRaw(token, "/api/upsert.php", "{\"url\":\"" + std::string(300 * 1024, 'a') + "\"}");
        QCOMPARE(tooLarge.status, 413);
        QVERIFY(tooLarge.json.contains(u"error"_qs));
        // The service is still there afterwards.
        QCOMPARE(service.get(token, "/api/family.php").status, 200);
    }

    void pagesAreServed()
    {
        TestService service;
        const Reply player = service.get(QString(), "/player.html");
        QCOMPARE(player.status, 200);
        QCOMPARE(player.body, Pages::playerHtml());
        QCOMPARE(player.header("Content-Security-Policy"), Pages::playerCsp());
        QVERIFY(player.header("Content-Type").rfind("text/html", 0) == 0);

        const Reply about = service.get(QString(), "/");
        QCOMPARE(about.status, 200);
        QCOMPARE(about.body, Pages::aboutHtml());

        const Reply post = service.post(QString(), "/player.html", QJsonObject());
        QCOMPARE(post.status, 405);
        QVERIFY(post.isJsonObject);
    }

    void localSignInOnLoopback()
    {
        TestService service;
        const Reply form = service.get(QString(), "/gauth/login.php");
        QCOMPARE(form.status, 200);
        QCOMPARE(form.body, Pages::localSignInForm(std::string()));

        const Reply bad =
            service.postRaw(QString(), "/gauth/login.php", "email=nobody", "application/x-www-form-urlencoded");
        QCOMPARE(bad.status, 400);
        QVERIFY(bad.header("Location").empty());

        const Reply signedIn = service.postRaw(QString(), "/gauth/login.php", "email=%20Someone%40Example.com",
                                               "application/x-www-form-urlencoded");
        QCOMPARE(signedIn.status, 302);
        const std::string location = signedIn.header("Location");
        QVERIFY2(location.rfind("clipvaneshelf://auth?", 0) == 0, location.c_str());
        // The page sends the browser to the same callback (the client decodes the header).
        QVERIFY(signedIn.body.find("clipvaneshelf://auth?token=") != std::string::npos);
        const QUrlQuery query = callbackQuery(location);
        QCOMPARE(query.queryItemValue(u"email"_qs, QUrl::FullyDecoded), u"someone@example.com"_qs);
        const QString token = query.queryItemValue(u"token"_qs, QUrl::FullyDecoded);
        QCOMPARE(service.get(token, "/api/family.php").status, 200);
    }

    void signInIsRefusedAwayFromLoopback()
    {
        TestService service([](ServiceConfig &config) { config.listenHost = u"0.0.0.0"_qs; });
        const Reply get = service.get(QString(), "/gauth/login.php");
        QCOMPARE(get.status, 403);
        QCOMPARE(get.body, Pages::signInRefused());
        const Reply post = service.postRaw(QString(), "/gauth/login.php", "email=a%40example.com",
                                           "application/x-www-form-urlencoded");
        QCOMPARE(post.status, 403);
        QVERIFY(post.header("Location").empty());
    }

    void googleSignIn_data() { idTokenReplyRows(); }
    void googleSignIn()
    {
        QFETCH(std::string, tokenReply);
        ExtrasFakeServer google;
        google.reply("POST", "/token", 200, tokenReply);
        TestService service([&](ServiceConfig &config) {
            config.listenHost = u"0.0.0.0"_qs; // Google works on any address
            config.publicOrigin = u"https://clipvane.example/"_qs;
            config.google = GoogleConfig{u"client"_qs, u"secret"_qs, google.qBaseUrl() + u"/auth"_qs,
                                         google.qBaseUrl() + u"/token"_qs, google.qBaseUrl() + u"/userinfo"_qs};
        });
        const Reply start = service.get(QString(), "/gauth/login.php");
        QCOMPARE(start.status, 302);
        const QUrl target(QString::fromStdString(start.header("Location")));
        QCOMPARE(target.toString(QUrl::RemoveQuery), google.qBaseUrl() + u"/auth"_qs);
        const QUrlQuery startQuery(target.query(QUrl::FullyDecoded));
        QCOMPARE(startQuery.queryItemValue(u"redirect_uri"_qs, QUrl::FullyDecoded),
                 u"https://clipvane.example/gauth/login.php"_qs);
        const QString state = startQuery.queryItemValue(u"state"_qs, QUrl::FullyDecoded);
        QVERIFY(!state.isEmpty());

        const std::string back = "/gauth/login.php?code=abc&state=" + QUrl::toPercentEncoding(state).toStdString();
        const Reply done = service.get(QString(), back);
        QCOMPARE(done.status, 302);
        const QUrlQuery query = callbackQuery(done.header("Location"));
        QCOMPARE(query.queryItemValue(u"email"_qs, QUrl::FullyDecoded), u"g.user@example.com"_qs);
        QCOMPARE(service.get(query.queryItemValue(u"token"_qs, QUrl::FullyDecoded), "/api/family.php").status, 200);

        // A state is good once; Google's own refusal is shown, not signed in.
        const Reply replay = service.get(QString(), back);
        QCOMPARE(replay.status, 400);
        QVERIFY(replay.header("Location").empty());
        const Reply refused = service.get(QString(), "/gauth/login.php?error=access_denied&state=x");
        QCOMPARE(refused.status, 400);
        QVERIFY(refused.body.find("access_denied") != std::string::npos);
        // No local form while Google is configured.
        QCOMPARE(
            service.postRaw(QString(), "/gauth/login.php", "email=a%40example.com", "application/x-www-form-urlencoded")
                .header("Location"),
            std::string());
    }

    void assistantAnswersFromWhatTheUserSees()
    {
        TestService service;
        const QString me = service.token(u"me@example.com"_qs);
        const QString family = service.token(u"family@example.com"_qs);
        const QString stranger = service.token(u"stranger@example.com"_qs);
        service.add(me, u"https://youtu.be/kitten1234"_qs, u"Funny kittens compilation"_qs);
        service.add(family, u"https://youtu.be/kitten5678"_qs, u"Kittens in boxes"_qs);
        service.add(stranger, u"https://youtu.be/kitten9999"_qs, u"Secret kittens of a stranger"_qs);
        service.share(family, u"me@example.com"_qs);

        const Reply reply = service.post(
            me, "/api/assistant.php",
            QJsonObject{{u"q"_qs, u"Which kittens videos do I have?"_qs},
                        {u"history"_qs, QJsonArray{QJsonObject{{u"q"_qs, u"hello"_qs}, {u"a"_qs, u"Hi!"_qs}}}}});
        QCOMPARE(reply.status, 200);
        QVERIFY(!reply.json.value(u"answer"_qs).toString().isEmpty());
        const QJsonArray videos = reply.json.value(u"videos"_qs).toArray();
        QVERIFY(!videos.isEmpty());
        QStringList ids;
        for (const QJsonValue &value : videos) {
            const QJsonObject video = value.toObject();
            QVERIFY(video.value(u"title"_qs).isString());
            QVERIFY(video.value(u"url"_qs).isString());
            QCOMPARE(video.value(u"year"_qs).toInt(), 2020);
            ids.append(video.value(u"youtube_id"_qs).toString());
        }
        QVERIFY(ids.contains(u"kitten1234"_qs));
        QVERIFY(!ids.contains(u"kitten9999"_qs));
    }

    void assistantRequestsAreValidated_data()
    {
        QTest::addColumn<QJsonObject>("body");
        QTest::newRow("no question") << QJsonObject{{u"history"_qs, QJsonArray()}};
        QTest::newRow("blank question") << QJsonObject{{u"q"_qs, u"   "_qs}};
        QTest::newRow("question not text") << QJsonObject{{u"q"_qs, 3}};
        QTest::newRow("history not a list") << QJsonObject{{u"q"_qs, u"x"_qs}, {u"history"_qs, u"x"_qs}};
        QTest::newRow("entry without answer")
            << QJsonObject{{u"q"_qs, u"x"_qs}, {u"history"_qs, QJsonArray{QJsonObject{{u"q"_qs, u"y"_qs}}}}};
        QTest::newRow("entry not an object") << QJsonObject{{u"q"_qs, u"x"_qs}, {u"history"_qs, QJsonArray{1}}};
        QTest::newRow("question too long") << QJsonObject{{u"q"_qs, QString(4001, u'q')}};
    }
    void assistantRequestsAreValidated()
    {
        QFETCH(QJsonObject, body);
        TestService service;
        const Reply reply = service.post(service.token(u"me@example.com"_qs), "/api/assistant.php", body);
        QCOMPARE(reply.status, 400);
        QVERIFY(reply.json.contains(u"error"_qs));
    }

    void telegramCodeWithoutBotIsUnavailable()
    {
        TestService service;
        const QString token = service.token(u"me@example.com"_qs);
        const Reply reply = service.post(token, "/api/telegram-code.php", QJsonObject());
        QCOMPARE(reply.status, 503);
        QVERIFY(reply.json.contains(u"error"_qs));
        QCOMPARE(service.postRaw(token, "/api/telegram-code.php", "[]").status, 400);
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
        const QString token = service.token(u"me@example.com"_qs);
        const Reply reply = service.post(token, "/api/telegram-code.php", QJsonObject());
        QCOMPARE(reply.status, 200);
        const QString link = reply.json.value(u"link"_qs).toString();
        const QString prefix = u"https://t.me/clipvane_test_bot?start="_qs;
        QVERIFY2(link.startsWith(prefix), qPrintable(link));
        const std::string code = link.mid(prefix.size()).toStdString();

        telegram.pushMessage(42, "/start " + code);
        QTRY_COMPARE(telegram.sent().size(), size_t(1));
        QVERIFY(service.service().accounts().accountForChat(42).has_value());
        // The code is spent: another chat cannot use it.
        telegram.pushMessage(43, "/start " + code);
        QTRY_COMPARE(telegram.sent().size(), size_t(2));
        QVERIFY(!service.service().accounts().accountForChat(43).has_value());

        telegram.pushMessage(42, "look at this https://youtu.be/tele123456 !");
        QTRY_COMPARE(telegram.sent().size(), size_t(3));
        QVERIFY(telegram.sent().back().text.find("Title of tele123456") != std::string::npos);
        PullMirror client(service, token);
        QCOMPARE(client.sync().row(u"tele123456"_qs).value(u"source"_qs).toString(), u"telegram"_qs);

        // A code expires after ten minutes.
        const Reply late = service.post(token, "/api/telegram-code.php", QJsonObject());
        const std::string lateCode = late.json.value(u"link"_qs).toString().mid(prefix.size()).toStdString();
        offset = 11 * 60 * 1000;
        QVERIFY(!service.service().accounts().linkTelegramChat(QString::fromStdString(lateCode), 44));
        offset = 0;
        QVERIFY(service.service().accounts().linkTelegramChat(QString::fromStdString(lateCode), 44));
    }
};

QTEST_GUILESS_MAIN(ApiRoutesTest)
#include "ApiRoutesTest.moc"
