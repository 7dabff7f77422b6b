#include "MacAskPanel.h"
#include "../ui/WidgetTestMain.h"
#include "APIClient.h"
#include "FakeHttpServer.h"
#include "MacAskBubble.h"
#include "MacAskOverlay.h"
#include "MacAskVideoCard.h"
#include "MemorySecretStore.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace clipvane;
using namespace clipvane::test;

namespace {

const QByteArray kAssistant = QByteArrayLiteral("/api/assistant.php");

QByteArray answerBody(const QString &answer, const QJsonArray &videos = {})
{
    return QJsonDocument(QJsonObject{{u"answer"_qs, answer}, {u"videos"_qs, videos}}).toJson(QJsonDocument::Compact);
}

QJsonObject video(const QString &id, const QString &title, const QJsonValue &year, const QString &duration)
{
    return {{u"youtube_id"_qs, id},
            {u"title"_qs, title},
            {u"url"_qs, u"https://www.youtube.com/watch?v="_qs + id},
            {u"year"_qs, year},
            {u"duration"_qs, duration}};
}

// Types a question and presses Return.
void send(MacAskPanel *panel, const QString &question)
{
    QTest::keyClicks(panel->input(), question);
    QTest::keyClick(panel->input(), Qt::Key_Return);
}

QJsonObject bodyOf(const RecordedRequest &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

} // namespace

class MacAskPanelTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        m_server = std::make_unique<FakeHttpServer>();
        QVERIFY(m_server->start());
        m_secrets.keychainSave(QStringLiteral("token-1"), SecretKeys::token);
        m_api = std::make_unique<APIClient>(m_server->url(u"/api"_qs), m_secrets, m_network);
        m_panel = std::make_unique<MacAskPanel>(*m_api);
        m_panel->resize(460, 540);
        m_panel->show();
    }
    void cleanup()
    {
        m_panel.reset();
        m_api.reset();
        // Closing the idle connections lets the server stop without waiting out its keep-alive.
        m_network.clearConnectionCache();
        m_server.reset();
    }

    void answersWithPlayableCardsAndSendsHistory()
    {
        QSignalSpy answered(m_panel.get(), &MacAskPanel::answered);
        QSignalSpy played(m_panel.get(), &MacAskPanel::playRequested);
        m_server->enqueue(kAssistant,
                          FakeReply::json(answerBody(u"I found **two** videos"_qs,
                                                     {video(u"aaaaaaaaaaa"_qs, u"Paris at night"_qs, 2019, u"4:05"_qs),
                                                      video(u"bbbbbbbbbbb"_qs, u"Louvre"_qs, u"x"_qs, u""_qs)})));
        send(m_panel.get(), QStringLiteral("  paris \t"));
        QVERIFY(m_panel->input()->text().isEmpty());
        QVERIFY(m_panel->conversation().thinking());
        QVERIFY(!m_panel->sendButton()->isEnabled());
        QVERIFY(answered.wait(5000));

        const QJsonObject first = bodyOf(m_server->lastRequest());
        QCOMPARE(first.value(u"q"_qs).toString(), u"paris"_qs);
        QVERIFY(first.value(u"history"_qs).isArray());
        QVERIFY(first.value(u"history"_qs).toArray().isEmpty());

        const auto cards = m_panel->findChildren<MacAskVideoCard *>();
        QCOMPARE(cards.size(), 2);
        QCOMPARE(cards.at(0)->accessibleDescription(), u"2019 \u00b7 4:05"_qs);
        QCOMPARE(cards.at(1)->accessibleDescription(), QString());
        QTest::mouseClick(cards.at(1), Qt::LeftButton);
        QCOMPARE(played.size(), 1);
        QCOMPARE(played.at(0).at(0).value<AskVideo>().youtubeID, u"bbbbbbbbbbb"_qs);

        m_server->enqueue(kAssistant, FakeReply::json(answerBody(u"Yes."_qs)));
        QTest::keyClicks(m_panel->input(), QStringLiteral("and later?"));
        QTest::mouseClick(m_panel->sendButton(), Qt::LeftButton);
        QVERIFY(answered.wait(5000));
        const QJsonArray history = bodyOf(m_server->lastRequest()).value(u"history"_qs).toArray();
        QCOMPARE(history.size(), 1);
        QCOMPARE(history.at(0).toObject().value(u"q"_qs).toString(), u"paris"_qs);
        QCOMPARE(history.at(0).toObject().value(u"a"_qs).toString(), u"I found **two** videos"_qs);
    }

    void oneQuestionAtATime()
    {
        QSignalSpy answered(m_panel.get(), &MacAskPanel::answered);
        FakeReply slow = FakeReply::json(answerBody(u"ok"_qs));
        slow.delay = std::chrono::milliseconds(400);
        m_server->enqueue(kAssistant, slow);
        send(m_panel.get(), QStringLiteral("first"));
        // The user may keep typing; Return does nothing until the answer is in.
        send(m_panel.get(), QStringLiteral("second"));
        QCOMPARE(m_panel->input()->text(), u"second"_qs);
        QVERIFY(answered.wait(5000));
        QCOMPARE(m_server->requestCount(), 1);
        QVERIFY(m_panel->sendButton()->isEnabled());
    }

    void failuresBecomeErrorBubbles_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::newRow("server error") << 500 << "Server error (500)";
        QTest::newRow("refused token") << 401 << "Signed out \u2014 check your password";
        QTest::newRow("no answer") << 200 << "Unexpected server response";
        QTest::newRow("not JSON") << -200 << "Something went wrong \u2014 try again.";
        QTest::newRow("transport") << 0 << "Something went wrong \u2014 try again.";
    }
    void failuresBecomeErrorBubbles()
    {
        QFETCH(int, status);
        QFETCH(QString, text);
        if (status == 0)
            m_server->stop();
        else if (status < 0)
            m_server->enqueue(kAssistant, FakeReply::json("{\"answer\": no", -status));
        else
            m_server->enqueue(kAssistant, FakeReply::json(R"({"videos":[]})", status));
        QSignalSpy answered(m_panel.get(), &MacAskPanel::answered);
        send(m_panel.get(), QStringLiteral("anything"));
        QVERIFY(answered.wait(10000));
        const AskMessage last = m_panel->conversation().messages().constLast();
        QCOMPARE(last.role, AskMessage::Role::error);
        QCOMPARE(last.text, text);
        QVERIFY(!m_panel->conversation().thinking());
    }

    void closingWhileWaitingIsSafe()
    {
        FakeReply slow = FakeReply::json(answerBody(u"late"_qs));
        slow.delay = std::chrono::milliseconds(200);
        m_server->enqueue(kAssistant, slow);
        send(m_panel.get(), QStringLiteral("question"));
        m_panel.reset();
        QTest::qWait(500);
        QCOMPARE(m_server->requestCount(), 1);
    }

    void overlayStartsAfreshAndClosesByEscapeAndBackdrop()
    {
        m_panel.reset();
        QWidget window;
        window.resize(900, 700);
        MacAskOverlay overlay(*m_api, &window);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy changed(&overlay, &MacAskOverlay::openChanged);

        overlay.open();
        QVERIFY(overlay.panel());
        QCOMPARE(overlay.panel()->geometry(), QRect((900 - 460) / 2, (700 - 540) / 2, 460, 540));
        QTRY_VERIFY(overlay.panel()->input()->hasFocus());
        m_server->enqueue(kAssistant, FakeReply::json(answerBody(u"ok"_qs)));
        QSignalSpy answered(overlay.panel(), &MacAskPanel::answered);
        send(overlay.panel(), QStringLiteral("hello"));
        QVERIFY(answered.wait(5000));
        QCOMPARE(overlay.panel()->conversation().messages().size(), 3);

        QTest::keyClick(overlay.panel()->input(), Qt::Key_Escape);
        QVERIFY(!overlay.isOpen());
        QTRY_VERIFY(!overlay.panel());

        overlay.open();
        QCOMPARE(overlay.panel()->conversation().messages().size(), 1);
        // A click beside the panel is a click on the backdrop.
        QTest::mouseClick(&overlay, Qt::LeftButton, {}, QPoint(20, 20));
        QVERIFY(!overlay.isOpen());
        QCOMPARE(changed.size(), 4);

        // Small windows shrink the panel to keep its margins.
        window.resize(500, 400);
        overlay.open();
        QCOMPARE(overlay.panel()->geometry(), QRect(20, 24, 460, 400 - 48));
    }

    // A long conversation keeps its newest content in view.
    void longConversationKeepsTheEndInView()
    {
        QSignalSpy answered(m_panel.get(), &MacAskPanel::answered);
        QJsonArray videos;
        for (const QString &id : {u"aaaaaaaaaaa"_qs, u"bbbbbbbbbbb"_qs, u"ccccccccccc"_qs})
            videos.append(video(id, u"Paris at night — a walk along the Seine"_qs, 2019, u"1:04:05"_qs));
        for (int n = 0; n < 3; ++n) {
            m_server->enqueue(kAssistant, FakeReply::json(answerBody(u"I found **3 videos** from Paris."_qs, videos)));
            send(m_panel.get(), u"Find me a video of me in Paris"_qs);
            QVERIFY(answered.wait(5000));
        }
        QCOMPARE(m_panel->conversation().messages().size(), 7);
        QScrollBar *bar = m_panel->findChild<QScrollArea *>()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QTRY_COMPARE(bar->value(), bar->maximum());
    }

private:
    std::unique_ptr<FakeHttpServer> m_server;
    MemorySecretStore m_secrets;
    QNetworkAccessManager m_network;
    std::unique_ptr<APIClient> m_api;
    std::unique_ptr<MacAskPanel> m_panel;
};

CLIPVANE_WIDGET_TEST_MAIN(MacAskPanelTest)
#include "MacAskPanelTest.moc"
