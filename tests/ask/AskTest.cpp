#include "../ui/WidgetTestMain.h"
#include "APIClient.h"
#include "AskBubble.h"
#include "AskConversation.h"
#include "AskOverlay.h"
#include "AskPanel.h"
#include "AskText.h"
#include "AskVideoCard.h"
#include "FakeHttpServer.h"
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

// The messages after the greeting, a letter each (question, answer, error), their texts numbered.
QList<AskMessage> script(const QString &shape)
{
    QList<AskMessage> messages{AskMessage::greeting()};
    for (qsizetype n = 1; n <= shape.size(); ++n) {
        const QChar c = shape.at(n - 1);
        const QString text = c + QString::number(n);
        messages.append(c == u'q'   ? AskMessage::user(text)
                        : c == u'a' ? AskMessage::bot(text)
                                    : AskMessage::error(text));
    }
    return messages;
}

// Adds a row of texts (UTF-8) to a table whose columns are all texts.
void row(const char *name, std::initializer_list<const char *> texts)
{
    QTestData &data = QTest::newRow(name);
    for (const char *text : texts)
        data << QString::fromUtf8(text);
}

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
void send(AskPanel *panel, const QString &question)
{
    QTest::keyClicks(panel->input(), question);
    QTest::keyClick(panel->input(), Qt::Key_Return);
}

} // namespace

class AskTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void history_data()
    {
        QTest::addColumn<QString>("shape");
        QTest::addColumn<QString>("expected");
        row("greeting only", {"", ""});
        row("three answered", {"qaqaqa", "q1>a2 q3>a4 q5>a6"});
        row("seven keep the last five", {"qaqaqaqaqaqaqa", "q5>a6 q7>a8 q9>a10 q11>a12 q13>a14"});
        row("question awaiting its answer", {"qaq", "q1>a2"});
        row("failed question replaced by the next", {"qeqa", "q3>a4"});
        row("failed question answered later", {"qea", "q1>a3"});
        row("answer without a question", {"aqa", "q2>a3"});
        row("two answers to one question", {"qaa", "q1>a2"});
        row("an answer right after the greeting forms no pair", {"a", ""});
    }
    void history()
    {
        QFETCH(QString, shape);
        QStringList pairs;
        for (const AskExchange &exchange : AskConversation::history(script(shape)))
            pairs.append(exchange.question + QLatin1Char('>') + exchange.answer);
        QTEST(pairs.join(QLatin1Char(' ')), "expected");
    }

    void sendGuards_data()
    {
        QTest::addColumn<QString>("draft");
        QTest::addColumn<bool>("thinking");
        QTest::addColumn<bool>("buttonEnabled");
        QTest::addColumn<QString>("sent"); // empty: nothing sent
        QTest::newRow("plain") << "hello" << false << true << "hello";
        QTest::newRow("trimmed") << "  \thello \n" << false << true << "hello";
        QTest::newRow("empty") << "" << false << false << "";
        QTest::newRow("spaces only") << "   " << false << false << "";
        QTest::newRow("tabs only") << "\t\t" << false << false << "";
        QTest::newRow("line breaks only: button on, nothing sent") << "\n" << false << true << "";
        QTest::newRow("while thinking") << "hello" << true << false << "";
    }
    void sendGuards()
    {
        QFETCH(QString, draft);
        QFETCH(bool, thinking);
        QFETCH(QString, sent);
        QTEST(AskConversation::canSend(draft, thinking), "buttonEnabled");

        AskConversation conversation;
        if (thinking)
            QVERIFY(conversation.begin(u"first"_qs));
        const qsizetype before = conversation.messages().size();
        const auto outgoing = conversation.begin(draft);
        QCOMPARE(outgoing.has_value(), !sent.isEmpty());
        QCOMPARE(conversation.messages().size(), before + (sent.isEmpty() ? 0 : 1));
        if (outgoing) {
            QCOMPARE(outgoing->question, sent);
            QVERIFY(conversation.thinking());
            QCOMPARE(conversation.messages().constLast().role, AskMessage::Role::user);
        }
    }

    void answerRuns_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("runs"); // bold runs in [brackets]
        row("no markup", {"plain text", "plain text"});
        row("one pair", {"I found **Paris** for you", "I found [Paris] for you"});
        row("two pairs", {"**a** and **b**", "[a] and [b]"});
        row("lone marker stays", {"5 ** 3", "5 ** 3"});
        row("third marker stays", {"**a** b ** c", "[a] b ** c"});
        row("empty bold", {"x****y", "xy"});
        row("adjacent pairs", {"**a****b**", "[ab]"});
        row("three asterisks", {"***", "***"});
        row("bold starts with an asterisk", {"***a**", "[*a]"});
        row("non-ASCII", {"Vidéo **Zürich — 東京** ok", "Vidéo [Zürich — 東京] ok"});
        row("emoji inside", {"**🎬 film**!", "[🎬 film]!"});
        row("empty", {"", ""});
    }
    void answerRuns()
    {
        QFETCH(QString, answer);
        QString shown;
        for (const AskText::Run &run : AskText::answerRuns(answer))
            shown += run.bold ? QLatin1Char('[') + run.text + QLatin1Char(']') : run.text;
        QTEST(shown, "runs");
    }

    void answerHtmlEscapesTheService()
    {
        const QString html = AskText::answerHtml(u"<b>x</b> & **<i>y</i>**"_qs);
        QVERIFY(!html.contains(u"<b>"_qs));
        QVERIFY(!html.contains(u"<i>"_qs));
        QVERIFY(html.contains(u"&lt;b&gt;x&lt;/b&gt; &amp; "_qs));
        QVERIFY(html.contains(QStringLiteral("font-weight:600\">&lt;i&gt;y&lt;/i&gt;</span>")));
    }

    void detailLine_data()
    {
        QTest::addColumn<QString>("year");
        QTest::addColumn<QString>("duration");
        QTest::addColumn<QString>("line");
        row("both", {"2019", "4:05", "2019 · 4:05"});
        row("no year", {"", "4:05", "4:05"});
        row("no duration", {"2019", "", "2019"});
        row("neither", {"", "", ""});
    }
    void detailLine()
    {
        AskVideo video;
        QFETCH(QString, year);
        QFETCH(QString, duration);
        video.year = year;
        video.duration = duration;
        QTEST(AskText::detailLine(video), "line");
    }

    void init()
    {
        m_server = std::make_unique<FakeHttpServer>();
        QVERIFY(m_server->start());
        m_secrets.keychainSave(u"token-1"_qs, SecretKeys::token);
        m_api = std::make_unique<APIClient>(m_server->url(u"/api"_qs), m_secrets, m_network);
        m_panel = std::make_unique<AskPanel>(*m_api);
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
        QSignalSpy answered(m_panel.get(), &AskPanel::answered);
        QSignalSpy played(m_panel.get(), &AskPanel::playRequested);
        m_server->enqueue(kAssistant,
                          FakeReply::json(answerBody(u"I found **two** videos"_qs,
                                                     {video(u"aaaaaaaaaaa"_qs, u"Paris at night"_qs, 2019, u"4:05"_qs),
                                                      video(u"bbbbbbbbbbb"_qs, u"Louvre"_qs, u"x"_qs, u""_qs)})));
        send(m_panel.get(), QStringLiteral("  paris \t"));
        QVERIFY(m_panel->input()->text().isEmpty());
        QVERIFY(m_panel->conversation().thinking());
        QVERIFY(!m_panel->sendButton()->isEnabled());
        QVERIFY(answered.wait(5000));

        QCOMPARE(m_server->lastRequest().body, QByteArray(R"({"history":[],"q":"paris"})"));

        const auto cards = m_panel->findChildren<AskVideoCard *>();
        QCOMPARE(cards.size(), 2);
        QCOMPARE(cards.at(0)->accessibleDescription(), u"2019 \u00b7 4:05"_qs);
        QCOMPARE(cards.at(1)->accessibleDescription(), QString());
        QTest::mouseClick(cards.at(1), Qt::LeftButton);
        QCOMPARE(played.size(), 1);
        QCOMPARE(played.at(0).at(0).value<AskVideo>().youtubeID, u"bbbbbbbbbbb"_qs);

        m_server->enqueue(kAssistant, FakeReply::json(answerBody(u"Yes."_qs)));
        QTest::keyClicks(m_panel->input(), u"and later?"_qs);
        QTest::mouseClick(m_panel->sendButton(), Qt::LeftButton);
        QVERIFY(answered.wait(5000));
        QCOMPARE(m_server->lastRequest().body,
                 QByteArray(R"({"history":[{"a":"I found **two** videos","q":"paris"}],"q":"and later?"})"));
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
        QSignalSpy answered(m_panel.get(), &AskPanel::answered);
        send(m_panel.get(), u"anything"_qs);
        QVERIFY(answered.wait(10000));
        // Exactly one message ends the wait.
        QCOMPARE(m_panel->conversation().messages().size(), 3);
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
        send(m_panel.get(), u"question"_qs);
        m_panel.reset();
        QTest::qWait(500);
        QCOMPARE(m_server->requestCount(), 1);
    }

    void overlayStartsAfreshAndClosesByEscapeAndBackdrop()
    {
        m_panel.reset();
        QWidget window;
        window.resize(900, 700);
        AskOverlay overlay(*m_api, &window);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QSignalSpy changed(&overlay, &AskOverlay::openChanged);

        overlay.open();
        QVERIFY(overlay.panel());
        QCOMPARE(overlay.panel()->geometry(), QRect((900 - 460) / 2, (700 - 540) / 2, 460, 540));
        QTRY_VERIFY(overlay.panel()->input()->hasFocus());
        m_server->enqueue(kAssistant, FakeReply::json(answerBody(u"ok"_qs)));
        QSignalSpy answered(overlay.panel(), &AskPanel::answered);
        send(overlay.panel(), u"hello"_qs);
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
        QSignalSpy answered(m_panel.get(), &AskPanel::answered);
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
    std::unique_ptr<AskPanel> m_panel;
};

CLIPVANE_WIDGET_TEST_MAIN(AskTest)
#include "AskTest.moc"
