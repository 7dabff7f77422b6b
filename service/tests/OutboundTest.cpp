// The service's calls out, each against a local stand-in: the metadata providers and the
// outbound HTTP client, and Google's sign-in (alone and through the service's sign-in page).

#include "Duration.h"
#include "TestService.h"
#include "outbound/GoogleSignIn.h"
#include "outbound/MetadataProvider.h"
#include "outbound/OEmbedProvider.h"
#include "outbound/OutboundHttp.h"
#include "outbound/YouTubeDataProvider.h"

#include <QDateTime>
#include <QSet>
#include <QTimeZone>
#include <QtTest>

#include <future>
#include <stdexcept>
#include <tuple>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

const QByteArray kGoodVideos = R"({"kind":"youtube#videoListResponse","items":[{"id":"dQw4w9WgXcQ",
  "snippet":{"title":"Never Gonna Give You Up","publishedAt":"2009-10-25T06:57:33Z"},
  "contentDetails":{"duration":"PT3M33S"}}]})";

// Control characters, a direction override, and a title far too long (the rest follows).
const QByteArray kDirtyTitle = R"({"title":"\u0007Line\none\u202Eevil\t )";

// "title|date|duration", or "none".
QString shown(const std::optional<VideoMetadata> &metadata)
{
    return metadata ? QStringList{metadata->title, metadata->uploadDate, metadata->duration}.join(u'|') : u"none"_qs;
}

// The providers as the service makes them, at local fakes: with a key the Data API with
// oEmbed behind it, without one oEmbed alone.
struct Providers
{
    explicit Providers(bool withKey = true)
    {
        if (!dataApi.start() || !oembed.start())
            qFatal("the fake providers found no free port");
        MetadataConfig config;
        config.youtubeApiKey = withKey ? u"KEY-123"_qs : QString();
        config.youtubeApiBase = dataApi.url(u"/youtube/v3"_qs).toString();
        config.oembedBase = oembed.url(u"/oembed/"_qs).toString();
        config.timeout = std::chrono::milliseconds(2000);
        provider = makeMetadataProvider(config);
    }
    FakeHttpServer dataApi;
    FakeHttpServer oembed;
    std::unique_ptr<MetadataProvider> provider;
};

// The path and the named query items of each request, as "path a b".
QStringList asked(const FakeHttpServer &server, const QStringList &names)
{
    QStringList requests;
    for (const RecordedRequest &request : server.requests()) {
        QStringList parts{QString::fromLatin1(request.path)};
        const QUrlQuery query(QString::fromLatin1(request.query));
        for (const QString &name : names)
            parts.append(query.queryItemValue(name, QUrl::FullyDecoded));
        requests.append(parts.join(u' '));
    }
    return requests;
}

// Who answers, by the row name's prefix ("data": the Data API; "fallback": oEmbed after the
// Data API refused; "oembed": oEmbed alone, without a key), with what, and the metadata reported.
void replyRows()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("metadata");
    QTest::addColumn<int>("delayMs");
    const auto row = [](const char *name, int status, const QByteArray &body, const char *metadata, int delayMs = 0) {
        QTest::newRow(name) << status << body << QString::fromUtf8(metadata) << delayMs;
    };
    row("data: good reply", 200, kGoodVideos, "Never Gonna Give You Up|2009-10-25|3:33");
    row("data: too slow", 200, kGoodVideos, "none", 10000);
    row("data: no contentDetails", 200, R"({"items":[{"snippet":{"title":"T","publishedAt":"2020-01-02T00:00:00Z"}}]})",
        "T|2020-01-02|");
    row("data: no snippet", 200, R"({"items":[{"contentDetails":{"duration":"PT1H"}}]})", "||1:00:00");
    row("data: bad date and duration", 200,
        R"({"items":[{"snippet":{"title":"T","publishedAt":"2020-13-45"},"contentDetails":{"duration":"soon"}}]})",
        "T||");
    row("data: unknown video", 200, R"({"items":[]})", "none");
    row("data: items not a list", 200, R"({"items":{"a":1}})", "none");
    row("data: fields of wrong types", 200,
        R"({"items":[{"snippet":{"title":5,"publishedAt":[]},"contentDetails":{"duration":7}}]})", "none");
    row("data: not JSON", 200, "<html>quota</html>", "none");
    row("data: truncated JSON", 200, R"({"items":[{"snippet":{"title":"T")", "none");
    row("data: JSON array", 200, "[1,2,3]", "none");
    row("data: server error", 500, kGoodVideos, "none");
    row("data: quota exceeded", 403, R"({"error":{"code":403}})", "none");
    row("oembed: title only", 200, R"({"title":"Café \"Paris\" tour","author_name":"x","html":"<iframe>"})",
        "Café \"Paris\" tour||");
    row("fallback: title from oEmbed", 200, R"({"title":"From oEmbed"})", "From oEmbed||");
    row("fallback: oEmbed fails too", 500, "{}", "none");
    row("oembed: not found", 404, "Not Found", "none");
    row("oembed: server error", 500, R"({"title":"x"})", "none");
    row("oembed: garbage", 200, QByteArray("\x00\xff garbage", 10), "none");
    row("oembed: no title", 200, R"({"author_name":"x"})", "none");
    row("oembed: blank title", 200, R"({"title":"  \n\t "})", "none");
    row("oembed: title not text", 200, R"({"title":{"nested":true}})", "none");
}

const QString kClientId = u"client-1.apps.example"_qs;
const QString kRedirect = u"http://127.0.0.1:8470/gauth/login.php"_qs;
const QByteArray kVerifiedInfo = R"({"sub":"1","email":"bob@example.com","email_verified":true})";

// An unsigned JSON Web Token with the given payload (the signature part is filler).
QByteArray idToken(const QByteArray &payload)
{
    QByteArrayList parts;
    for (const QByteArray &part : {QByteArray(R"({"alg":"RS256","typ":"JWT"})"), payload, QByteArray("signature")})
        parts.append(part.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
    return parts.join('.');
}

QByteArray tokenReply(const QByteArray &idTokenPayload)
{
    QByteArray reply = R"({"access_token":"at-1","token_type":"Bearer","expires_in":3599)";
    if (!idTokenPayload.isEmpty())
        reply += R"(,"id_token":")" + idToken(idTokenPayload) + "\"";
    return reply + "}";
}

QByteArray payload(const QByteArray &email, const QByteArray &verified, const QByteArray &audience = {})
{
    return R"({"aud":")" + (audience.isEmpty() ? kClientId.toUtf8() : audience) + R"(","sub":"1","email":")" + email +
           R"(","email_verified":)" + verified + "}";
}

const QByteArray kAdaReply = tokenReply(payload("ada@example.com", "true"));

GoogleConfig configAt(FakeHttpServer &google)
{
    if (!google.start())
        qFatal("the fake Google found no free port");
    const QString base = google.url().toString();
    return GoogleConfig{kClientId, u"s3cret"_qs, base + u"/auth"_qs, base + u"/token"_qs, base + u"/userinfo"_qs};
}

// The named items of a query or form as "a|b|c".
QString items(const QString &query, const char *names)
{
    QStringList values;
    for (const QString &name : QString::fromLatin1(names).split(u' '))
        values.append(QUrlQuery(query).queryItemValue(name, QUrl::FullyDecoded));
    return values.join(u'|');
}

// A fake Google and a sign-in that talks to it; outcomes read as the address or "error: …".
struct Google
{
    FakeHttpServer server;
    TestDatabase database;
    std::unique_ptr<Storage> storage = database.open();
    SignInStates states{*storage};
    GoogleSignIn signIn{configAt(server), states};

    QString start() { return queryItem(signIn.authorisationUrl(kRedirect), u"state"_qs); }
    QString complete(const QString &state, const QString &code = u"code"_qs)
    {
        const auto outcome = signIn.complete(state, code, kRedirect);
        const auto *error = std::get_if<std::string>(&outcome);
        return error ? u"error: "_qs + QString::fromStdString(*error) : std::get<QString>(outcome);
    }
    QList<RecordedRequest> requests(const QByteArray &path) const
    {
        QList<RecordedRequest> matching = server.requests();
        matching.removeIf([&](const auto &request) { return request.path != path; });
        return matching;
    }
};

} // namespace

class OutboundTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // The service converts YouTube's lengths once, into the text the library stores; the shared
    // reader gives that text back the seconds the ISO form meant.
    void isoDuration_data()
    {
        QTest::addColumn<QString>("iso");
        QTest::addColumn<QString>("clock"); // empty: none
        QTest::addColumn<qint64>("seconds");
        // Hours are not wrapped into days; seconds overflow into minutes; fractions are dropped.
        for (const auto &[iso, clock, seconds] :
             {std::tuple(u"PT1H2M3S"_qs, u"1:02:03"_qs, 3723), std::tuple(u"PT45S"_qs, u"0:45"_qs, 45),
              std::tuple(u"P1DT2H"_qs, u"26:00:00"_qs, 93600), std::tuple(u"P0D"_qs, u"0:00"_qs, 0),
              std::tuple(u"PT100H0M1S"_qs, u"100:00:01"_qs, 360001), std::tuple(u"P1W"_qs, u"168:00:00"_qs, 604800),
              std::tuple(u"PT90S"_qs, u"1:30"_qs, 90), std::tuple(u"PT1.5S"_qs, u"0:01"_qs, 1)})
            QTest::addRow("%s", qPrintable(iso)) << iso << clock << qint64(seconds);
        for (const QString &bad : {QString(), u"P"_qs, u"PT"_qs, u"P1DT"_qs, u"P1Y"_qs, u"P1M"_qs, u"PT-1S"_qs,
                                   u"T1H"_qs, u"pt1h"_qs, u"PT3S2M"_qs, u"PT99999999999999999999H"_qs, u"PT1Mx"_qs})
            QTest::addRow("refused: %s", qPrintable(bad)) << bad << QString() << qint64(0);
    }
    void isoDuration()
    {
        QFETCH(QString, iso);
        QFETCH(QString, clock);
        QFETCH(qint64, seconds);
        const auto converted = YouTubeDataProvider::clockFromIsoDuration(iso);
        QCOMPARE(converted.value_or(QString()), clock);
        QCOMPARE(converted.has_value(), !clock.isEmpty());
        if (converted)
            QCOMPARE(clipvane::Duration::seconds(*converted), std::optional<qint64>(seconds));
    }

    void replies_data() { replyRows(); }
    void replies()
    {
        const QString provider = QString::fromLatin1(QTest::currentDataTag()).section(u':', 0, 0);
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, metadata);
        QFETCH(int, delayMs);
        const bool data = provider == u"data";
        Providers fakes(provider != u"oembed");
        FakeReply reply = FakeReply::json(data ? body : "{}", data ? status : 403);
        reply.delay = std::chrono::milliseconds(delayMs);
        fakes.dataApi.setDefaultReply(reply);
        fakes.oembed.setDefaultReply(data ? FakeReply::json("Not Found", 404) : FakeReply::json(body, status));
        QCOMPARE(shown(fakes.provider->fetch(u"abc-DEF_123"_qs, u"https://youtu.be/abc-DEF_123?t=5"_qs)), metadata);
        // The Data API is asked with the key; oEmbed, when the Data API gave nothing, for the
        // canonical watch address, whatever link the user saved.
        const QStringList dataAsked = asked(fakes.dataApi, {u"part"_qs, u"id"_qs, u"key"_qs});
        QCOMPARE(dataAsked, provider == u"oembed" ? QStringList()
                                                  : QStringList{u"/youtube/v3/videos snippet,contentDetails "
                                                                u"abc-DEF_123 KEY-123"_qs});
        const QStringList oembedAsked = asked(fakes.oembed, {u"url"_qs, u"format"_qs});
        QCOMPARE(oembedAsked, data && metadata != u"none"
                                  ? QStringList()
                                  : QStringList{u"/oembed https://www.youtube.com/watch?v=abc-DEF_123 json"_qs});
    }

    void foreignAndMalformedIDsAskNobody()
    {
        Providers fakes;
        fakes.dataApi.setDefaultReply(FakeReply::json(kGoodVideos));
        fakes.oembed.setDefaultReply(FakeReply::json(R"({"title":"x"})"));
        for (const QString &id : {u"x-1a2b3c"_qs, QString(), u"../videos?id=1"_qs, u"a b"_qs, u"id&key=other"_qs})
            QVERIFY2(!fakes.provider->fetch(id, u"https://example.com/page"_qs), qPrintable(id));
        QCOMPARE(fakes.dataApi.requestCount() + fakes.oembed.requestCount(), 0);
    }

    void titlesAreCleaned()
    {
        const QByteArray body = kDirtyTitle + QByteArray(5000, 'a') + "\"}";
        const QString title = OEmbedProvider::parseReply(body).value_or(VideoMetadata{}).title;
        QVERIFY(title.startsWith(u"Line one evil aaa"_qs));
        QVERIFY(title.size() <= 500);
        QVERIFY(!title.contains(QChar(0x202E)));
    }

    void outboundBoundsTheReply()
    {
        FakeHttpServer server;
        QVERIFY(server.start());
        server.setDefaultReply(FakeReply::json(QByteArray(64 * 1024, 'x')));
        HttpRequest request;
        request.url = server.url(u"/big"_qs).toString().toStdString();
        request.maxReplyBytes = 1024;
        const HttpResult bounded = httpSend(request);
        QVERIFY(bounded.status == 0 && bounded.body.empty() && !bounded.error.empty());
        request.maxReplyBytes = 64 * 1024;
        const HttpResult whole = httpSend(request);
        QCOMPARE(whole.status, 200);
        QCOMPARE(whole.body.size(), std::size_t(64 * 1024));
    }

    void outboundRedirects()
    {
        FakeHttpServer first;
        FakeHttpServer second;
        QVERIFY(first.start() && second.start());
        const QByteArray end = second.url(u"/end"_qs).toEncoded();
        first.setHandler([end](const RecordedRequest &request) {
            FakeReply redirect;
            redirect.status = request.path == "/next" ? 307 : 302;
            redirect.headers = {{"Location", request.path == "/start"  ? "/next"
                                             : request.path == "/next" ? end
                                                                       : "/loop"}};
            return redirect;
        });
        second.setDefaultReply(FakeReply::json("done"));

        const std::string start = first.url(u"/start"_qs).toString().toStdString();
        const HttpResult followed = httpGet(start, {{"Authorization", "Bearer secret"}, {"X-Other", "kept"}}, 5);
        QCOMPARE(followed.status, 200);
        QCOMPARE(followed.body, std::string("done"));
        // The credentials were for the first origin only.
        QCOMPARE(first.lastRequest().path, "/next");
        QCOMPARE(first.lastRequest().header("Authorization"), "Bearer secret");
        QCOMPARE(second.requestCount(), 1);
        QCOMPARE(second.lastRequest().path, "/end");
        QVERIFY(!second.lastRequest().hasHeader("Authorization"));
        QCOMPARE(second.lastRequest().header("X-Other"), "kept");

        first.clearRequests();
        QCOMPARE(httpGet(first.url(u"/loop"_qs).toString().toStdString(), {}, 5).status, 0);
        QVERIFY(first.requestCount() <= 4);
    }

    void outboundRefusesBadAddresses()
    {
        for (const char *url : {"ftp://127.0.0.1/x", "file:///etc/passwd", "http://", "no scheme",
                                "http://127.0.0.1:99999/", "http://user@127.0.0.1/", "http://127.0.0.1/a b",
                                "http://127.0.0.1/a\r\nX-Injected: 1", "http://bad host/", "http://127.0.0.1:1/"}) {
            const HttpResult result = httpGet(url, {}, 2);
            QVERIFY2(result.status == 0 && !result.error.empty(), url);
        }
        QCOMPARE(urlEncode("a b&c=d/é~"), std::string("a%20b%26c%3Dd%2F%C3%A9~"));
    }

    void outboundCancel()
    {
        FakeHttpServer server;
        QVERIFY(server.start());
        FakeReply late = FakeReply::json("late");
        late.delay = std::chrono::seconds(60); // cut short when the server stops
        server.setDefaultReply(late);
        HttpCancel cancel;
        HttpRequest request;
        request.url = server.url(u"/slow"_qs).toString().toStdString();
        request.timeout = std::chrono::seconds(60);
        request.cancel = &cancel;
        auto pending = std::async(std::launch::async, [&request] { return httpSend(request); });
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(), 1, 10000);
        cancel.cancel();
        // Generous: only a call that ignored the cancel would still be waiting for the held reply.
        QCOMPARE(pending.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        QCOMPARE(pending.get().error, std::string("cancelled"));
        // A cancelled handle stays cancelled: no later call goes out.
        QCOMPARE(httpSend(request).error, std::string("cancelled"));
        QCOMPARE(server.requestCount(), 1);
    }

    // Every state is new and unguessable: 128 bits in base64url need at least 22 characters.
    void statesAreFresh()
    {
        Google google;
        QSet<QString> states;
        for (int i = 0; i < 200; ++i) {
            const QString state = google.start();
            QVERIFY(QRegularExpression(u"^[A-Za-z0-9_-]{22,}$"_qs).match(state).hasMatch());
            states.insert(state);
        }
        QCOMPARE(states.size(), 200);
        QCOMPARE(google.server.requestCount(), 0);
    }

    // The ID token is used when it is for this client and names a verified address; otherwise
    // the user-info endpoint is asked; an address is never taken unverified.
    void idTokenOutcomes_data()
    {
        QTest::addColumn<int>("tokenStatus");
        QTest::addColumn<QByteArray>("tokenBody");
        QTest::addColumn<int>("userInfoStatus");
        QTest::addColumn<QByteArray>("userInfoBody");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<int>("userInfoCalls");
        const auto row = [](const char *name, const QByteArray &token, int infoStatus, const QByteArray &info,
                            const QString &outcome, int infoCalls, int tokenStatus = 200) {
            QTest::newRow(name) << tokenStatus << token << infoStatus << info << outcome << infoCalls;
        };
        const QString bob = u"bob@example.com"_qs;
        const QString unverified = u"error: Your Google account's e-mail address is not verified"_qs;
        const QString noAddress = u"error: Google did not tell us your e-mail address"_qs;
        const QByteArray unverifiedAda = tokenReply(payload("ada@example.com", "false"));
        row("verified as text", tokenReply(payload("ada@example.com", "\"true\"")), 200, kVerifiedInfo,
            u"ada@example.com"_qs, 0);
        row("audience list",
            tokenReply(R"({"aud":["other","client-1.apps.example"],"email":"ada@example.com","email_verified":true})"),
            200, kVerifiedInfo, u"ada@example.com"_qs, 0);
        row("no id token: user info", tokenReply({}), 200, kVerifiedInfo, bob, 1);
        row("token for another client: user info",
            tokenReply(R"({"aud":"someone-else","email":"eve@example.com","email_verified":true})"), 200, kVerifiedInfo,
            bob, 1);
        row("garbage id token: user info", R"({"access_token":"at","id_token":"a.%%%.c"})", 200, kVerifiedInfo, bob, 1);
        row("unverified everywhere", unverifiedAda, 200, R"({"email":"ada@example.com","email_verified":false})",
            unverified, 1);
        row("unverified, user info silent", unverifiedAda, 500, "{}", unverified, 1);
        row("user info without verification", tokenReply({}), 200, R"({"email":"bob@example.com"})", unverified, 1);
        row("no address anywhere", tokenReply(R"({"aud":"client-1.apps.example"})"), 200, R"({"sub":"1"})", noAddress,
            1);
        row("not an address", tokenReply(payload("not-an-address", "true")), 500, {}, noAddress, 1);
        row("user info garbage", tokenReply({}), 200, "<html>", noAddress, 1);
        row("token reply garbage", "not json", 200, kVerifiedInfo, noAddress, 0);
        const QString refused = u"error: Google did not accept the sign-in (status %1)"_qs;
        row("invalid grant", R"({"error":"invalid_grant"})", 200, kVerifiedInfo, refused.arg(400), 0, 400);
        row("token server error", kAdaReply, 200, kVerifiedInfo, refused.arg(500), 0, 500);
    }
    void idTokenOutcomes()
    {
        QFETCH(int, tokenStatus);
        QFETCH(QByteArray, tokenBody);
        QFETCH(int, userInfoStatus);
        QFETCH(QByteArray, userInfoBody);
        QFETCH(QString, outcome);
        QFETCH(int, userInfoCalls);
        Google google;
        google.server.enqueue("/token", FakeReply::json(tokenBody, tokenStatus));
        google.server.enqueue("/userinfo", FakeReply::json(userInfoBody, userInfoStatus));
        const QString state = google.start();
        const QString actual = google.complete(state);
        QVERIFY2(actual.startsWith(outcome), qPrintable(actual));
        // Whatever happened, the state is used up: a retry starts a fresh sign-in.
        QVERIFY(google.complete(state).contains(u"expired or was already used"_qs));
        QCOMPARE(google.requests("/token").size(), 1);
        const auto infoRequests = google.requests("/userinfo");
        QCOMPARE(infoRequests.size(), userInfoCalls);
        for (const auto &request : infoRequests)
            QVERIFY(request.header("Authorization").startsWith("Bearer at"));
    }

    void unconfiguredOrUnreachableGoogle()
    {
        Google google; // for its states
        SignInStates &states = google.states;
        QVERIFY(!GoogleSignIn(GoogleConfig{kClientId, {}, u"a"_qs, u"t"_qs, u"u"_qs}, states).configured());
        QVERIFY(std::holds_alternative<std::string>(GoogleSignIn({}, states).complete(u"s"_qs, u"c"_qs, kRedirect)));
        const QString base = u"http://127.0.0.1:1"_qs; // nothing listens there
        GoogleSignIn signIn(GoogleConfig{kClientId, u"s"_qs, base + u"/auth"_qs, base + u"/token"_qs, base + u"/u"_qs},
                            states);
        QVERIFY(signIn.configured());
        const QString state = queryItem(signIn.authorisationUrl(kRedirect), u"state"_qs);
        QVERIFY(std::get<std::string>(signIn.complete(state, u"code"_qs, kRedirect)).starts_with("Could not reach"));
    }

    // Through the service's sign-in page on any address: to Google, the code exchanged, back to
    // the application with a token and its state; a forged state never reaches Google.
    void serviceSignsInThroughGoogle()
    {
        FakeHttpServer google;
        google.setDefaultReply(FakeReply::json(tokenReply(payload("G.User@Example.com", "true"))));
        TestService service([&](ServiceConfig &config) {
            config.listenHost = u"0.0.0.0"_qs;
            config.publicOrigin = u"https://clipvane.example/"_qs;
            config.google = configAt(google);
        });
        const QString redirect = u"https://clipvane.example/gauth/login.php"_qs;
        const QString start =
            QString::fromStdString(service.get({}, "/gauth/login.php?state=app-1").header("Location"));
        QCOMPARE(QUrl(start).toString(QUrl::RemoveQuery), google.url(u"/auth"_qs).toString());
        QCOMPARE(items(QUrl(start).query(), "response_type client_id redirect_uri scope"),
                 u"code|"_qs + kClientId + u'|' + redirect + u"|openid email"_qs);
        const QString state = queryItem(start, u"state"_qs);
        for (const QString &forged : {u"forged"_qs, state + u"x"_qs, state.left(state.size() - 1)})
            QCOMPARE(service.get({}, "/gauth/login.php?code=abc&state=" + QUrl::toPercentEncoding(forged).toStdString())
                         .status,
                     400);
        QCOMPARE(google.requestCount(), 0);

        const std::string back =
            "/gauth/login.php?code=code%2Fwith%2Bodd%3Dchars&state=" + QUrl::toPercentEncoding(state).toStdString();
        const Reply done = service.get({}, back);
        QCOMPARE(done.status, 302);
        const QString location = QString::fromStdString(done.header("Location"));
        QCOMPARE(queryItem(location, u"email"_qs), u"g.user@example.com"_qs);
        QCOMPARE(queryItem(location, u"state"_qs), u"app-1"_qs);
        QCOMPARE(service.get(queryItem(location, u"token"_qs), "/api/family.php").status, 200);
        QCOMPARE(google.requestCount(), 1);
        const auto exchange = google.lastRequest();
        QCOMPARE(exchange.path, "/token");
        QCOMPARE(exchange.header("Content-Type"), "application/x-www-form-urlencoded");
        QCOMPARE(items(QString::fromUtf8(exchange.body), "grant_type code client_id client_secret redirect_uri"),
                 u"authorization_code|code/with+odd=chars|"_qs + kClientId + u"|s3cret|"_qs + redirect);

        // Used once; Google's own refusal is shown, not signed in; no local form.
        const Reply replay = service.get({}, back);
        QCOMPARE(replay.status, 400);
        QVERIFY(replay.header("Location").empty());
        const Reply refused = service.get({}, "/gauth/login.php?error=access_denied&state=x");
        QCOMPARE(refused.status, 400);
        QVERIFY(refused.body.find("access_denied") != std::string::npos);
        const Reply local = service.send("POST", {}, "/gauth/login.php", "email=a%40example.com", {},
                                         "application/x-www-form-urlencoded");
        QVERIFY(local.header("Location").empty());
    }
};

QTEST_GUILESS_MAIN(OutboundTest)
#include "OutboundTest.moc"
