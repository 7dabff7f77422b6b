#include "api/Pages.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QtTest>

using namespace clipvane::service;

namespace {

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

} // namespace

class PagesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
              u"host: 'https://www.youtube-nocookie.com'"_qs, u"onReady: onReady"_qs,
              u"post({ t: 'state', s: Number(event.data) })"_qs, u"post({ t: 'error', c: Number(event.data) })"_qs,
              u"if (!ready) {"_qs, u"queued.push(action)"_qs,
              // A missing host bridge must not break the page.
              u"try {\n      window.webkit.messageHandlers.player.postMessage(message)"_qs})
            QVERIFY2(html.contains(part), qPrintable(part));
        // "ready" goes out from the player's own ready event, after the queued calls ran.
        const qsizetype onReady = html.indexOf(u"function onReady()"_qs);
        QVERIFY(onReady >= 0);
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
    }

    void signInFormPostsAnAddressHere()
    {
        const QString html = text(Pages::localSignInForm({}));
        QVERIFY(html.contains(u"<form method=\"post\" action=\"/gauth/login.php\">"_qs));
        QVERIFY(html.contains(u"name=\"email\" type=\"email\" required"_qs));
        QVERIFY(!html.contains(u"class=\"error\""_qs));
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
        QVERIFY(form.contains(u"<p class=\"error\" role=\"alert\">"_qs + shown + u"</p>"_qs));
        QVERIFY(failure.contains(u"<p class=\"error\" role=\"alert\">"_qs + shown + u"</p>"_qs));
        QVERIFY(failure.contains(u"href=\"/gauth/login.php\""_qs));
        for (const QString &html : {form, failure})
            QVERIFY(!html.contains(u"<script>"_qs) && !html.contains(u"\" onmouseover"_qs));
    }

    void redirectPageEscapesAndLinks()
    {
        const std::string url = "clipvaneshelf://auth?token=abc%2B1&email=a%40b.c&x=\"><script>alert(1)</script>";
        const QString html = text(Pages::redirectPage(url));
        const QString escaped = text(Pages::htmlEscape(url));
        QVERIFY(escaped.contains(u"&amp;email="_qs));
        QVERIFY(html.contains(u"<meta http-equiv=\"refresh\" content=\"0;url="_qs + escaped + u"\">"_qs));
        QVERIFY(html.contains(u"<a class=\"button\" href=\""_qs + escaped + u"\">"_qs));
        QVERIFY(!html.contains(u"<script>"_qs));
    }

    // Anything but the application's own callback in a refresh or a link would make the page a weapon.
    void redirectPageRefusesOtherSchemes_data()
    {
        QTest::addColumn<QByteArray>("url");
        QTest::newRow("script") << QByteArray("javascript:alert(1)");
        QTest::newRow("other site") << QByteArray("https://evil.example/?clipvaneshelf:");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("leading space") << QByteArray(" clipvaneshelf://auth?token=a&email=b");
    }
    void redirectPageRefusesOtherSchemes()
    {
        QFETCH(QByteArray, url);
        const QString html = text(Pages::redirectPage(url.toStdString()));
        QVERIFY(!html.contains(u"http-equiv=\"refresh\""_qs));
        QVERIFY(!html.contains(u"href="_qs));
        QVERIFY(html.contains(u"Sign-in could not be completed"_qs));
    }
};

QTEST_GUILESS_MAIN(PagesTest)
#include "PagesTest.moc"
