#include "MacPlayer.h"
#include "FakeHttpServer.h"
#include "MacAppState.h"
#include "PagingWebView.h"
#include "PlayerController.h"
#include "ServiceProcess.h"
#include "SpaceKeyFilter.h"
#include "WebEngineTestMain.h"

#include <QApplication>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWheelEvent>

using namespace clipvane;
using clipvane::test::FakeHttpServer;
using clipvane::test::FakeReply;
using clipvane::test::ServiceProcess;

namespace {

// A player page that keeps the contract: the four functions, "ready" once loaded, and a
// "state" (or, for one ID, an "error") for each call. It records the calls it received.
constexpr char kFakePlayerPage[] = R"HTML(<!doctype html>
<html><head><meta charset="utf-8"><title>fake player</title></head><body><script>
window.calls = [];
function post(m) { window.webkit.messageHandlers.player.postMessage(m); }
window.loadVideo = function (id) { calls.push('load:' + id); post({ t: 'state', s: 1 }); };
window.cueVideo = function (id) {
  calls.push('cue:' + id);
  if (id === 'noEmbed0001') { post({ t: 'error', c: 150 }); } else { post({ t: 'state', s: 5 }); }
};
window.play = function () { calls.push('play'); post({ t: 'state', s: 1 }); };
window.pause = function () { calls.push('pause'); post({ t: 'state', s: 2 }); };
window.addEventListener('load', function () {
  post('ready');
  post({ t: 7 });
  post({ t: 'state', s: 'not a number' });
  post({ t: 'ready' });
});
</script></body></html>
)HTML";

QVariant evaluate(QWebEnginePage &page, const QString &script)
{
    QVariant result;
    bool done = false;
    page.runJavaScript(script, [&](const QVariant &value) {
        result = value;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 10000))
        qWarning("script did not answer: %s", qPrintable(script));
    return result;
}

QStringList calls(QWebEnginePage &page)
{
    return evaluate(page, QStringLiteral("window.calls.join('|')")).toString().split(u'|', Qt::SkipEmptyParts);
}

} // namespace

class MacPlayerTest : public QObject
{
    Q_OBJECT

    FakeHttpServer m_server;

private Q_SLOTS:
    void initTestCase()
    {
        FakeReply page;
        page.body = kFakePlayerPage;
        page.headers = {{"Content-Type", "text/html; charset=utf-8"}};
        m_server.setDefaultReply(page);
        QVERIFY(m_server.start());
    }

    void thePageAndTheControllerTalkThroughTheRealBridge()
    {
        PlayerController controller;
        const QString first = QStringLiteral("dQw4w9WgXcQ");
        controller.load(first, false); // waits: no page yet
        MacPlayer player(controller, PlayerController::playerPageURL(m_server.url(QStringLiteral("/api"))));
        player.resize(480, 270);
        player.show();
        QWebEnginePage &page = *player.webView().page();

        // The handshake sends the pending video, cued; the page answers "cued" (state 5).
        QTRY_VERIFY_WITH_TIMEOUT(controller.isReady(), 15000);
        QTRY_COMPARE_WITH_TIMEOUT(calls(page), QStringList{u"cue:"_qs + first}, 5000);
        QTRY_VERIFY(!controller.isLoading());
        QVERIFY(!controller.isPlaying());
        QCOMPARE(m_server.requests().at(0).path, QByteArray("/player.html"));

        // Load with autoplay: "loadVideo", and the page's state 1 arrives as playing.
        const QString second = QStringLiteral("9bZkp7q19f0");
        controller.load(second, true);
        QVERIFY(controller.isLoading());
        QTRY_VERIFY(!controller.isLoading());
        QVERIFY(controller.isPlaying());
        controller.pause();
        QTRY_COMPARE(calls(page).last(), u"pause"_qs);

        // An error message reaches the controller with its code.
        controller.load(QStringLiteral("noEmbed0001"), false);
        QTRY_COMPARE(controller.embedError(), std::optional<int>(150));
        QVERIFY(!controller.isLoading());

        // A crafted ID is never sent, and nothing of it runs in the page.
        const int before = int(calls(page).size());
        controller.load(QStringLiteral("a');window.pwned=1;('"), true);
        controller.load(QStringLiteral("abcdef\");window.pwned=1;(\""), true);
        QTest::qWait(200);
        QCOMPARE(calls(page).size(), before);
        QCOMPARE(evaluate(page, QStringLiteral("typeof window.pwned")).toString(), u"undefined"_qs);
        QCOMPARE(controller.loadedID(), std::optional<QString>(QStringLiteral("noEmbed0001")));
    }

    // Paging takes the wheel and the keys only while it is on; Space in the player is the page's;
    // the bridge leaves with the player.
    void keysInThePlayerAndTheBridgesEnd()
    {
        QTemporaryDir dir;
        QSettings standard(dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat);
        MacAppState state(standard);
        SpaceKeyFilter filter(state);
        PlayerController &controller = state.player();
        auto player = std::make_unique<MacPlayer>(controller, PlayerController::playerPageURL(m_server.url()));
        player->setWindowTitle(QStringLiteral("Clipvane"));
        player->resize(480, 270);
        player->show();
        player->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(player.get()));
        QTRY_VERIFY_WITH_TIMEOUT(controller.isReady(), 15000);
        QWidget *proxy = player->webView().focusProxy();
        QVERIFY(proxy);
        proxy->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), proxy);
        QTest::keyClick(proxy, Qt::Key_Space);
        QVERIFY(!controller.isPlaying());

        QList<int> pages;
        player->setOnPage([&pages](int direction) { pages << direction; });
        const auto wheel = [&](int angle) {
            QWheelEvent event(QPointF(10, 10), proxy->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, angle),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            return QApplication::sendEvent(proxy, &event);
        };
        QVERIFY(wheel(-120));
        QTest::keyClick(proxy, Qt::Key_K);
        QTest::keyClick(proxy, Qt::Key_J, Qt::ShiftModifier);
        QTest::keyClick(proxy, Qt::Key_J, Qt::ControlModifier);
        QCOMPARE(pages, (QList<int>{+1, -1, +1}));

        player->setOnPage({});
        wheel(-120);
        QTest::keyClick(proxy, Qt::Key_J);
        QCOMPARE(pages.size(), 3);

        QVERIFY(controller.hasPage());
        player.reset();
        QVERIFY(!controller.hasPage());
        controller.load(QStringLiteral("dQw4w9WgXcQ"), true);
        QCOMPARE(controller.pendingID(), std::optional<QString>(QStringLiteral("dQw4w9WgXcQ")));
    }

    void theServicesOwnPageReachesTheBridge()
    {
        // The real page cannot reach YouTube here, so it never says "ready" by itself; what
        // matters is that its policy lets the injected handler and the channel work.
        ServiceProcess service(QStringLiteral(CLIPVANE_SERVICE_BINARY));
        QVERIFY2(service.start(), qPrintable(service.error()));
        PlayerController controller;
        controller.load(QStringLiteral("dQw4w9WgXcQ"), false);
        MacPlayer player(controller, PlayerController::playerPageURL(QUrl(service.apiBase())));
        QSignalSpy loaded(&player.webView(), &QWebEngineView::loadFinished);
        player.show();
        QVERIFY(loaded.wait(15000));
        QVERIFY(loaded.at(0).at(0).toBool());
        QWebEnginePage &page = *player.webView().page();
        QCOMPARE(evaluate(page, QStringLiteral("typeof window.cueVideo")).toString(), u"function"_qs);
        evaluate(page, QStringLiteral("window.webkit.messageHandlers.player.postMessage({t: 'ready'}); 0"));
        QTRY_VERIFY_WITH_TIMEOUT(controller.isReady(), 10000);
        QVERIFY(!controller.pendingID());
        QCOMPARE(controller.loadedID(), std::optional<QString>(QStringLiteral("dQw4w9WgXcQ")));
    }
};

CLIPVANE_WEBENGINE_TEST_MAIN(MacPlayerTest)

#include "MacPlayerTest.moc"
