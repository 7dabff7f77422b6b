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

QString pairs(const QList<AskExchange> &history)
{
    QStringList out;
    for (const AskExchange &exchange : history)
        out.append(exchange.question + QLatin1Char('>') + exchange.answer);
    return out.join(QLatin1Char(' '));
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
        QTest::newRow("greeting only") << ""
                                       << "";
        QTest::newRow("three answered") << "qaqaqa"
                                        << "q1>a2 q3>a4 q5>a6";
        QTest::newRow("seven keep the last five") << "qaqaqaqaqaqaqa"
                                                  << "q5>a6 q7>a8 q9>a10 q11>a12 q13>a14";
        QTest::newRow("question awaiting its answer") << "qaq"
                                                      << "q1>a2";
        QTest::newRow("failed question replaced by the next") << "qeqa"
                                                              << "q3>a4";
        QTest::newRow("failed question answered later") << "qea"
                                                        << "q1>a3";
        QTest::newRow("answer without a question") << "aqa"
                                                   << "q2>a3";
        QTest::newRow("two answers to one question") << "qaa"
                                                     << "q1>a2";
    }
    void history()
    {
        QFETCH(QString, shape);
        QFETCH(QString, expected);
        QCOMPARE(pairs(AskConversation::history(script(shape))), expected);
    }

    void greetingIsNeverAQuestion()
    {
        // A greeting that happened to be followed by an answer still forms no pair.
        QList<AskMessage> messages{AskMessage::greeting(), AskMessage::bot(QStringLiteral("x"))};
        QVERIFY(AskConversation::history(messages).isEmpty());
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
        QFETCH(bool, buttonEnabled);
        QFETCH(QString, sent);
        QCOMPARE(AskConversation::canSend(draft, thinking), buttonEnabled);

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

    void finishEndsTheWaitWithOneMessage_data()
    {
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("errorKind");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("role");
        const auto role = [](AskMessage::Role r) { return int(r); };
        QTest::newRow("answer") << true << 0 << "found **two**" << role(AskMessage::Role::bot);
        QTest::newRow("server error") << false << int(APIError::Kind::http) << "Server error (500)"
                                      << role(AskMessage::Role::error);
        QTest::newRow("bad response") << false << int(APIError::Kind::badResponse) << "Unexpected server response"
                                      << role(AskMessage::Role::error);
        QTest::newRow("signed out") << false << int(APIError::Kind::unauthorized)
                                    << "Signed out \u2014 check your password" << role(AskMessage::Role::error);
        QTest::newRow("transport") << false << int(APIError::Kind::transport)
                                   << "Something went wrong \u2014 try again." << role(AskMessage::Role::error);
        QTest::newRow("not JSON") << false << int(APIError::Kind::parse) << "Something went wrong \u2014 try again."
                                  << role(AskMessage::Role::error);
    }
    void finishEndsTheWaitWithOneMessage()
    {
        QFETCH(bool, ok);
        QFETCH(int, errorKind);
        QFETCH(QString, text);
        QFETCH(int, role);
        AskConversation conversation;
        const auto outgoing = conversation.begin(QStringLiteral("what?"));
        QVERIFY(outgoing);
        QVERIFY(outgoing->history.isEmpty());
        APIError error = APIError::transport(QStringLiteral("Connection refused"));
        switch (APIError::Kind(errorKind)) {
        case APIError::Kind::http:
            error = APIError::http(500);
            break;
        case APIError::Kind::badResponse:
            error = APIError::badResponse();
            break;
        case APIError::Kind::unauthorized:
            error = APIError::unauthorized();
            break;
        case APIError::Kind::parse:
            error = APIError::parse(QStringLiteral("illegal value"));
            break;
        case APIError::Kind::transport:
            break;
        }
        const ApiResult<AskAnswer> result =
            ok ? ApiResult<AskAnswer>(AskAnswer{text, {AskVideo{u"T"_qs, u"https://x"_qs, {}, {}, {}}}})
               : ApiResult<AskAnswer>(error);
        conversation.finish(result);
        QVERIFY(!conversation.thinking());
        QCOMPARE(conversation.messages().size(), 3);
        QCOMPARE(int(conversation.messages().constLast().role), role);
        QCOMPARE(conversation.messages().constLast().text, text);
        QCOMPARE(conversation.messages().constLast().videos.size(), ok ? 1 : 0);
    }

    void answerRuns_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("runs"); // bold runs in [brackets]
        QTest::newRow("no markup") << "plain text"
                                   << "plain text";
        QTest::newRow("one pair") << "I found **Paris** for you"
                                  << "I found [Paris] for you";
        QTest::newRow("two pairs") << "**a** and **b**"
                                   << "[a] and [b]";
        QTest::newRow("lone marker stays") << "5 ** 3"
                                           << "5 ** 3";
        QTest::newRow("third marker stays") << "**a** b ** c"
                                            << "[a] b ** c";
        QTest::newRow("empty bold") << "x****y"
                                    << "xy";
        QTest::newRow("adjacent pairs") << "**a****b**"
                                        << "[ab]";
        QTest::newRow("three asterisks") << "***"
                                         << "***";
        QTest::newRow("bold starts with an asterisk") << "***a**"
                                                      << "[*a]";
        QTest::newRow("non-ASCII") << "Vidéo **Zürich — 東京** ok"
                                   << "Vidéo [Zürich — 東京] ok";
        QTest::newRow("emoji inside") << "**🎬 film**!"
                                      << "[🎬 film]!";
        QTest::newRow("empty") << ""
                               << "";
    }
    void answerRuns()
    {
        QFETCH(QString, answer);
        QFETCH(QString, runs);
        QString shown;
        for (const AskText::Run &run : AskText::answerRuns(answer))
            shown += run.bold ? QLatin1Char('[') + run.text + QLatin1Char(']') : run.text;
        QCOMPARE(shown, runs);
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
        QTest::newRow("both") << "2019"
                              << "4:05"
                              << "2019 \u00b7 4:05";
        QTest::newRow("no year") << ""
                                 << "4:05"
                                 << "4:05";
        QTest::newRow("no duration") << "2019"
                                     << ""
                                     << "2019";
        QTest::newRow("neither") << ""
                                 << ""
                                 << "";
    }
    void detailLine()
    {
        QFETCH(QString, year);
        QFETCH(QString, duration);
        QFETCH(QString, line);
        AskVideo video;
        video.year = year;
        video.duration = duration;
        QCOMPARE(AskText::detailLine(video), line);
    }
};

QTEST_GUILESS_MAIN(AskConversationTest)
#include "AskConversationTest.moc"
