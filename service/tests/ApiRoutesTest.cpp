// Every route over HTTP (authorisation, methods, unknown paths, body limits, the local sign-in
// page, the assistant) and the pages the service serves. Google's sign-in and the Telegram
// link code are tested beside their fakes.

#include "RawHttp.h"
#include "TestService.h"
#include "api/Pages.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <QUrlQuery>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

const std::vector<std::pair<std::string, std::string>> kApiRoutes = {
    {"GET", "/api/videos.php"},   {"POST", "/api/upsert.php"},    {"POST", "/api/delete.php"},
    {"GET", "/api/family.php"},   {"POST", "/api/family.php"},    {"GET", "/api/account.php?action=export"},
    {"POST", "/api/account.php"}, {"POST", "/api/assistant.php"}, {"POST", "/api/telegram-code.php"},
};
constexpr auto kForm = "application/x-www-form-urlencoded";
// A query item of an address such as clipvaneshelf://auth?token=…&email=….
QString queryItem(const QString &address, const QString &name)
{
    return QUrlQuery(QUrl(address).query(QUrl::FullyDecoded)).queryItemValue(name, QUrl::FullyDecoded);
}

QString text(const std::string &html)
{
    return QString::fromStdString(html);
}

// The one inline <script> or <style> body of a page, exactly as a browser hashes it, as a
// CSP source; empty when the page has none, "several" when it has more than one.
QString inlineHash(const QString &html, const QString &tag)
{
    const QRegularExpression re(u"<%1>(.*?)</%1>"_qs.arg(tag), QRegularExpression::DotMatchesEverythingOption);
    QStringList hashes;
    for (auto it = re.globalMatch(html); it.hasNext();) {
        const QByteArray digest = QCryptographicHash::hash(it.next().captured(1).toUtf8(), QCryptographicHash::Sha256);
        hashes.append(u"'sha256-"_qs + QString::fromLatin1(digest.toBase64()) + u"'"_qs);
    }
    return hashes.size() > 1 ? u"several"_qs : hashes.value(0);
}

QString directive(const QString &csp, const QString &name)
{
    for (const QString &part : csp.split(u';'))
        if (part.trimmed().startsWith(name + u' '))
            return part.trimmed().mid(name.size() + 1);
    return {};
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
    const QByteArray longId(257, 'a'); // one over the limit of every route
    bad("add: id too long", upsert, R"j({"url":"https://youtu.be/)j" + longId + "\"}");
    bad("change: id too long", upsert, R"j({"title":"x","youtube_id":")j" + longId + "\"}");
    bad("delete: id too long", "/api/delete.php", R"j({"youtube_id":")j" + longId + "\"}");
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

    // Wrong methods, unknown paths, oversized bodies and a missing bot are refused in JSON,
    // and the service keeps serving; the pages are served as they are built.
    void methodsPathsSizesAndPages()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        const httplib::Headers oddCase{{"Authorization", "bEaReR " + token.toStdString()}};
        QCOMPARE(service.send("GET", {}, "/api/family.php", {}, oddCase).status, 200);
        const std::string huge = "{\"url\":\"" + std::string(300 * 1024, 'a') + "\"}";
        for (const auto &[method, path, body, status] :
             std::initializer_list<std::tuple<std::string, std::string, std::string, int>>{
                 {"GET", "/api/upsert.php", "", 405},
                 {"PUT", "/api/family.php", "{}", 405},
                 {"DELETE", "/api/videos.php", "{}", 405},
                 {"GET", "/api/nothing.php", "", 404},
                 {"POST", "/api/upsert.php", huge, 413},
                 {"POST", "/api/telegram-code.php", "{}", 503},
                 {"POST", "/player.html", "{}", 405}}) {
            const Reply reply = service.send(method, token, path, body);
            QCOMPARE(reply.status, status);
            QVERIFY2(reply.json.contains(u"error"_qs), path.c_str());
        }
        QCOMPARE(service.get(token, "/api/upsert.php").header("Allow"), std::string("POST"));
        QCOMPARE(service.get({}, "/../etc/passwd").status / 100, 4);
        QCOMPARE(service.get(token, "/api/family.php").status, 200); // still serving

        const Reply player = service.get({}, "/player.html");
        QCOMPARE(player.status, 200);
        QCOMPARE(player.body, Pages::playerHtml());
        QCOMPARE(player.header("Content-Security-Policy"), Pages::playerCsp());
        QVERIFY(player.header("Content-Type").starts_with("text/html"));
        QCOMPARE(service.get({}, "/").body, Pages::aboutHtml());
        const std::string form = service.get({}, "/gauth/login.php").body;
        QCOMPARE(form, Pages::localSignInForm({}));
        QVERIFY(form.find(R"(<form method="post" action="/gauth/login.php">)") != std::string::npos);
        QVERIFY(form.find(R"(name="email" type="email" required)") != std::string::npos);
    }

    // Only a service on the loopback, asked under its own loopback name and port, signs anyone
    // in by address alone (a page another site's name was rebound to must not): to the
    // application's callback with a working token, the address as typed in any case, and the
    // application's one-time state when it is a plain token.
    void localSignIn_data()
    {
        QTest::addColumn<QString>("listen");
        QTest::addColumn<QString>("host"); // PORT: the service's port
        QTest::addColumn<QByteArray>("form");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("callback"); // "email|state"
        const auto row = [](const char *name, const char *listen, const char *host, const QByteArray &form, int status,
                            const char *callback = "|") {
            QTest::newRow(name) << QString::fromLatin1(listen) << QString::fromLatin1(host) << form << status
                                << QString::fromLatin1(callback);
        };
        const QByteArray good = "email=victim%40example.com";
        row("blanks and case", "127.0.0.1", "127.0.0.1:PORT", "email=%20Someone%40Example.com", 302,
            "someone@example.com|");
        row("state", "127.0.0.1", "LocalHost:PORT", good + "&state=Ab-9_x", 302, "victim@example.com|Ab-9_x");
        row("state not a token", "127.0.0.1", "[::1]:PORT", good + "&state=%3Cb%3E", 302, "victim@example.com|");
        row("not an address", "127.0.0.1", "127.0.0.1:PORT", "email=nobody", 400);
        row("rebound name", "127.0.0.1", "evil.example:PORT", good, 403);
        row("name ending like an address", "127.0.0.1", "127.0.0.1.evil.example:PORT", good, 403);
        row("another port", "127.0.0.1", "127.0.0.1:1", good, 403);
        row("no port", "127.0.0.1", "127.0.0.1", good, 403);
        row("listening everywhere", "0.0.0.0", "127.0.0.1:PORT", good, 403);
    }
    void localSignIn()
    {
        QFETCH(QString, listen);
        QFETCH(QString, host);
        QFETCH(QByteArray, form);
        QFETCH(int, status);
        QFETCH(QString, callback);
        TestService service([&](ServiceConfig &config) { config.listenHost = listen; });
        const std::string head = "Host: " + host.replace(u"PORT"_qs, QString::number(service.port())).toStdString();
        RawHttp get(service.port());
        get.send("GET /gauth/login.php?state=Ab-9_x HTTP/1.1\r\n" + head + "\r\n\r\n");
        const std::string page = get.readReply();
        QCOMPARE(RawHttp::statusOf(page), status == 403 ? 403 : 200);
        QCOMPARE(page.find("value=\"Ab-9_x\"") != std::string::npos, status != 403); // the state rides in the form
        QVERIFY(listen == u"127.0.0.1" || page.ends_with(Pages::signInRefused()));

        RawHttp post(service.port());
        post.send("POST /gauth/login.php HTTP/1.1\r\n" + head + "\r\nContent-Type: " + kForm +
                  "\r\nContent-Length: " + std::to_string(form.size()) + "\r\n\r\n" + form.toStdString());
        const std::string reply = post.readReply();
        QCOMPARE(RawHttp::statusOf(reply), status);
        const size_t at = reply.find("\r\nLocation: ");
        const QString location = QString::fromStdString(
            at == std::string::npos ? std::string() : reply.substr(at + 12, reply.find('\r', at + 2) - at - 12));
        QCOMPARE(location.startsWith(u"clipvaneshelf://auth?"_qs), status == 302);
        // The page sends the browser to the same callback (the client decodes the header).
        QCOMPARE(reply.find("clipvaneshelf://auth?token=") != std::string::npos, status == 302);
        QCOMPARE(queryItem(location, u"email"_qs) + u'|' + queryItem(location, u"state"_qs), callback);
        if (status == 302)
            QCOMPARE(service.get(queryItem(location, u"token"_qs), "/api/family.php").status, 200);
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
        const QJsonObject question{{u"q"_qs, u"Which kittens videos?"_qs}, {u"history"_qs, history}};
        const Reply reply = service.post(me, "/api/assistant.php", question);
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

    // What the application relies on: four global functions, three messages to the host, and
    // calls made before the player is ready queued, not lost.
    void playerKeepsItsContract()
    {
        const QString html = text(Pages::playerHtml());
        for (const QString &name : {u"loadVideo"_qs, u"cueVideo"_qs, u"play"_qs, u"pause"_qs})
            QVERIFY2(QRegularExpression(u"window\\.%1\\s*=\\s*function\\s*\\("_qs.arg(name)).match(html).hasMatch(),
                     qPrintable(name));
        for (const QString &part :
             {u"loadVideoById"_qs, u"cueVideoById"_qs, u"playVideo()"_qs, u"pauseVideo()"_qs, u"<div id=\"player\">"_qs,
              u"window.onYouTubeIframeAPIReady"_qs, u"<script src=\"https://www.youtube.com/iframe_api\""_qs,
              u"if (!ready) {"_qs, u"host: 'https://www.youtube-nocookie.com'"_qs,
              u"post({ t: 'state', s: Number(event.data) })"_qs, u"post({ t: 'error', c: Number(event.data) })"_qs,
              u"queued.push(action)"_qs,
              // A missing host bridge must not break the page.
              u"try {\n      window.webkit.messageHandlers.player.postMessage(message)"_qs})
            QVERIFY2(html.contains(part), qPrintable(part));
        // "ready" goes out from the player's own ready event, after the queued calls ran.
        const qsizetype onReady = html.indexOf(u"function onReady()"_qs);
        QVERIFY(onReady >= 0 && html.indexOf(u"onReady: onReady"_qs) >= 0);
        QVERIFY(html.indexOf(u"pending.forEach(call)"_qs) > onReady);
        QVERIFY(html.indexOf(u"post({ t: 'ready' })"_qs) > html.indexOf(u"pending.forEach(call)"_qs));
    }

    // Every page allows exactly its own inline style and script, nothing inline beyond them.
    void cspAllowsOnlyWhatThePageUses()
    {
        const QString player = text(Pages::playerHtml());
        const QString playerCsp = text(Pages::playerCsp());
        QCOMPARE(directive(playerCsp, u"default-src"_qs), u"'none'"_qs);
        QCOMPARE(directive(playerCsp, u"frame-src"_qs), u"https://www.youtube-nocookie.com"_qs);
        QCOMPARE(directive(playerCsp, u"style-src"_qs), inlineHash(player, u"style"_qs));
        QCOMPARE(directive(playerCsp, u"script-src"_qs),
                 u"'self' "_qs + inlineHash(player, u"script"_qs) + u" https://www.youtube.com"_qs);

        const QString csp = text(Pages::pagesCsp());
        QCOMPARE(directive(csp, u"default-src"_qs), u"'none'"_qs);
        QCOMPARE(directive(csp, u"form-action"_qs), u"'self'"_qs);
        QCOMPARE(directive(csp, u"script-src"_qs), QString());
        for (const std::string &page :
             {Pages::aboutHtml(), Pages::localSignInForm("oops"), Pages::signInRefused(), Pages::signInFailed("x"),
              Pages::redirectPage("clipvaneshelf://auth?token=t&email=e")}) {
            QCOMPARE(inlineHash(text(page), u"script"_qs), QString());
            QCOMPARE(directive(csp, u"style-src"_qs), inlineHash(text(page), u"style"_qs));
        }
        for (const QString &policy : {playerCsp, csp})
            QVERIFY(!policy.contains(u"unsafe-"_qs) && !policy.contains(u'*'));
        QVERIFY(!text(Pages::signInRefused()).contains(u"<form"_qs));
    }

    void errorsAreEscaped_data()
    {
        QTest::addColumn<QByteArray>("error");
        QTest::addColumn<QString>("shown");
        QTest::newRow("markup") << QByteArray("<script>alert('x')</script>")
                                << u"&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"_qs;
        QTest::newRow("attribute breakout") << QByteArray("\" onmouseover=\"x") << u"&quot; onmouseover=&quot;x"_qs;
        QTest::newRow("entities") << QByteArray("a & b &amp; c") << u"a &amp; b &amp;amp; c"_qs;
        QTest::newRow("utf-8 passes") << QByteArray("Adresse ungültig — bitte") << u"Adresse ungültig — bitte"_qs;
    }
    void errorsAreEscaped()
    {
        QFETCH(QByteArray, error);
        QFETCH(QString, shown);
        const QString form = text(Pages::localSignInForm(error.toStdString()));
        const QString failure = text(Pages::signInFailed(error.toStdString()));
        QVERIFY(failure.contains(u"href=\"/gauth/login.php\""_qs));
        for (const QString &html : {form, failure}) {
            QVERIFY(html.contains(u"<p class=\"error\" role=\"alert\">"_qs + shown + u"</p>"_qs));
            QVERIFY(!html.contains(u"<script>"_qs) && !html.contains(u"\" onmouseover"_qs));
        }
    }

    // The redirect page sends the browser on to the application's own callback only: anything
    // else in a refresh or a link would make the page a weapon.
    void redirectPageLinksOnlyTheCallback_data()
    {
        QTest::addColumn<QByteArray>("url");
        QTest::addColumn<bool>("followed");
        QTest::newRow("callback")
            << QByteArray("clipvaneshelf://auth?token=abc%2B1&email=a%40b.c&x=\"><script>alert(1)</script>") << true;
        QTest::newRow("script") << QByteArray("javascript:alert(1)") << false;
        QTest::newRow("other site") << QByteArray("https://evil.example/?clipvaneshelf:") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("leading space") << QByteArray(" clipvaneshelf://auth?token=a&email=b") << false;
    }
    void redirectPageLinksOnlyTheCallback()
    {
        QFETCH(QByteArray, url);
        QFETCH(bool, followed);
        const QString html = text(Pages::redirectPage(url.toStdString()));
        const QString escaped = text(Pages::htmlEscape(url.toStdString()));
        QVERIFY(!html.contains(u"<script>"_qs));
        QCOMPARE(html.contains(u"<meta http-equiv=\"refresh\" content=\"0;url="_qs + escaped + u"\">"_qs), followed);
        QCOMPARE(html.contains(u"<a class=\"button\" href=\""_qs + escaped + u"\">"_qs), followed);
        QCOMPARE(html.contains(u"href="_qs) || html.contains(u"http-equiv=\"refresh\""_qs), followed);
        QCOMPARE(html.contains(u"Sign-in could not be completed"_qs), !followed);
        QVERIFY(!followed || escaped.contains(u"&amp;email="_qs));
    }
};

QTEST_GUILESS_MAIN(ApiRoutesTest)
#include "ApiRoutesTest.moc"
