#include "AskConversation.h"
#include "AskText.h"

#include <QTest>

using namespace clipvane;

namespace {

// A conversation written as one letter per message after the greeting: q = question,
// a = answer, e = error. Texts are numbered so pairs can be told apart.
QList<AskMessage> script(const QString &shape)
{
    QList<AskMessage> messages{AskMessage::greeting()};
    int n = 0;
    for (QChar c : shape) {
        ++n;
        if (c == QLatin1Char('q'))
            messages.append(AskMessage::user(QStringLiteral("q%1").arg(n)));
        else if (c == QLatin1Char('a'))
            messages.append(AskMessage::bot(QStringLiteral("a%1").arg(n)));
        else
            messages.append(AskMessage::error(QStringLiteral("e%1").arg(n)));
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

} // namespace

class AskConversationTest : public QObject
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
            QVERIFY(conversation.begin(QStringLiteral("first")));
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

    // An answer or a failure ends the wait with exactly one message.
    void finishEndsTheWaitWithOneMessage()
    {
        AskConversation conversation;
        QVERIFY(conversation.begin(QStringLiteral("what?"))->history.isEmpty());
        conversation.finish(AskAnswer{u"found **two**"_qs, {AskVideo{u"T"_qs, u"https://x"_qs, {}, {}, {}}}});
        QVERIFY(!conversation.thinking());
        QCOMPARE(conversation.messages().size(), 3);
        QCOMPARE(conversation.messages().constLast().role, AskMessage::Role::bot);
        QCOMPARE(conversation.messages().constLast().text, u"found **two**"_qs);
        QCOMPARE(conversation.messages().constLast().videos.size(), 1);

        QVERIFY(conversation.begin(QStringLiteral("and?")));
        conversation.finish(APIError::http(500));
        QVERIFY(!conversation.thinking());
        QCOMPARE(conversation.messages().size(), 5);
        QCOMPARE(conversation.messages().constLast().role, AskMessage::Role::error);
        QCOMPARE(conversation.messages().constLast().text, u"Server error (500)"_qs);
        QVERIFY(conversation.messages().constLast().videos.isEmpty());
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
        const QString html = AskText::answerHtml(QStringLiteral("<b>x</b> & **<i>y</i>**"));
        QVERIFY(!html.contains(QStringLiteral("<b>")));
        QVERIFY(!html.contains(QStringLiteral("<i>")));
        QVERIFY(html.contains(QStringLiteral("&lt;b&gt;x&lt;/b&gt; &amp; ")));
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
};

QTEST_GUILESS_MAIN(AskConversationTest)
#include "AskConversationTest.moc"
