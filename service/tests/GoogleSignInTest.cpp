#include "GoogleSignIn.h"
#include "ExtrasFakeServer.h"

#include <QSet>
#include <QUrl>
#include <QUrlQuery>
#include <QtTest>

using namespace clipvane::service;
using clipvane::service::test::ExtrasFakeServer;
using clipvane::service::test::fakeIdToken;

namespace {

const QString kClientId = u"client-1.apps.example"_qs;
const QString kRedirect = u"http://127.0.0.1:8470/gauth/login.php"_qs;

GoogleConfig configFor(const ExtrasFakeServer &google)
{
    return {kClientId, u"s3cret"_qs, google.qBaseUrl() + u"/auth"_qs, google.qBaseUrl() + u"/token"_qs,
            google.qBaseUrl() + u"/userinfo"_qs};
}

QString stateOf(const QString &authorisationUrl)
{
    return QUrlQuery(QUrl(authorisationUrl)).queryItemValue(u"state"_qs, QUrl::FullyDecoded);
}

std::string tokenReply(const std::string &idTokenPayload, const std::string &accessToken = "at-1")
{
    std::string reply = R"({"access_token":")" + accessToken + R"(","token_type":"Bearer","expires_in":3599)";
    if (!idTokenPayload.empty())
        reply += R"(,"id_token":")" + fakeIdToken(idTokenPayload) + "\"";
    return reply + "}";
}

std::string payload(const std::string &email, const std::string &verified, const std::string &audience = "")
{
    const std::string aud = audience.empty() ? kClientId.toStdString() : audience;
    return R"({"aud":")" + aud + R"(","sub":"1","email":")" + email + R"(","email_verified":)" + verified + "}";
}

QString emailOf(const std::variant<QString, std::string> &outcome)
{
    return std::holds_alternative<QString>(outcome) ? std::get<QString>(outcome) : QString();
}

std::string errorOf(const std::variant<QString, std::string> &outcome)
{
    return std::holds_alternative<std::string>(outcome) ? std::get<std::string>(outcome) : std::string();
}

} // namespace

class GoogleSignInTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void configuredNeedsClient();
    void authorisationUrlCarriesTheRequest();
    void statesAreFreshAndLong();
    void goodFlowFromIdToken();
    void idTokenOutcomes_data();
    void idTokenOutcomes();
    void badStateNeverReachesGoogle();
    void stateIsOneTime();
    void tokenEndpointErrors_data();
    void tokenEndpointErrors();
    void unreachableGoogle();
};

void GoogleSignInTest::configuredNeedsClient()
{
    QVERIFY(!GoogleSignIn(GoogleConfig{}).configured());
    QVERIFY(!GoogleSignIn(GoogleConfig{kClientId, {}, u"a"_qs, u"t"_qs, u"u"_qs}).configured());
    QVERIFY(GoogleSignIn(GoogleConfig{kClientId, u"x"_qs, u"a"_qs, u"t"_qs, u"u"_qs}).configured());
    GoogleSignIn unconfigured(GoogleConfig{});
    QVERIFY(!errorOf(unconfigured.complete(u"s"_qs, u"c"_qs, kRedirect)).empty());
}

void GoogleSignInTest::authorisationUrlCarriesTheRequest()
{
    ExtrasFakeServer google;
    GoogleSignIn signIn(configFor(google));
    const QUrl url(signIn.authorisationUrl(kRedirect));
    QCOMPARE(url.toString(QUrl::RemoveQuery), google.qBaseUrl() + u"/auth"_qs);
    const QUrlQuery query(url);
    QCOMPARE(query.queryItemValue(u"response_type"_qs), u"code"_qs);
    QCOMPARE(query.queryItemValue(u"client_id"_qs, QUrl::FullyDecoded), kClientId);
    QCOMPARE(query.queryItemValue(u"redirect_uri"_qs, QUrl::FullyDecoded), kRedirect);
    QCOMPARE(query.queryItemValue(u"scope"_qs, QUrl::FullyDecoded), u"openid email"_qs);
    QVERIFY(!query.queryItemValue(u"state"_qs).isEmpty());
    QCOMPARE(google.requests().size(), std::size_t(0));
}

void GoogleSignInTest::statesAreFreshAndLong()
{
    ExtrasFakeServer google;
    GoogleSignIn signIn(configFor(google));
    QSet<QString> states;
    for (int i = 0; i < 200; ++i) {
        const QString state = stateOf(signIn.authorisationUrl(kRedirect));
        // 128 bits in base64url need at least 22 characters.
        QVERIFY(state.size() >= 22);
        QVERIFY(QRegularExpression(u"^[A-Za-z0-9_-]+$"_qs).match(state).hasMatch());
        states.insert(state);
    }
    QCOMPARE(states.size(), 200);
}

void GoogleSignInTest::goodFlowFromIdToken()
{
    ExtrasFakeServer google;
    google.reply("POST", "/token", 200, tokenReply(payload("ada@example.com", "true")));
    GoogleSignIn signIn(configFor(google));
    const QString state = stateOf(signIn.authorisationUrl(kRedirect));

    const auto outcome = signIn.complete(state, u"code/with+odd=chars"_qs, kRedirect);
    QCOMPARE(emailOf(outcome), u"ada@example.com"_qs);

    const auto exchanges = google.requestsTo("/token");
    QCOMPARE(exchanges.size(), std::size_t(1));
    const auto &form = exchanges.front().params;
    QCOMPARE(form.find("grant_type")->second, std::string("authorization_code"));
    QCOMPARE(form.find("code")->second, std::string("code/with+odd=chars"));
    QCOMPARE(form.find("client_id")->second, kClientId.toStdString());
    QCOMPARE(form.find("client_secret")->second, std::string("s3cret"));
    QCOMPARE(form.find("redirect_uri")->second, kRedirect.toStdString());
    QCOMPARE(exchanges.front().headers.find("Content-Type")->second, std::string("application/x-www-form-urlencoded"));
    QCOMPARE(google.count("/userinfo"), std::size_t(0));
}

void GoogleSignInTest::idTokenOutcomes_data()
{
    QTest::addColumn<QByteArray>("tokenBody");
    QTest::addColumn<int>("userInfoStatus");
    QTest::addColumn<QByteArray>("userInfoBody");
    QTest::addColumn<QString>("email");      // empty: an error is expected
    QTest::addColumn<QString>("errorWords"); // part of the error text
    QTest::addColumn<int>("userInfoCalls");

    const QByteArray verifiedInfo(R"({"sub":"1","email":"bob@example.com","email_verified":true})");
    QTest::newRow("verified as text") << QByteArray(tokenReply(payload("ada@example.com", "\"true\"")).c_str()) << 200
                                      << verifiedInfo << u"ada@example.com"_qs << QString() << 0;
    QTest::newRow("audience list") << QByteArray(tokenReply(R"({"aud":["other","client-1.apps.example"],
                                            "email":"ada@example.com","email_verified":true})")
                                                     .c_str())
                                   << 200 << verifiedInfo << u"ada@example.com"_qs << QString() << 0;
    QTest::newRow("no id token: user info")
        << QByteArray(tokenReply("").c_str()) << 200 << verifiedInfo << u"bob@example.com"_qs << QString() << 1;
    QTest::newRow("token for another client: user info")
        << QByteArray(tokenReply(payload("eve@example.com", "true", "someone-else")).c_str()) << 200 << verifiedInfo
        << u"bob@example.com"_qs << QString() << 1;
    QTest::newRow("garbage id token: user info") << QByteArray(R"({"access_token":"at","id_token":"a.%%%.c"})") << 200
                                                 << verifiedInfo << u"bob@example.com"_qs << QString() << 1;
    QTest::newRow("unverified everywhere")
        << QByteArray(tokenReply(payload("ada@example.com", "false")).c_str()) << 200
        << QByteArray(R"({"email":"ada@example.com","email_verified":false})") << QString() << u"not verified"_qs << 1;
    QTest::newRow("unverified, user info silent") << QByteArray(tokenReply(payload("ada@example.com", "false")).c_str())
                                                  << 500 << QByteArray("{}") << QString() << u"not verified"_qs << 1;
    QTest::newRow("user info without verification")
        << QByteArray(tokenReply("").c_str()) << 200 << QByteArray(R"({"email":"bob@example.com"})") << QString()
        << u"not verified"_qs << 1;
    QTest::newRow("no address anywhere") << QByteArray(tokenReply(R"({"aud":"client-1.apps.example"})").c_str()) << 200
                                         << QByteArray(R"({"sub":"1"})") << QString() << u"e-mail address"_qs << 1;
    QTest::newRow("not an address") << QByteArray(tokenReply(payload("not-an-address", "true")).c_str()) << 500
                                    << QByteArray() << QString() << u"e-mail address"_qs << 1;
    QTest::newRow("user info garbage") << QByteArray(tokenReply("").c_str()) << 200 << QByteArray("<html>") << QString()
                                       << u"e-mail address"_qs << 1;
    QTest::newRow("token reply garbage") << QByteArray("not json") << 200 << verifiedInfo << QString()
                                         << u"e-mail address"_qs << 0;
}

void GoogleSignInTest::idTokenOutcomes()
{
    QFETCH(QByteArray, tokenBody);
    QFETCH(int, userInfoStatus);
    QFETCH(QByteArray, userInfoBody);
    QFETCH(QString, email);
    QFETCH(QString, errorWords);
    QFETCH(int, userInfoCalls);

    ExtrasFakeServer google;
    google.reply("POST", "/token", 200, tokenBody.toStdString());
    google.reply("GET", "/userinfo", userInfoStatus, userInfoBody.toStdString());
    GoogleSignIn signIn(configFor(google));
    const auto outcome = signIn.complete(stateOf(signIn.authorisationUrl(kRedirect)), u"code"_qs, kRedirect);

    QCOMPARE(emailOf(outcome), email);
    if (email.isEmpty())
        QVERIFY2(QString::fromStdString(errorOf(outcome)).contains(errorWords), errorOf(outcome).c_str());
    const auto infoRequests = google.requestsTo("/userinfo");
    QCOMPARE(static_cast<int>(infoRequests.size()), userInfoCalls);
    if (!infoRequests.empty())
        QVERIFY(infoRequests.front().headers.find("Authorization")->second.starts_with("Bearer "));
}

void GoogleSignInTest::badStateNeverReachesGoogle()
{
    ExtrasFakeServer google;
    google.reply("POST", "/token", 200, tokenReply(payload("ada@example.com", "true")));
    GoogleSignIn signIn(configFor(google));
    const QString real = stateOf(signIn.authorisationUrl(kRedirect));
    for (const QString &state : {QString(), u"forged"_qs, real + u"x"_qs, real.left(real.size() - 1)}) {
        const auto outcome = signIn.complete(state, u"code"_qs, kRedirect);
        QVERIFY(!errorOf(outcome).empty());
    }
    QCOMPARE(google.count("/token"), std::size_t(0));
    // The genuine state is still good after the forgeries.
    QCOMPARE(emailOf(signIn.complete(real, u"code"_qs, kRedirect)), u"ada@example.com"_qs);
}

void GoogleSignInTest::stateIsOneTime()
{
    ExtrasFakeServer google;
    google.reply("POST", "/token", 200, tokenReply(payload("ada@example.com", "true")));
    GoogleSignIn signIn(configFor(google));
    const QString state = stateOf(signIn.authorisationUrl(kRedirect));
    QCOMPARE(emailOf(signIn.complete(state, u"code"_qs, kRedirect)), u"ada@example.com"_qs);
    const auto replay = signIn.complete(state, u"code"_qs, kRedirect);
    QVERIFY(QString::fromStdString(errorOf(replay)).contains(u"expired or was already used"_qs));
    QCOMPARE(google.count("/token"), std::size_t(1));
}

void GoogleSignInTest::tokenEndpointErrors_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("invalid grant") << 400 << QByteArray(R"({"error":"invalid_grant"})");
    QTest::newRow("bad client") << 401 << QByteArray(R"({"error":"invalid_client"})");
    QTest::newRow("server error") << 500 << QByteArray("oops");
}

void GoogleSignInTest::tokenEndpointErrors()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    ExtrasFakeServer google;
    google.reply("POST", "/token", status, body.toStdString());
    GoogleSignIn signIn(configFor(google));
    const QString state = stateOf(signIn.authorisationUrl(kRedirect));
    const auto outcome = signIn.complete(state, u"code"_qs, kRedirect);
    QVERIFY(QString::fromStdString(errorOf(outcome)).contains(QString::number(status)));
    // The failed attempt used the state up; a retry starts a fresh sign-in.
    google.reply("POST", "/token", 200, tokenReply(payload("ada@example.com", "true")));
    QVERIFY(!errorOf(signIn.complete(state, u"code"_qs, kRedirect)).empty());
    QCOMPARE(google.count("/userinfo"), std::size_t(0));
}

void GoogleSignInTest::unreachableGoogle()
{
    int freePort = 0;
    {
        ExtrasFakeServer gone;
        freePort = gone.port();
    }
    const QString base = u"http://127.0.0.1:"_qs + QString::number(freePort);
    GoogleSignIn signIn(GoogleConfig{kClientId, u"s"_qs, base + u"/auth"_qs, base + u"/token"_qs, base + u"/u"_qs});
    const auto outcome = signIn.complete(stateOf(signIn.authorisationUrl(kRedirect)), u"code"_qs, kRedirect);
    QVERIFY(QString::fromStdString(errorOf(outcome)).contains(u"Could not reach Google"_qs));
    QVERIFY(!errorOf(signIn.complete(u"x"_qs, QString(), kRedirect)).empty());
}

QTEST_GUILESS_MAIN(GoogleSignInTest)
#include "GoogleSignInTest.moc"
