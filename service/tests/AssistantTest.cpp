#include "Assistant.h"
#include "ExtrasFakeServer.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <QtTest>

using namespace clipvane::service;
using clipvane::service::test::ExtrasFakeServer;

namespace {

using Ids = QList<qint64>;

// Thursday 14 March 2024, noon UTC.
qint64 at(int year, int month, int day, int hour = 12)
{
    return QDateTime(QDate(year, month, day), QTime(hour, 0), QTimeZone::utc()).toMSecsSinceEpoch();
}

const qint64 kNow = at(2024, 3, 14);

LibraryVideo video(qint64 id, const char *youtubeID, const QString &title, const char *uploadDate, const char *duration,
                   qint64 createdAt, const char *owner = "")
{
    const QString ytID = QString::fromLatin1(youtubeID);
    return {id,
            ytID,
            title,
            u"https://youtu.be/"_qs + ytID,
            QString::fromLatin1(uploadDate),
            QString::fromLatin1(duration),
            QString::fromLatin1(owner),
            createdAt};
}

QList<LibraryVideo> library()
{
    return {
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
}

Ids idsOf(const QList<LibraryVideo> &videos)
{
    Ids ids;
    for (const LibraryVideo &v : videos)
        ids.append(v.id);
    return ids;
}

QList<AssistantTurn> turns(const QStringList &questions)
{
    QList<AssistantTurn> history;
    for (const QString &q : questions)
        history.append({q, u"(an answer)"_qs});
    return history;
}

std::string chatReply(const QString &content)
{
    const QJsonObject reply{
        {u"id"_qs, u"chatcmpl-1"_qs},
        {u"choices"_qs, QJsonArray{QJsonObject{
                            {u"index"_qs, 0},
                            {u"message"_qs, QJsonObject{{u"role"_qs, u"assistant"_qs}, {u"content"_qs, content}}}}}}};
    return QJsonDocument(reply).toJson(QJsonDocument::Compact).toStdString();
}

} // namespace

class AssistantTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void questions_data();
    void questions();
    void followUps_data();
    void followUps();
    void emptyLibraryAndQuestion();
    void longListsAreCapped();
    void titlesCannotBreakTheMarkup();
    void modelPhrasesTheAnswer();
    void modelFailuresFallBack_data();
    void modelFailuresFallBack();
    void modelTimeoutFallsBack();
};

void AssistantTest::questions_data()
{
    QTest::addColumn<QString>("question");
    QTest::addColumn<Ids>("expected");
    QTest::addColumn<QString>("answerPart");

    QTest::newRow("title word") << u"Find me a video of me in Paris"_qs << Ids{1, 2, 10}
                                << u"I found 3 videos about “paris”:\n• **Paris at night — walking tour**"_qs;
    QTest::newRow("case and accents") << u"CAFE?"_qs << Ids{9} << u"**Café au lait tutorial**"_qs;
    QTest::newRow("plural finds singular") << u"cats"_qs << Ids{6, 7} << u"**Funny cat compilation**"_qs;
    QTest::newRow("word and year") << u"paris videos from 2019"_qs << Ids{1} << u"about “paris” from 2019"_qs;
    QTest::newRow("year alone") << u"videos in 2019"_qs << Ids{1, 3, 8, 6} << u"I found 4 videos from 2019:"_qs;
    QTest::newRow("two years") << u"anything from 2020 or 2021?"_qs << Ids{2, 4, 7} << u"from 2020 or 2021"_qs;
    QTest::newRow("before a year") << u"cooking videos from before 2020"_qs << Ids{3} << u"from 2019 or earlier"_qs;
    QTest::newRow("decade") << u"videos from the 2010s"_qs << Ids{1, 3, 8, 5, 6} << u"from 2010 to 2019"_qs;
    QTest::newRow("today") << u"what did I add today?"_qs << Ids{9, 1} << u"added today"_qs;
    QTest::newRow("yesterday") << u"yesterday"_qs << Ids{2} << u"I found 1 video added yesterday:"_qs;
    QTest::newRow("this week") << u"What did I add this week?"_qs << Ids{9, 1, 2, 3} << u"added this week"_qs;
    QTest::newRow("last week") << u"last week"_qs << Ids{4} << u"added last week"_qs;
    QTest::newRow("this month") << u"this month"_qs << Ids{9, 1, 2, 3, 4, 8} << u"added this month"_qs;
    QTest::newRow("last month") << u"what did I save last month"_qs << Ids{5, 10} << u"added last month"_qs;
    QTest::newRow("last days") << u"in the last 3 days"_qs << Ids{9, 1, 2} << u"added in the last 3 days"_qs;
    QTest::newRow("added this year") << u"how many videos did I add this year?"_qs << Ids{9, 1, 2, 3, 4, 8, 5, 10, 6}
                                     << u"You have 9 videos added this year:"_qs;
    QTest::newRow("uploaded last year") << u"videos from last year"_qs << Ids{}
                                        << u"I couldn't find any videos from 2023 in your library."_qs;
    QTest::newRow("longest") << u"What's my longest video?"_qs << Ids{10}
                             << u"Your longest video is **Shared: Paris marathon** (3:30:00)."_qs;
    QTest::newRow("shortest about a word")
        << u"the shortest paris video"_qs << Ids{2}
        << u"Your shortest video about “paris” is **A day in Paris with friends** (12:34)."_qs;
    QTest::newRow("shortest, plural") << u"shortest videos"_qs << Ids{6, 7, 3, 2, 8, 4, 1, 5, 10}
                                      << u"Your shortest videos, shortest first:\n• **Cats being cats** (0:45)"_qs;
    QTest::newRow("shorter than") << u"videos shorter than 5 minutes"_qs << Ids{6, 7} << u"shorter than 5 minutes"_qs;
    QTest::newRow("longer than an hour") << u"anything longer than an hour?"_qs << Ids{1, 5, 10}
                                         << u"longer than an hour"_qs;
    QTest::newRow("under minutes") << u"under 10 min"_qs << Ids{3, 6, 7} << u"shorter than 10 minutes"_qs;
    QTest::newRow("at least") << u"at least 2 hours"_qs << Ids{5, 10} << u"at least 2 hours long"_qs;
    QTest::newRow("between") << u"between 10 and 20 minutes"_qs << Ids{2, 8} << u"between 10 minutes and 20 minutes"_qs;
    QTest::newRow("short videos") << u"short videos please"_qs << Ids{6, 7} << u"shorter than 5 minutes"_qs;
    QTest::newRow("newest") << u"most recent"_qs << Ids{9}
                            << u"The latest video you added is **Café au lait tutorial**."_qs;
    QTest::newRow("oldest") << u"oldest video"_qs << Ids{7}
                            << u"The first video you added is **Funny cat compilation**."_qs;
    QTest::newRow("count all") << u"How many videos do I have?"_qs << Ids{}
                               << u"You have 10 videos in your library."_qs;
    QTest::newRow("count some") << u"how many cooking videos?"_qs << Ids{3, 4}
                                << u"You have 2 videos about “cooking”:"_qs;
    QTest::newRow("count none") << u"how many videos about knitting"_qs << Ids{}
                                << u"I couldn't find any videos about “knitting”"_qs;
    QTest::newRow("nothing matches") << u"pasta from 2021"_qs << Ids{}
                                     << u"I couldn't find any videos about “pasta” from 2021 in your library."_qs;
    QTest::newRow("some words match") << u"paris cooking"_qs << Ids{1, 2, 3, 4, 10}
                                      << u"No video matches all of “paris cooking”, but these come close:"_qs;
    QTest::newRow("all words match") << u"cooking ramen"_qs << Ids{4} << u"**Cooking ramen at home**"_qs;
    QTest::newRow("no criteria") << u"hello!"_qs << Ids{} << u"I can look through your 10 videos"_qs;
    QTest::newRow("short word not a prefix") << u"cat"_qs << Ids{6, 7} << u"about “cat”"_qs;
}

void AssistantTest::questions()
{
    QFETCH(QString, question);
    QFETCH(Ids, expected);
    QFETCH(QString, answerPart);
    const Assistant assistant(ChatModelConfig{});
    const AssistantReply reply = assistant.answer(question, {}, library(), kNow);
    QCOMPARE(idsOf(reply.videos), expected);
    QVERIFY2(reply.answer.contains(answerPart), qPrintable(reply.answer));
    for (const LibraryVideo &v : reply.videos)
        QVERIFY2(reply.answer.contains(u"**"_qs + v.title + u"**"_qs), qPrintable(reply.answer));
}

void AssistantTest::followUps_data()
{
    QTest::addColumn<QStringList>("history");
    QTest::addColumn<QString>("question");
    QTest::addColumn<Ids>("expected");
    QTest::addColumn<QString>("answerPart");

    QTest::newRow("narrow by year") << QStringList{u"paris videos"_qs} << u"and from 2020?"_qs << Ids{2}
                                    << u"about “paris” from 2020"_qs;
    QTest::newRow("replace the year") << QStringList{u"paris videos from 2019"_qs} << u"what about 2022?"_qs << Ids{10}
                                      << u"from 2022"_qs;
    QTest::newRow("replace the topic") << QStringList{u"paris videos from 2019"_qs} << u"what about rome?"_qs << Ids{8}
                                       << u"about “rome” from 2019"_qs;
    QTest::newRow("narrow by length") << QStringList{u"cooking videos"_qs} << u"and under 10 minutes?"_qs << Ids{3}
                                      << u"shorter than 10 minutes"_qs;
    QTest::newRow("superlative of the topic") << QStringList{u"cooking videos"_qs} << u"and the longest?"_qs << Ids{4}
                                              << u"Your longest video about “cooking”"_qs;
    QTest::newRow("count carries on") << QStringList{u"how many cat videos?"_qs} << u"and from 2020?"_qs << Ids{7}
                                      << u"You have 1 video about “cat” from 2020:"_qs;
    QTest::newRow("chain of follow-ups") << QStringList{u"paris"_qs, u"and from 2020?"_qs}
                                         << u"which of those are longer than 10 minutes?"_qs << Ids{2}
                                         << u"about “paris” from 2020, longer than 10 minutes"_qs;
    QTest::newRow("new topic starts afresh") << QStringList{u"paris videos from 2019"_qs} << u"cooking videos"_qs
                                             << Ids{3, 4} << u"I found 2 videos about “cooking”:"_qs;
    QTest::newRow("follow-up without context")
        << QStringList{u"hello"_qs} << u"and from 2020?"_qs << Ids{2, 7} << u"from 2020"_qs;
    QTest::newRow("old turns fade") << QStringList{u"cats"_qs, u"a"_qs, u"b"_qs, u"c"_qs, u"d"_qs, u"e"_qs, u"rome"_qs}
                                    << u"and from 2019?"_qs << Ids{8} << u"about “rome” from 2019"_qs;
}

void AssistantTest::followUps()
{
    QFETCH(QStringList, history);
    QFETCH(QString, question);
    QFETCH(Ids, expected);
    QFETCH(QString, answerPart);
    const Assistant assistant(ChatModelConfig{});
    const AssistantReply reply = assistant.answer(question, turns(history), library(), kNow);
    QCOMPARE(idsOf(reply.videos), expected);
    QVERIFY2(reply.answer.contains(answerPart), qPrintable(reply.answer));
}

void AssistantTest::emptyLibraryAndQuestion()
{
    const Assistant assistant(ChatModelConfig{});
    const AssistantReply empty = assistant.answer(u"paris"_qs, {}, {}, kNow);
    QVERIFY(empty.videos.isEmpty());
    QVERIFY(empty.answer.contains(u"Your library is empty"_qs));
    const AssistantReply blank = assistant.answer(u"   "_qs, {}, library(), kNow);
    QVERIFY(blank.videos.isEmpty());
    QVERIFY(blank.answer.startsWith(u"Ask me about your videos"_qs));
    // Nonsense never crashes and never matches everything.
    const AssistantReply noise = assistant.answer(u"**2019** "_qs + QString(5000, u'*'), {}, library(), kNow);
    QCOMPARE(idsOf(noise.videos), (Ids{1, 3, 8, 6}));
}

void AssistantTest::longListsAreCapped()
{
    QList<LibraryVideo> many;
    for (int i = 1; i <= 23; ++i)
        many.append(video(i, QByteArray("v" + QByteArray::number(i)).constData(), u"Trip part "_qs + QString::number(i),
                          "2020-01-01", "1:00", at(2024, 1, 1) + i));
    const Assistant assistant(ChatModelConfig{});
    const AssistantReply reply = assistant.answer(u"trip"_qs, {}, many, kNow);
    QCOMPARE(reply.videos.size(), 10);
    QCOMPARE(reply.videos.first().id, qint64(23));
    QVERIFY(reply.answer.startsWith(u"I found 23 videos about “trip”:"_qs));
    QVERIFY(reply.answer.endsWith(u"…and 13 more."_qs));
    QCOMPARE(reply.answer.count(u"**"_qs), 20);
}

void AssistantTest::titlesCannotBreakTheMarkup()
{
    const QList<LibraryVideo> tricky{video(1, "t1", u"Best **ever** trip"_qs, "2020-01-01", "1:00", at(2024, 1, 1)),
                                     video(2, "t2", QString(), "2020-01-01", "1:00", at(2024, 1, 2))};
    const Assistant assistant(ChatModelConfig{});
    const AssistantReply reply = assistant.answer(u"trip"_qs, {}, tricky, kNow);
    QCOMPARE(idsOf(reply.videos), Ids{1});
    QCOMPARE(reply.answer.count(u"**"_qs), 2);
    const AssistantReply untitled = assistant.answer(u"videos from 2020"_qs, {}, tricky, kNow);
    QVERIFY(untitled.answer.contains(u"**https://youtu.be/t2**"_qs));
}

void AssistantTest::modelPhrasesTheAnswer()
{
    ExtrasFakeServer model;
    const QString phrased = u"Here are your Paris videos: **Paris at night — walking tour** and two more."_qs;
    model.reply("POST", "/v1/chat/completions", 200, chatReply(u"  "_qs + phrased + u"\n"_qs));
    const Assistant assistant(ChatModelConfig{model.qBaseUrl() + u"/v1/"_qs, u"sk-test"_qs, u"test-model"_qs});

    const QList<AssistantTurn> history{{u"what did I add today?"_qs, u"Two videos."_qs}};
    const AssistantReply reply = assistant.answer(u"Find me a video of me in Paris"_qs, history, library(), kNow);
    QCOMPARE(reply.answer, phrased);
    QCOMPARE(idsOf(reply.videos), (Ids{1, 2, 10}));

    const auto requests = model.requestsTo("/v1/chat/completions");
    QCOMPARE(requests.size(), std::size_t(1));
    QCOMPARE(requests.front().headers.find("Authorization")->second, std::string("Bearer sk-test"));
    const QJsonObject body = QJsonDocument::fromJson(QByteArray::fromStdString(requests.front().body)).object();
    QCOMPARE(body.value(u"model"_qs).toString(), u"test-model"_qs);
    const QJsonArray messages = body.value(u"messages"_qs).toArray();
    QCOMPARE(messages.size(), 4);
    QCOMPARE(messages.at(0).toObject().value(u"role"_qs).toString(), u"system"_qs);
    const QString system = messages.at(0).toObject().value(u"content"_qs).toString();
    for (const QString &title :
         {u"Paris at night — walking tour"_qs, u"A day in Paris with friends"_qs, u"Shared: Paris marathon"_qs})
        QVERIFY2(system.contains(u"**"_qs + title + u"**"_qs), qPrintable(system));
    QVERIFY(!system.contains(u"Rome travel vlog"_qs));
    QVERIFY(system.contains(u"Today is 2024-03-14"_qs));
    QCOMPARE(messages.at(1).toObject().value(u"content"_qs).toString(), u"what did I add today?"_qs);
    QCOMPARE(messages.at(2).toObject().value(u"role"_qs).toString(), u"assistant"_qs);
    QCOMPARE(messages.at(3).toObject().value(u"role"_qs).toString(), u"user"_qs);
    QCOMPARE(messages.at(3).toObject().value(u"content"_qs).toString(), u"Find me a video of me in Paris"_qs);

    // Without a key no Authorization header goes out (a local model server).
    const Assistant keyless(ChatModelConfig{model.qBaseUrl() + u"/v1"_qs, {}, {}});
    QCOMPARE(keyless.answer(u"paris"_qs, {}, library(), kNow).answer, phrased);
    const auto second = model.requestsTo("/v1/chat/completions").back();
    QCOMPARE(second.headers.count("Authorization"), std::size_t(0));
    QCOMPARE(QJsonDocument::fromJson(QByteArray::fromStdString(second.body)).object().value(u"model"_qs).toString(),
             u"gpt-4o-mini"_qs);
}

void AssistantTest::modelFailuresFallBack_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("server error") << 500 << QByteArray(chatReply(u"ignored"_qs).c_str());
    QTest::newRow("rate limited") << 429 << QByteArray(R"({"error":{"message":"slow down"}})");
    QTest::newRow("not JSON") << 200 << QByteArray("<html>gateway</html>");
    QTest::newRow("no choices") << 200 << QByteArray(R"({"choices":[]})");
    QTest::newRow("choices not a list") << 200 << QByteArray(R"({"choices":{"0":1}})");
    QTest::newRow("empty content") << 200 << QByteArray(chatReply(u"   "_qs).c_str());
    QTest::newRow("content not text") << 200
                                      << QByteArray(R"({"choices":[{"message":{"role":"assistant","content":42}}]})");
    QTest::newRow("tool call only") << 200
                                    << QByteArray(R"({"choices":[{"message":{"role":"assistant","content":null}}]})");
}

void AssistantTest::modelFailuresFallBack()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    ExtrasFakeServer model;
    model.reply("POST", "/chat/completions", status, body.toStdString());
    const Assistant withModel(ChatModelConfig{model.qBaseUrl(), u"k"_qs, u"m"_qs});
    const Assistant builtIn(ChatModelConfig{});

    const AssistantReply reply = withModel.answer(u"cooking videos"_qs, {}, library(), kNow);
    const AssistantReply expected = builtIn.answer(u"cooking videos"_qs, {}, library(), kNow);
    QCOMPARE(reply.answer, expected.answer);
    QCOMPARE(idsOf(reply.videos), idsOf(expected.videos));
    QCOMPARE(model.count("/chat/completions"), std::size_t(1));
}

void AssistantTest::modelTimeoutFallsBack()
{
    ExtrasFakeServer model;
    model.on("POST", "/chat/completions", [&model](const httplib::Request &, httplib::Response &response) {
        model.holdUntilReleased();
        response.set_content(chatReply(u"too late"_qs), "application/json");
    });
    ChatModelConfig config{model.qBaseUrl(), u"k"_qs, u"m"_qs};
    config.timeout = std::chrono::milliseconds(300);
    const AssistantReply reply = Assistant(config).answer(u"cats"_qs, {}, library(), kNow);
    model.release();
    QVERIFY(reply.answer.contains(u"I found 2 videos about “cats”"_qs));
    QCOMPARE(idsOf(reply.videos), (Ids{6, 7}));
    // Nowhere to connect: the same fallback.
    const AssistantReply offline =
        Assistant(ChatModelConfig{u"http://127.0.0.1:1"_qs, {}, {}}).answer(u"cats"_qs, {}, library(), kNow);
    QCOMPARE(idsOf(offline.videos), (Ids{6, 7}));
}

QTEST_GUILESS_MAIN(AssistantTest)
#include "AssistantTest.moc"
