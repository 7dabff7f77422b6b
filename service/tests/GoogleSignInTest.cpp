// Signing in with Google: the exchange with a local stand-in for Google, alone and through the
// service's sign-in page.

#include "outbound/GoogleSignIn.h"
#include "FakeHttpServer.h"
#include "TestService.h"

#include <QSet>
#include <QUrl>
#include <QUrlQuery>
#include <QtTest>

using namespace clipvane::service;
using namespace clipvane::service::test;
using clipvane::test::FakeHttpServer;
using clipvane::test::FakeReply;

namespace {

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

// A query item of an address such as clipvaneshelf://auth?token=…&email=….
QString queryItem(const QString &address, const QString &name)
{
    return QUrlQuery(QUrl(address).query(QUrl::FullyDecoded)).queryItemValue(name, QUrl::FullyDecoded);
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
    QList<clipvane::test::RecordedRequest> requests(const QByteArray &path) const
    {
        QList<clipvane::test::RecordedRequest> matching = server.requests();
        matching.removeIf([&](const auto &request) { return request.path != path; });
        return matching;
    }
};

} // namespace

class GoogleSignInTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

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
        row("bad client", R"({"error":"invalid_client"})", 200, kVerifiedInfo, refused.arg(401), 0, 401);
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
        TestDatabase database;
        const auto storage = database.open();
        SignInStates states(*storage);
        QVERIFY(!GoogleSignIn(GoogleConfig{kClientId, {}, u"a"_qs, u"t"_qs, u"u"_qs}, states).configured());
        QVERIFY(std::holds_alternative<std::string>(GoogleSignIn({}, states).complete(u"s"_qs, u"c"_qs, kRedirect)));
        const QString base = u"http://127.0.0.1:1"_qs; // nothing listens there
        GoogleSignIn signIn(GoogleConfig{kClientId, u"s"_qs, base + u"/auth"_qs, base + u"/token"_qs, base + u"/u"_qs},
                            states);
        QVERIFY(signIn.configured());
        const QString state = queryItem(signIn.authorisationUrl(kRedirect), u"state"_qs);
        QVERIFY(std::get<std::string>(signIn.complete(state, u"code"_qs, kRedirect)).starts_with("Could not reach"));
    }

    // Through the service's sign-in page, on any listening address: to Google as Google wants
    // it, the code exchanged in a form, and back to the application's callback with a token,
    // the application's state carried through. A forged state never reaches Google and spoils
    // nothing; a state is good once.
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
        for (const auto &[name, value] :
             {std::pair(u"response_type"_qs, u"code"_qs), std::pair(u"client_id"_qs, kClientId),
              std::pair(u"redirect_uri"_qs, redirect), std::pair(u"scope"_qs, u"openid email"_qs)})
            QCOMPARE(queryItem(start, name), value);
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
        const QUrlQuery form(QString::fromUtf8(exchange.body));
        for (const auto &[name, value] :
             {std::pair(u"grant_type"_qs, u"authorization_code"_qs), std::pair(u"code"_qs, u"code/with+odd=chars"_qs),
              std::pair(u"client_id"_qs, kClientId), std::pair(u"client_secret"_qs, u"s3cret"_qs),
              std::pair(u"redirect_uri"_qs, redirect)})
            QCOMPARE(form.queryItemValue(name, QUrl::FullyDecoded), value);

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

QTEST_GUILESS_MAIN(GoogleSignInTest)
#include "GoogleSignInTest.moc"
