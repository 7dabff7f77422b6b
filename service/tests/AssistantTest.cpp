// The assistant: its own answers to questions about the library, and a chat model's.

#include "assistant/Assistant.h"
#include "Duration.h"
#include "TestService.h"

#include <QDateTime>
#include <QTimeZone>
#include <QtTest>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

using Ids = QList<qint64>;

qint64 at(int year, int month, int day, int hour = 12)
{
    return QDateTime(QDate(year, month, day), QTime(hour, 0), QTimeZone::utc()).toMSecsSinceEpoch();
}

const qint64 kNow = at(2024, 3, 14); // a Thursday

LibraryVideo video(qint64 id, const char *youtubeID, const QString &title, const char *uploadDate, const char *duration,
                   qint64 createdAt, const char *owner = "")
{
    const QString ytID = QString::fromLatin1(youtubeID);
    return LibraryVideo(id, ytID, title, u"https://youtu.be/"_qs + ytID, QString::fromLatin1(uploadDate),
                        QString::fromLatin1(duration), QString::fromLatin1(owner), createdAt);
}

const QList<LibraryVideo> kLibrary{
    video(1, "p1", u"Paris at night — walking tour"_qs, "2019-06-01", "1:02:03", at(2024, 3, 14, 9)),
    video(2, "p2", u"A day in Paris with friends"_qs, "2020-07-15", "12:34", at(2024, 3, 13, 10)),
    video(3, "c1", u"Cooking pasta carbonara"_qs, "2019-01-20", "8:05", at(2024, 3, 11, 8)),
    video(4, "c2", u"Cooking ramen at home"_qs, "2021-03-03", "25:00", at(2024, 3, 5)),
    video(5, "m1", u"Music: lo-fi beats to relax"_qs, "2018-11-11", "2:00:00", at(2024, 2, 20)),
    video(6, "k1", u"Cats being cats"_qs, "2019-09-09", "0:45", at(2024, 1, 5)),
    video(7, "k2", u"Funny cat compilation"_qs, "2020-02-02", "4:59", at(2023, 12, 24)),
    video(8, "r1", u"Rome travel vlog"_qs, "2019-05-05", "15:00", at(2024, 3, 1)),
    video(9, "n1", u"Café au lait tutorial"_qs, "", "", at(2024, 3, 14, 11)),
    video(10, "s1", u"Shared: Paris marathon"_qs, "2022-04-10", "3:30:00", at(2024, 2, 10), "mum@example.com"),
    // The same video again through another shared library.
    video(11, "p1", u"Paris at night — walking tour"_qs, "2019-06-01", "1:02:03", at(2024, 3, 14, 9),
          "dad@example.com"),
};

Ids idsOf(const QList<LibraryVideo> &videos)
{
    Ids ids;
    for (const LibraryVideo &v : videos)
        ids.append(v.id);
    return ids;
}

AssistantReply ask(const Assistant &assistant, const QString &question, const QList<LibraryVideo> &library = kLibrary)
{
    return assistant.answer(question, {}, library, kNow);
}

// Earlier questions (each with a made-up answer) and the question, as "earlier|…|question";
// the videos found; part of the answer.
void row(const char *name, const char16_t *questions, const Ids &ids, const char16_t *answer)
{
    QStringList history = QString::fromUtf16(questions).split(u'|');
    const QString question = history.takeLast();
    QTest::newRow(name) << history << question << ids << QString::fromUtf16(answer);
}

QByteArray chatReply(const QString &content)
{
    const QJsonObject message{{u"role"_qs, u"assistant"_qs}, {u"content"_qs, content}};
    const QJsonObject reply{{u"choices"_qs, QJsonArray{QJsonObject{{u"index"_qs, 0}, {u"message"_qs, message}}}}};
    return QJsonDocument(reply).toJson(QJsonDocument::Compact);
}

} // namespace

class AssistantTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void questions_data()
    {
        QTest::addColumn<QStringList>("history");
        QTest::addColumn<QString>("question");
        QTest::addColumn<Ids>("expected");
        QTest::addColumn<QString>("answerPart");
        row("title word", u"Find me a video of me in Paris", {1, 2, 10},
            u"I found 3 videos about “paris”:\n• **Paris at night — walking tour**");
        row("case and accents", u"CAFE?", {9}, u"**Café au lait tutorial**");
        row("plural finds singular", u"cats", {6, 7}, u"**Funny cat compilation**");
        row("short word not a prefix", u"cat", {6, 7}, u"about “cat”");
        row("word and year", u"paris videos from 2019", {1}, u"about “paris” from 2019");
        row("year alone", u"videos in 2019", {1, 3, 8, 6}, u"I found 4 videos from 2019:");
        row("two years", u"anything from 2020 or 2021?", {2, 4, 7}, u"from 2020 or 2021");
        row("before a year", u"cooking videos from before 2020", {3}, u"from 2019 or earlier");
        row("decade", u"videos from the 2010s", {1, 3, 8, 5, 6}, u"from 2010 to 2019");
        row("today", u"what did I add today?", {9, 1}, u"added today");
        row("yesterday", u"yesterday", {2}, u"I found 1 video added yesterday:");
        row("this week", u"What did I add this week?", {9, 1, 2, 3}, u"added this week");
        row("last week", u"last week", {4}, u"added last week");
        row("this month", u"this month", {9, 1, 2, 3, 4, 8}, u"added this month");
        row("last month", u"what did I save last month", {5, 10}, u"added last month");
        row("last days", u"in the last 3 days", {9, 1, 2}, u"added in the last 3 days");
        row("added this year", u"how many videos did I add this year?", {9, 1, 2, 3, 4, 8, 5, 10, 6},
            u"You have 9 videos added this year:");
        row("uploaded last year", u"videos from last year", {},
            u"I couldn't find any videos from 2023 in your library.");
        row("longest", u"What's my longest video?", {10},
            u"Your longest video is **Shared: Paris marathon** (3:30:00).");
        row("shortest about a word", u"the shortest paris video", {2},
            u"Your shortest video about “paris” is **A day in Paris with friends** (12:34).");
        row("shortest, plural", u"shortest videos", {6, 7, 3, 2, 8, 4, 1, 5, 10},
            u"Your shortest videos, shortest first:\n• **Cats being cats** (0:45)");
        row("shorter than", u"videos shorter than 5 minutes", {6, 7}, u"shorter than 5 minutes");
        row("longer than an hour", u"anything longer than an hour?", {1, 5, 10}, u"longer than an hour");
        row("under minutes", u"under 10 min", {3, 6, 7}, u"shorter than 10 minutes");
        row("at least", u"at least 2 hours", {5, 10}, u"at least 2 hours long");
        row("between", u"between 10 and 20 minutes", {2, 8}, u"between 10 minutes and 20 minutes");
        row("short videos", u"short videos please", {6, 7}, u"shorter than 5 minutes");
        row("newest", u"most recent", {9}, u"The latest video you added is **Café au lait tutorial**.");
        row("oldest", u"oldest video", {7}, u"The first video you added is **Funny cat compilation**.");
        row("count all", u"How many videos do I have?", {}, u"You have 10 videos in your library.");
        row("count some", u"how many cooking videos?", {3, 4}, u"You have 2 videos about “cooking”:");
        row("count none", u"how many videos about knitting", {}, u"I couldn't find any videos about “knitting”");
        row("nothing matches", u"pasta from 2021", {},
            u"I couldn't find any videos about “pasta” from 2021 in your library.");
        row("some words match", u"paris cooking", {1, 2, 3, 4, 10},
            u"No video matches all of “paris cooking”, but these come close:");
        row("all words match", u"cooking ramen", {4}, u"**Cooking ramen at home**");
        row("no criteria", u"hello!", {}, u"I can look through your 10 videos");
        // Follow-ups narrow or replace what the earlier questions asked.
        row("narrow by year", u"paris videos|and from 2020?", {2}, u"about “paris” from 2020");
        row("replace the year", u"paris videos from 2019|what about 2022?", {10}, u"from 2022");
        row("replace the topic", u"paris videos from 2019|what about rome?", {8}, u"about “rome” from 2019");
        row("narrow by length", u"cooking videos|and under 10 minutes?", {3}, u"shorter than 10 minutes");
        row("superlative of the topic", u"cooking videos|and the longest?", {4}, u"Your longest video about “cooking”");
        row("count carries on", u"how many cat videos?|and from 2020?", {7},
            u"You have 1 video about “cat” from 2020:");
        row("chain of follow-ups", u"paris|and from 2020?|which of those are longer than 10 minutes?", {2},
            u"about “paris” from 2020, longer than 10 minutes");
        row("new topic starts afresh", u"paris videos from 2019|cooking videos", {3, 4},
            u"I found 2 videos about “cooking”:");
        row("follow-up without context", u"hello|and from 2020?", {2, 7}, u"from 2020");
        row("old turns fade", u"cats|a|b|c|d|e|rome|and from 2019?", {8}, u"about “rome” from 2019");
    }
    void questions()
    {
        QFETCH(QStringList, history);
        QFETCH(QString, question);
        QFETCH(Ids, expected);
        QFETCH(QString, answerPart);
        QList<AssistantTurn> turns;
        for (const QString &earlier : history)
            turns.append({earlier, u"(an answer)"_qs});
        const AssistantReply reply = Assistant(ChatModelConfig{}).answer(question, turns, kLibrary, kNow);
        QCOMPARE(idsOf(reply.videos), expected);
        QVERIFY2(reply.answer.contains(answerPart), qPrintable(reply.answer));
        for (const LibraryVideo &v : reply.videos)
            QVERIFY2(reply.answer.contains(u"**"_qs + v.title + u"**"_qs), qPrintable(reply.answer));
    }

    void oddLibrariesAndQuestions()
    {
        const Assistant assistant(ChatModelConfig{});
        const AssistantReply empty = ask(assistant, u"paris"_qs, {});
        QVERIFY(empty.videos.isEmpty() && empty.answer.contains(u"Your library is empty"_qs));
        const AssistantReply blank = ask(assistant, u"   "_qs);
        QVERIFY(blank.videos.isEmpty() && blank.answer.startsWith(u"Ask me about your videos"_qs));
        // Nonsense never crashes and never matches everything.
        QCOMPARE(idsOf(ask(assistant, u"**2019** "_qs + QString(5000, u'*')).videos), (Ids{1, 3, 8, 6}));

        // Long lists are capped; titles cannot break the markup; an untitled video shows its link.
        QList<LibraryVideo> many;
        for (int i = 1; i <= 23; ++i)
            many.append(video(i, QByteArray("v" + QByteArray::number(i)).constData(),
                              u"Trip part "_qs + QString::number(i), "2020-01-01", "1:00", at(2024, 1, 1) + i));
        const AssistantReply capped = ask(assistant, u"trip"_qs, many);
        QCOMPARE(capped.videos.size(), 10);
        QCOMPARE(capped.videos.first().id, qint64(23));
        QVERIFY(capped.answer.startsWith(u"I found 23 videos about “trip”:"_qs));
        QVERIFY(capped.answer.endsWith(u"…and 13 more."_qs));
        QCOMPARE(capped.answer.count(u"**"_qs), 20);
        const QList<LibraryVideo> tricky{video(1, "t1", u"Best **ever** trip"_qs, "2020-01-01", "1:00", at(2024, 1, 1)),
                                         video(2, "t2", QString(), "2020-01-01", "1:00", at(2024, 1, 2))};
        const AssistantReply bold = ask(assistant, u"trip"_qs, tricky);
        QCOMPARE(idsOf(bold.videos), Ids{1});
        QCOMPARE(bold.answer.count(u"**"_qs), 2);
        QVERIFY(ask(assistant, u"videos from 2020"_qs, tricky).answer.contains(u"**https://youtu.be/t2**"_qs));
    }

    void modelPhrasesTheAnswer()
    {
        FakeHttpServer model;
        QVERIFY(model.start());
        const QString phrased = u"Here are your Paris videos: **Paris at night — walking tour** and two more."_qs;
        model.setDefaultReply(FakeReply::json(chatReply(u"  "_qs + phrased + u"\n"_qs)));
        const Assistant assistant(ChatModelConfig{model.url(u"/v1/"_qs).toString(), u"sk-test"_qs, u"test-model"_qs});
        const QList<AssistantTurn> history{{u"what did I add today?"_qs, u"Two videos."_qs}};
        const AssistantReply reply = assistant.answer(u"Find me a video of me in Paris"_qs, history, kLibrary, kNow);
        QCOMPARE(reply.answer, phrased);
        QCOMPARE(idsOf(reply.videos), (Ids{1, 2, 10}));

        // The model hears the system prompt with the videos found, the history, then the question.
        const auto request = model.lastRequest();
        QCOMPARE(model.requestCount(), 1);
        QCOMPARE(request.path, "/v1/chat/completions");
        QCOMPARE(request.header("Authorization"), "Bearer sk-test");
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        QCOMPARE(body.value(u"model"_qs).toString(), u"test-model"_qs);
        QStringList messages;
        for (const QJsonValue &message : body.value(u"messages"_qs).toArray())
            messages.append(message[u"role"_qs].toString() + u": "_qs + message[u"content"_qs].toString());
        QCOMPARE(messages.size(), 4);
        QCOMPARE(messages.mid(1), (QStringList{u"user: what did I add today?"_qs, u"assistant: Two videos."_qs,
                                               u"user: Find me a video of me in Paris"_qs}));
        const QString system = messages.first();
        QVERIFY2(system.startsWith(u"system: "_qs) && system.contains(u"Today is 2024-03-14"_qs), qPrintable(system));
        for (const QString &title :
             {u"Paris at night — walking tour"_qs, u"A day in Paris with friends"_qs, u"Shared: Paris marathon"_qs})
            QVERIFY2(system.contains(u"**"_qs + title + u"**"_qs), qPrintable(system));
        QVERIFY(!system.contains(u"Rome travel vlog"_qs));

        // Without a key no Authorization header goes out (a local model server).
        const Assistant keyless(ChatModelConfig{model.url(u"/v1"_qs).toString(), {}, {}});
        QCOMPARE(ask(keyless, u"paris"_qs).answer, phrased);
        QVERIFY(!model.lastRequest().hasHeader("Authorization"));
        QCOMPARE(QJsonDocument::fromJson(model.lastRequest().body)[u"model"_qs].toString(), u"gpt-4o-mini"_qs);
    }

    // Whatever goes wrong with the model, the built-in answer stands.
    void modelFailuresFallBack_data()
    {
        QTest::addColumn<int>("status"); // 0: nothing listens
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("delayMs");
        const auto row = [](const char *name, int status, const QByteArray &body, int delayMs = 0) {
            QTest::newRow(name) << status << body << delayMs;
        };
        const QByteArray message = R"j({"choices":[{"message":{"role":"assistant","content":)j";
        row("server error", 500, chatReply(u"ignored"_qs));
        row("not JSON", 200, "<html>gateway</html>");
        row("no choices", 200, R"j({"choices":[]})j");
        row("choices not a list", 200, R"j({"choices":{"0":1}})j");
        row("empty content", 200, chatReply(u"   "_qs));
        row("content not text", 200, message + "42}}]}");
        row("tool call only", 200, message + "null}}]}");
        row("too slow", 200, chatReply(u"too late"_qs), 10000);
        row("nothing listens", 0, {});
    }
    void modelFailuresFallBack()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, delayMs);
        FakeHttpServer model;
        QVERIFY(model.start());
        FakeReply reply = FakeReply::json(body, status);
        reply.delay = std::chrono::milliseconds(delayMs);
        model.setDefaultReply(reply);
        ChatModelConfig config{status ? model.url().toString() : u"http://127.0.0.1:1"_qs, u"k"_qs, u"m"_qs};
        config.timeout = std::chrono::milliseconds(1000);
        const AssistantReply answered = ask(Assistant(config), u"cats"_qs);
        const AssistantReply builtIn = ask(Assistant(ChatModelConfig{}), u"cats"_qs);
        QCOMPARE(answered.answer, builtIn.answer);
        QCOMPARE(idsOf(answered.videos), idsOf(builtIn.videos));
        QCOMPARE(model.requestCount(), status ? 1 : 0);
        QCOMPARE(model.lastRequest().path, status ? QByteArray("/chat/completions") : QByteArray());
    }
};

QTEST_GUILESS_MAIN(AssistantTest)
#include "AssistantTest.moc"
