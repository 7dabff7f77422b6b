#include "outbound/GoogleSignIn.h"
#include "ExtrasFakeServer.h"
#include "TestService.h"

#include <QSet>
#include <QUrl>
#include <QUrlQuery>
#include <QtTest>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

const QString kClientId = u"client-1.apps.example"_qs;
const QString kRedirect = u"http://127.0.0.1:8470/gauth/login.php"_qs;
const QByteArray kVerifiedInfo = R"({"sub":"1","email":"bob@example.com","email_verified":true})";

std::string tokenReply(const std::string &idTokenPayload)
{
    std::string reply = R"({"access_token":"at-1","token_type":"Bearer","expires_in":3599)";
    if (!idTokenPayload.empty())
        reply += R"(,"id_token":")" + fakeIdToken(idTokenPayload) + "\"";
    return reply + "}";
}

std::string payload(const std::string &email, const std::string &verified, const std::string &audience = "")
{
    const std::string aud = audience.empty() ? kClientId.toStdString() : audience;
    return R"({"aud":")" + aud + R"(","sub":"1","email":")" + email + R"(","email_verified":)" + verified + "}";
}

const std::string kAdaReply = tokenReply(payload("ada@example.com", "true"));

// A fake Google and a sign-in that talks to it; outcomes read as the address or "error: …".
struct Google
{
    ExtrasFakeServer server;
    TestDatabase database;
    std::unique_ptr<Storage> storage = database.open();
    SignInStates states{*storage};
    GoogleSignIn signIn{GoogleConfig{kClientId, u"s3cret"_qs, server.qBaseUrl() + u"/auth"_qs,
                                     server.qBaseUrl() + u"/token"_qs, server.qBaseUrl() + u"/userinfo"_qs},
                        states};

    QString start() { return QUrlQuery(QUrl(signIn.authorisationUrl(kRedirect))).queryItemValue(u"state"_qs); }
    QString complete(const QString &state, const QString &code = u"code"_qs)
    {
        const auto outcome = signIn.complete(state, code, kRedirect);
        const auto *error = std::get_if<std::string>(&outcome);
        return error ? u"error: "_qs + QString::fromStdString(*error) : std::get<QString>(outcome);
    }
};

void outcomeRow(const char *name, const std::string &token, int infoStatus, const QByteArray &info,
                const QString &outcome, int infoCalls, int tokenStatus = 200)
{
    QTest::newRow(name) << tokenStatus << QByteArray::fromStdString(token) << infoStatus << info << outcome
                        << infoCalls;
}

} // namespace

class GoogleSignInTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void authorisationUrlCarriesTheRequest()
    {
        Google google;
        const QUrl url(google.signIn.authorisationUrl(kRedirect));
        QCOMPARE(url.toString(QUrl::RemoveQuery), google.server.qBaseUrl() + u"/auth"_qs);
        const QUrlQuery query(url);
        for (const auto &[name, value] :
             {std::pair(u"response_type"_qs, u"code"_qs), std::pair(u"client_id"_qs, kClientId),
              std::pair(u"redirect_uri"_qs, kRedirect), std::pair(u"scope"_qs, u"openid email"_qs)})
            QCOMPARE(query.queryItemValue(name, QUrl::FullyDecoded), value);
        QVERIFY(google.server.requests().empty());

        // 128 bits in base64url need at least 22 characters; every state is new.
        QSet<QString> states;
        for (int i = 0; i < 200; ++i) {
            const QString state = google.start();
            QVERIFY(QRegularExpression(u"^[A-Za-z0-9_-]{22,}$"_qs).match(state).hasMatch());
            states.insert(state);
        }
        QCOMPARE(states.size(), 200);
    }

    void goodFlowFromIdToken()
    {
        Google google;
        google.server.reply("POST", "/token", 200, kAdaReply);
        QCOMPARE(google.complete(google.start(), u"code/with+odd=chars"_qs), u"ada@example.com"_qs);

        const auto exchanges = google.server.requests("/token");
        QCOMPARE(exchanges.size(), std::size_t(1));
        for (const auto &[name, value] :
             {std::pair("grant_type", std::string("authorization_code")),
              std::pair("code", std::string("code/with+odd=chars")), std::pair("client_id", kClientId.toStdString()),
              std::pair("client_secret", std::string("s3cret")), std::pair("redirect_uri", kRedirect.toStdString())})
            QCOMPARE(exchanges.front().get_param_value(name), value);
        QCOMPARE(exchanges.front().get_header_value("Content-Type"), std::string("application/x-www-form-urlencoded"));
        QCOMPARE(google.server.count("/userinfo"), std::size_t(0));
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
        const QString bob = u"bob@example.com"_qs;
        const QString unverified = u"error: Your Google account's e-mail address is not verified"_qs;
        const QString noAddress = u"error: Google did not tell us your e-mail address"_qs;
        const std::string unverifiedAda = tokenReply(payload("ada@example.com", "false"));
        outcomeRow("verified as text", tokenReply(payload("ada@example.com", "\"true\"")), 200, kVerifiedInfo,
                   u"ada@example.com"_qs, 0);
        outcomeRow("audience list", tokenReply(R"({"aud":["other","client-1.apps.example"],"email":"ada@example.com",
                                  "email_verified":true})"),
                   200, kVerifiedInfo, u"ada@example.com"_qs, 0);
        outcomeRow("no id token: user info", tokenReply(""), 200, kVerifiedInfo, bob, 1);
        outcomeRow("token for another client: user info",
                   tokenReply(payload("eve@example.com", "true", "someone-else")), 200, kVerifiedInfo, bob, 1);
        outcomeRow("garbage id token: user info", R"({"access_token":"at","id_token":"a.%%%.c"})", 200, kVerifiedInfo,
                   bob, 1);
        outcomeRow("unverified everywhere", unverifiedAda, 200, R"({"email":"ada@example.com","email_verified":false})",
                   unverified, 1);
        outcomeRow("unverified, user info silent", unverifiedAda, 500, "{}", unverified, 1);
        outcomeRow("user info without verification", tokenReply(""), 200, R"({"email":"bob@example.com"})", unverified,
                   1);
        outcomeRow("no address anywhere", tokenReply(R"({"aud":"client-1.apps.example"})"), 200, R"({"sub":"1"})",
                   noAddress, 1);
        outcomeRow("not an address", tokenReply(payload("not-an-address", "true")), 500, {}, noAddress, 1);
        outcomeRow("user info garbage", tokenReply(""), 200, "<html>", noAddress, 1);
        outcomeRow("token reply garbage", "not json", 200, kVerifiedInfo, noAddress, 0);
        const QString refused = u"error: Google did not accept the sign-in (status %1)"_qs;
        outcomeRow("invalid grant", R"({"error":"invalid_grant"})", 200, kVerifiedInfo, refused.arg(400), 0, 400);
        outcomeRow("bad client", R"({"error":"invalid_client"})", 200, kVerifiedInfo, refused.arg(401), 0, 401);
        outcomeRow("token server error", kAdaReply, 200, kVerifiedInfo, refused.arg(500), 0, 500);
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
        google.server.reply("POST", "/token", tokenStatus, tokenBody.toStdString());
        google.server.reply("GET", "/userinfo", userInfoStatus, userInfoBody.toStdString());
        const QString state = google.start();
        const QString actual = google.complete(state);
        QVERIFY2(actual.startsWith(outcome), qPrintable(actual));
        // Whatever happened, the state is used up: a retry starts a fresh sign-in.
        QVERIFY(google.complete(state).contains(u"expired or was already used"_qs));
        QCOMPARE(google.server.count("/token"), std::size_t(1));
        const auto infoRequests = google.server.requests("/userinfo");
        QCOMPARE(int(infoRequests.size()), userInfoCalls);
        for (const httplib::Request &request : infoRequests)
            QVERIFY(request.get_header_value("Authorization").starts_with("Bearer at"));
    }

    void forgedStatesNeverReachGoogle()
    {
        Google google;
        google.server.reply("POST", "/token", 200, kAdaReply);
        const QString real = google.start();
        for (const QString &state : {QString(), u"forged"_qs, real + u"x"_qs, real.left(real.size() - 1)})
            QVERIFY(google.complete(state).startsWith(u"error: "_qs));
        QCOMPARE(google.server.count("/token"), std::size_t(0));
        QCOMPARE(google.complete(real), u"ada@example.com"_qs); // still good after the forgeries
    }

    void unconfiguredOrUnreachableGoogle()
    {
        TestDatabase database;
        const auto storage = database.open();
        SignInStates states(*storage);
        QVERIFY(!GoogleSignIn(GoogleConfig{kClientId, {}, u"a"_qs, u"t"_qs, u"u"_qs}, states).configured());
        QVERIFY(std::holds_alternative<std::string>(GoogleSignIn({}, states).complete(u"s"_qs, u"c"_qs, kRedirect)));
        const QString base = u"http://127.0.0.1:%1"_qs.arg(closedPort());
        GoogleSignIn signIn(GoogleConfig{kClientId, u"s"_qs, base + u"/auth"_qs, base + u"/token"_qs, base + u"/u"_qs},
                            states);
        QVERIFY(signIn.configured());
        const QString state = QUrlQuery(QUrl(signIn.authorisationUrl(kRedirect))).queryItemValue(u"state"_qs);
        QVERIFY(std::get<std::string>(signIn.complete(state, u"code"_qs, kRedirect)).starts_with("Could not reach"));
    }
};

QTEST_GUILESS_MAIN(GoogleSignInTest)
#include "GoogleSignInTest.moc"
