#include "Pages.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QtTest>

using namespace clipvane::service;

namespace {

QString text(const std::string &html)
{
    return QString::fromStdString(html);
}

// Every inline <script> or <style> body of a page, exactly as a browser hashes it.
QStringList inlineBlocks(const QString &html, const QString &tag)
{
    QStringList blocks;
    const QRegularExpression re(u"<"_qs + tag + u">(.*?)</"_qs + tag + u">"_qs,
                                QRegularExpression::DotMatchesEverythingOption);
    auto it = re.globalMatch(html);
    while (it.hasNext())
        blocks.append(it.next().captured(1));
    return blocks;
}

QString hashSource(const QString &block)
{
    return u"'sha256-"_qs +
           QString::fromLatin1(QCryptographicHash::hash(block.toUtf8(), QCryptographicHash::Sha256).toBase64()) +
           u"'"_qs;
}

QString directive(const QString &csp, const QString &name)
{
    for (const QString &part : csp.split(u';')) {
        const QString trimmed = part.trimmed();
        if (trimmed.startsWith(name + u' '))
            return trimmed.mid(name.size() + 1);
    }
    return {};
}

} // namespace

class PagesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void playerDefinesTheContractFunctions();
    void playerPostsTheThreeMessages();
    void playerQueuesCallsUntilReady();
    void playerLooksRight();
    void playerCspAllowsOnlyWhatThePageUses();
    void otherPagesCspMatchesTheirStyle();
    void aboutNamesTheEndpoints();
    void signInFormEscapesTheError_data();
    void signInFormEscapesTheError();
    void signInFormPostsEmail();
    void refusalExplains();
    void failurePageEscapes();
    void redirectPageEscapesAndLinks();
    void redirectPageRefusesOtherSchemes_data();
    void redirectPageRefusesOtherSchemes();
};

void PagesTest::playerDefinesTheContractFunctions()
{
    const QString html = text(Pages::playerHtml());
    for (const QString &name : {u"loadVideo"_qs, u"cueVideo"_qs, u"play"_qs, u"pause"_qs}) {
        const QRegularExpression definition(u"window\\."_qs + name + u"\\s*=\\s*function\\s*\\("_qs);
        QVERIFY2(definition.match(html).hasMatch(), qPrintable(name));
    }
    QVERIFY(html.contains(u"loadVideoById"_qs));
    QVERIFY(html.contains(u"cueVideoById"_qs));
    QVERIFY(html.contains(u"playVideo()"_qs));
    QVERIFY(html.contains(u"pauseVideo()"_qs));
    QVERIFY(html.contains(u"window.onYouTubeIframeAPIReady"_qs));
    QVERIFY(html.contains(u"<script src=\"https://www.youtube.com/iframe_api\""_qs));
    QVERIFY(html.contains(u"host: 'https://www.youtube-nocookie.com'"_qs));
}

void PagesTest::playerPostsTheThreeMessages()
{
    const QString html = text(Pages::playerHtml());
    QVERIFY(html.contains(u"window.webkit.messageHandlers.player.postMessage(message)"_qs));
    QVERIFY(html.contains(u"post({ t: 'ready' })"_qs));
    QVERIFY(html.contains(u"post({ t: 'state', s: Number(event.data) })"_qs));
    QVERIFY(html.contains(u"post({ t: 'error', c: Number(event.data) })"_qs));
    QVERIFY(html.contains(u"onStateChange"_qs));
    QVERIFY(html.contains(u"onError"_qs));
    // "ready" goes out from the player's own ready event, not before.
    const qsizetype onReady = html.indexOf(u"function onReady()"_qs);
    QVERIFY(onReady >= 0);
    QVERIFY(html.indexOf(u"t: 'ready'"_qs) > onReady);
    QVERIFY(html.contains(u"onReady: onReady"_qs));
}

void PagesTest::playerQueuesCallsUntilReady()
{
    const QString html = text(Pages::playerHtml());
    QVERIFY(html.contains(u"if (!ready) {"_qs));
    QVERIFY(html.contains(u"queued.push(action)"_qs));
    // Queued calls run before the application hears "ready", which it answers with its own loads.
    QVERIFY(html.indexOf(u"pending.forEach(call)"_qs) < html.indexOf(u"post({ t: 'ready' })"_qs));
    // A missing host bridge must not break the page.
    QVERIFY(html.contains(u"try {\n      window.webkit.messageHandlers.player.postMessage"_qs));
}

void PagesTest::playerLooksRight()
{
    const QString html = text(Pages::playerHtml());
    QVERIFY(html.startsWith(u"<!DOCTYPE html>"_qs));
    QVERIFY(html.contains(u"background: #000"_qs));
    QVERIFY(html.contains(u"overflow: hidden"_qs));
    QVERIFY(html.contains(u"width: 100%; height: 100%"_qs));
    QVERIFY(html.contains(u"<div id=\"player\"></div>"_qs));
}

void PagesTest::playerCspAllowsOnlyWhatThePageUses()
{
    const QString html = text(Pages::playerHtml());
    const QString csp = text(Pages::playerCsp());
    QVERIFY(!csp.contains(u"unsafe-inline"_qs));
    QVERIFY(!csp.contains(u"unsafe-eval"_qs));
    QVERIFY(!csp.contains(u'*'));
    QCOMPARE(directive(csp, u"default-src"_qs), u"'none'"_qs);
    QCOMPARE(directive(csp, u"frame-src"_qs), u"https://www.youtube-nocookie.com"_qs);

    const QStringList scripts = inlineBlocks(html, u"script"_qs);
    QCOMPARE(scripts.size(), 1);
    const QString scriptSrc = directive(csp, u"script-src"_qs);
    QVERIFY(scriptSrc.contains(hashSource(scripts.first())));
    QVERIFY(scriptSrc.contains(u"https://www.youtube.com"_qs));
    const QStringList styles = inlineBlocks(html, u"style"_qs);
    QCOMPARE(styles.size(), 1);
    QCOMPARE(directive(csp, u"style-src"_qs), hashSource(styles.first()));
}

void PagesTest::otherPagesCspMatchesTheirStyle()
{
    const QString csp = text(Pages::pagesCsp());
    QVERIFY(!csp.contains(u"unsafe-inline"_qs));
    QVERIFY(directive(csp, u"script-src"_qs).isEmpty());
    QCOMPARE(directive(csp, u"default-src"_qs), u"'none'"_qs);
    QCOMPARE(directive(csp, u"form-action"_qs), u"'self'"_qs);
    for (const std::string &page :
         {Pages::aboutHtml(), Pages::localSignInForm("oops"), Pages::signInRefused(), Pages::signInFailed("x"),
          Pages::redirectPage("clipvaneshelf://auth?token=t&email=e")}) {
        const QString html = text(page);
        QVERIFY(inlineBlocks(html, u"script"_qs).isEmpty());
        const QStringList styles = inlineBlocks(html, u"style"_qs);
        QCOMPARE(styles.size(), 1);
        QCOMPARE(directive(csp, u"style-src"_qs), hashSource(styles.first()));
        QVERIFY(html.contains(u"#08080A"_qs));
        QVERIFY(html.contains(u"\"Hanken Grotesk\", system-ui, sans-serif"_qs));
        QVERIFY(html.contains(u"#FF2924"_qs));
    }
}

void PagesTest::aboutNamesTheEndpoints()
{
    const QString html = text(Pages::aboutHtml());
    for (const QString &path : {u"/api/videos.php"_qs, u"/api/upsert.php"_qs, u"/api/delete.php"_qs,
                                u"/api/family.php"_qs, u"/api/account.php"_qs, u"/api/assistant.php"_qs,
                                u"/api/telegram-code.php"_qs, u"/player.html"_qs, u"/gauth/login.php"_qs})
        QVERIFY2(html.contains(path), qPrintable(path));
    QVERIFY(html.contains(u"CLIPVANE_API_BASE"_qs));
    QVERIFY(html.contains(u"http://127.0.0.1:8470"_qs));
}

void PagesTest::signInFormEscapesTheError_data()
{
    QTest::addColumn<QByteArray>("error");
    QTest::addColumn<QString>("shown");

    QTest::newRow("markup") << QByteArray("<script>alert('x')</script>")
                            << u"&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt;"_qs;
    QTest::newRow("attribute breakout") << QByteArray("\" onmouseover=\"x") << u"&quot; onmouseover=&quot;x"_qs;
    QTest::newRow("entities") << QByteArray("a & b &amp; c") << u"a &amp; b &amp;amp; c"_qs;
    QTest::newRow("utf-8 passes") << QByteArray("Adresse ungültig — bitte") << u"Adresse ungültig — bitte"_qs;
}

void PagesTest::signInFormEscapesTheError()
{
    QFETCH(QByteArray, error);
    QFETCH(QString, shown);
    const QString html = text(Pages::localSignInForm(error.toStdString()));
    QVERIFY(html.contains(u"<p class=\"error\" role=\"alert\">"_qs + shown + u"</p>"_qs));
    QVERIFY(!html.contains(u"<script>"_qs));
    QVERIFY(!html.contains(u"\" onmouseover"_qs));
}

void PagesTest::signInFormPostsEmail()
{
    const QString html = text(Pages::localSignInForm({}));
    QVERIFY(html.contains(u"<form method=\"post\" action=\"/gauth/login.php\">"_qs));
    QVERIFY(html.contains(u"name=\"email\" type=\"email\" required"_qs));
    QVERIFY(html.contains(u"local Clipvane service without Google sign-in"_qs));
    QVERIFY(!html.contains(u"class=\"error\""_qs));
}

void PagesTest::refusalExplains()
{
    const QString html = text(Pages::signInRefused());
    QVERIFY(html.contains(u"Sign-in is not available here"_qs));
    QVERIFY(html.contains(u"CLIPVANE_GOOGLE_CLIENT_ID"_qs));
    QVERIFY(!html.contains(u"<form"_qs));
}

void PagesTest::failurePageEscapes()
{
    const QString html = text(Pages::signInFailed("Google said <b>no</b> & \"left\""));
    QVERIFY(html.contains(u"Google said &lt;b&gt;no&lt;/b&gt; &amp; &quot;left&quot;"_qs));
    QVERIFY(html.contains(u"href=\"/gauth/login.php\""_qs));
    QVERIFY(!html.contains(u"<b>"_qs));
}

void PagesTest::redirectPageEscapesAndLinks()
{
    const std::string url = "clipvaneshelf://auth?token=abc%2B1&email=a%40b.c&x=\"><script>alert(1)</script>";
    const QString html = text(Pages::redirectPage(url));
    const QString escaped = text(Pages::htmlEscape(url));
    QVERIFY(escaped.contains(u"&amp;email="_qs));
    QVERIFY(html.contains(u"<meta http-equiv=\"refresh\" content=\"0;url="_qs + escaped + u"\">"_qs));
    QVERIFY(html.contains(u"<a class=\"button\" href=\""_qs + escaped + u"\">"_qs));
    QVERIFY(!html.contains(u"<script>"_qs));
}

void PagesTest::redirectPageRefusesOtherSchemes_data()
{
    QTest::addColumn<QByteArray>("url");
    QTest::newRow("script") << QByteArray("javascript:alert(1)");
    QTest::newRow("other site") << QByteArray("https://evil.example/?clipvaneshelf:");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("leading space") << QByteArray(" clipvaneshelf://auth?token=a&email=b");
}

void PagesTest::redirectPageRefusesOtherSchemes()
{
    QFETCH(QByteArray, url);
    const QString html = text(Pages::redirectPage(url.toStdString()));
    QVERIFY(!html.contains(u"http-equiv=\"refresh\""_qs));
    QVERIFY(!html.contains(u"href="_qs));
    QVERIFY(html.contains(u"Sign-in could not be completed"_qs));
}

QTEST_GUILESS_MAIN(PagesTest)
#include "PagesTest.moc"
