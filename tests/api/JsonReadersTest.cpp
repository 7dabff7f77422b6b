#include "APIVideo.h"
#include "AskVideo.h"
#include "FamilyLists.h"
#include "JsonRead.h"
#include "VideoPage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>
#include <limits>

using namespace clipvane;

namespace {

// The JSON value written as `text` (wrapped in an array, since the parser wants a container).
QJsonValue jsonValue(const QByteArray &text)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson("[" + text + "]", &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test JSON: %s", text.constData());
    return document.array().at(0);
}

QJsonObject jsonObject(const QByteArray &text)
{
    return jsonValue(text).toObject();
}

constexpr qint64 kMax64 = std::numeric_limits<qint64>::max();
constexpr qint64 kMin64 = std::numeric_limits<qint64>::min();

} // namespace

class JsonReadersTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toInt64_data();
    void toInt64();
    void toInt_data();
    void toInt();
    void flag_data();
    void flag();
    void text();

    void videoFields();
    void videoRequiresTextIdentity_data();
    void videoRequiresTextIdentity();
    void videoWrongTypesReadAsDefaults();

    void pageDefaults();
    void pageRejects_data();
    void pageRejects();
    void pageCountsDroppedObjects();
    void pageWidget_data();
    void pageWidget();

    void askVideoYear_data();
    void askVideoYear();
    void askVideoRequiresTitleAndUrl();
    void askAnswer_data();
    void askAnswer();

    void familyLists_data();
    void familyLists();
};

void JsonReadersTest::toInt64_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<qint64>("expected");

    QTest::newRow("integer") << QByteArray("42") << qint64(42);
    QTest::newRow("negative") << QByteArray("-42") << qint64(-42);
    QTest::newRow("milliseconds") << QByteArray("1700000000123") << qint64(1700000000123);
    QTest::newRow("largest") << QByteArray("9223372036854775807") << kMax64;
    QTest::newRow("smallest") << QByteArray("-9223372036854775808") << kMin64;
    QTest::newRow("float truncates") << QByteArray("4.5") << qint64(4);
    QTest::newRow("negative float toward zero") << QByteArray("-4.9") << qint64(-4);
    QTest::newRow("whole float") << QByteArray("4.0") << qint64(4);
    QTest::newRow("exponent") << QByteArray("1.5e3") << qint64(1500);
    QTest::newRow("big float in range") << QByteArray("9.2e18") << qint64(9200000000000000000);
    QTest::newRow("just past the range") << QByteArray("9223372036854775808") << qint64(0);
    QTest::newRow("far past the range") << QByteArray("1e300") << qint64(0);
    QTest::newRow("far below the range") << QByteArray("-9.3e18") << qint64(0);
    QTest::newRow("string") << QByteArray(R"("42")") << qint64(42);
    QTest::newRow("string with zeros") << QByteArray(R"("0042")") << qint64(42);
    QTest::newRow("string with many zeros") << QByteArray(R"("000000000000000000000000042")") << qint64(42);
    QTest::newRow("string plus") << QByteArray(R"("+7")") << qint64(7);
    QTest::newRow("string minus") << QByteArray(R"("-7")") << qint64(-7);
    QTest::newRow("string largest") << QByteArray(R"("9223372036854775807")") << kMax64;
    QTest::newRow("string smallest") << QByteArray(R"("-9223372036854775808")") << kMin64;
    QTest::newRow("string overflow") << QByteArray(R"("9223372036854775808")") << qint64(0);
    QTest::newRow("string underflow") << QByteArray(R"("-9223372036854775809")") << qint64(0);
    QTest::newRow("string float") << QByteArray(R"("4.5")") << qint64(0);
    QTest::newRow("string exponent") << QByteArray(R"("1e3")") << qint64(0);
    QTest::newRow("string leading space") << QByteArray(R"(" 42")") << qint64(0);
    QTest::newRow("string trailing space") << QByteArray(R"("42 ")") << qint64(0);
    QTest::newRow("string empty") << QByteArray(R"("")") << qint64(0);
    QTest::newRow("string sign only") << QByteArray(R"("-")") << qint64(0);
    QTest::newRow("string two signs") << QByteArray(R"("+-1")") << qint64(0);
    QTest::newRow("string hex") << QByteArray(R"("0x1F")") << qint64(0);
    QTest::newRow("string other digits") << QByteArray(R"("\u0664\u0662")") << qint64(0);
    QTest::newRow("true") << QByteArray("true") << qint64(0);
    QTest::newRow("null") << QByteArray("null") << qint64(0);
    QTest::newRow("array") << QByteArray("[1]") << qint64(0);
    QTest::newRow("object") << QByteArray(R"({"a":1})") << qint64(0);
}

void JsonReadersTest::toInt64()
{
    QFETCH(QByteArray, json);
    QFETCH(qint64, expected);
    QCOMPARE(JsonRead::toInt64(jsonValue(json)), expected);
}

void JsonReadersTest::toInt_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<int>("expected");

    QTest::newRow("integer") << QByteArray("600") << 600;
    QTest::newRow("largest") << QByteArray("2147483647") << std::numeric_limits<int>::max();
    QTest::newRow("smallest") << QByteArray("-2147483648") << std::numeric_limits<int>::min();
    QTest::newRow("too large") << QByteArray("2147483648") << 0;
    QTest::newRow("too large float") << QByteArray("3e9") << 0;
    QTest::newRow("float") << QByteArray("4.5") << 4;
    QTest::newRow("negative float") << QByteArray("-4.5") << -4;
    QTest::newRow("string") << QByteArray(R"("0042")") << 42;
    QTest::newRow("string too large") << QByteArray(R"("2147483648")") << 0;
    QTest::newRow("string float") << QByteArray(R"("4.5")") << 0;
    QTest::newRow("not a number") << QByteArray(R"("yes")") << 0;
    QTest::newRow("false") << QByteArray("false") << 0;
}

void JsonReadersTest::toInt()
{
    QFETCH(QByteArray, json);
    QFETCH(int, expected);
    QCOMPARE(JsonRead::toInt(jsonValue(json)), expected);
}

void JsonReadersTest::flag_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("expected");

    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("string 1") << QByteArray(R"("1")") << true;
    QTest::newRow("string 01") << QByteArray(R"("01")") << true;
    QTest::newRow("true") << QByteArray("true") << true;
    QTest::newRow("1.5 truncates to 1") << QByteArray("1.5") << true;
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("2") << QByteArray("2") << false;
    QTest::newRow("-1") << QByteArray("-1") << false;
    QTest::newRow("false") << QByteArray("false") << false;
    QTest::newRow("string yes") << QByteArray(R"("yes")") << false;
    QTest::newRow("string true") << QByteArray(R"("true")") << false;
    QTest::newRow("null") << QByteArray("null") << false;
}

void JsonReadersTest::flag()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, expected);
    QCOMPARE(JsonRead::flag(jsonValue(json)), expected);
}

void JsonReadersTest::text()
{
    QCOMPARE(JsonRead::text(jsonValue(R"("Fetching title\u2026")")), QStringLiteral("Fetching title\u2026"));
    QCOMPARE(JsonRead::text(jsonValue(R"("")"), QStringLiteral("x")), QString());
    QCOMPARE(JsonRead::text(jsonValue("5")), QString());
    QCOMPARE(JsonRead::text(jsonValue("null"), QStringLiteral("0")), QStringLiteral("0"));
    QCOMPARE(JsonRead::text(QJsonValue(QJsonValue::Undefined), QStringLiteral("0")), QStringLiteral("0"));
}

void JsonReadersTest::videoFields()
{
    const auto video = APIVideo::fromJson(jsonObject(R"({
        "id": 7, "youtube_id": "dQw4w9WgXcQ", "title": "Never", "url": "https://youtu.be/dQw4w9WgXcQ",
        "upload_date": "2009-10-25", "duration": "3:33", "excluded": "1", "deleted": 0, "source": "telegram",
        "created_at": 1700000000000, "updated_at": "1700000000123", "owner_email": "mum@example.org",
        "read_only": true, "unknown": {"ignored": true}})"));
    QVERIFY(video);
    QCOMPARE(video->id, qint64(7));
    QCOMPARE(video->youtubeID, QStringLiteral("dQw4w9WgXcQ"));
    QCOMPARE(video->title, QStringLiteral("Never"));
    QCOMPARE(video->url, QStringLiteral("https://youtu.be/dQw4w9WgXcQ"));
    QCOMPARE(video->uploadDate, QStringLiteral("2009-10-25"));
    QCOMPARE(video->duration, QStringLiteral("3:33"));
    QCOMPARE(video->excluded, true);
    QCOMPARE(video->deleted, false);
    QCOMPARE(video->source, QStringLiteral("telegram"));
    QCOMPARE(video->createdAt, qint64(1700000000000));
    QCOMPARE(video->updatedAt, qint64(1700000000123));
    QCOMPARE(video->ownerEmail, QStringLiteral("mum@example.org"));
    QCOMPARE(video->readOnly, true);
}

void JsonReadersTest::videoRequiresTextIdentity_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("read");

    QTest::newRow("text") << QByteArray(R"({"youtube_id":"abc"})") << true;
    QTest::newRow("missing") << QByteArray(R"({"title":"t"})") << false;
    QTest::newRow("number") << QByteArray(R"({"youtube_id":123})") << false;
    QTest::newRow("null") << QByteArray(R"({"youtube_id":null})") << false;
    QTest::newRow("empty text") << QByteArray(R"({"youtube_id":""})") << false;
}

void JsonReadersTest::videoRequiresTextIdentity()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, read);
    QCOMPARE(APIVideo::fromJson(jsonObject(json)).has_value(), read);
}

void JsonReadersTest::videoWrongTypesReadAsDefaults()
{
    const auto video = APIVideo::fromJson(jsonObject(R"({
        "youtube_id": "abc", "id": "x", "title": 5, "url": null, "upload_date": [], "duration": {},
        "excluded": 2, "deleted": "yes", "source": false, "created_at": "4.5", "updated_at": 4.5,
        "owner_email": 1, "read_only": "0"})"));
    QVERIFY(video);
    APIVideo expected;
    expected.youtubeID = QStringLiteral("abc");
    expected.updatedAt = 4;
    QCOMPARE(*video, expected);
}

void JsonReadersTest::pageDefaults()
{
    const auto page = VideoPage::fromJson(jsonObject(R"({"videos":[]})"));
    QVERIFY(page);
    QCOMPARE(page->now, qint64(0));
    QCOMPARE(page->familyRev, QStringLiteral("0"));
    QCOMPARE(page->total, 0);
    QCOMPARE(page->widget, true);
    QVERIFY(page->videos.isEmpty());
    QCOMPARE(page->objectCount, 0);

    const auto full = VideoPage::fromJson(
        jsonObject(R"({"now":"1700000000999","family_rev":"r7","total":1250.9,"widget":false,"videos":[]})"));
    QVERIFY(full);
    QCOMPARE(full->now, qint64(1700000000999));
    QCOMPARE(full->familyRev, QStringLiteral("r7"));
    QCOMPARE(full->total, 1250);
    QCOMPARE(full->widget, false);

    // Only text is a revision tag.
    QCOMPARE(VideoPage::fromJson(jsonObject(R"({"family_rev":5,"videos":[]})"))->familyRev, QStringLiteral("0"));
}

void JsonReadersTest::pageRejects_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::newRow("no keys") << QByteArray("{}");
    QTest::newRow("videos missing") << QByteArray(R"({"now":1})");
    QTest::newRow("videos null") << QByteArray(R"({"videos":null})");
    QTest::newRow("videos an object") << QByteArray(R"({"videos":{"youtube_id":"a"}})");
    QTest::newRow("videos text") << QByteArray(R"({"videos":"[]"})");
    QTest::newRow("one entry not an object") << QByteArray(R"({"videos":[{"youtube_id":"a"},"b"]})");
    QTest::newRow("nested array") << QByteArray(R"({"videos":[[]]})");
}

void JsonReadersTest::pageRejects()
{
    QFETCH(QByteArray, json);
    QVERIFY(!VideoPage::fromJson(jsonObject(json)));
}

void JsonReadersTest::pageCountsDroppedObjects()
{
    const auto page = VideoPage::fromJson(jsonObject(
        R"({"videos":[{"youtube_id":"a","deleted":1},{"title":"no id"},{"youtube_id":7},{"youtube_id":"b"}]})"));
    QVERIFY(page);
    QCOMPARE(page->objectCount, 4);
    QCOMPARE(page->videos.size(), 2);
    QCOMPARE(page->videos[0].youtubeID, QStringLiteral("a"));
    QCOMPARE(page->videos[0].deleted, true);
    QCOMPARE(page->videos[1].youtubeID, QStringLiteral("b"));
}

void JsonReadersTest::pageWidget_data()
{
    QTest::addColumn<QByteArray>("value"); // empty: key absent
    QTest::addColumn<bool>("expected");
    QTest::newRow("absent") << QByteArray() << true;
    QTest::newRow("true") << QByteArray("true") << true;
    QTest::newRow("false") << QByteArray("false") << false;
    QTest::newRow("1") << QByteArray("1") << true;
    QTest::newRow("0") << QByteArray("0") << false;
    QTest::newRow("string 0") << QByteArray(R"("0")") << true;
    QTest::newRow("null") << QByteArray("null") << true;
}

void JsonReadersTest::pageWidget()
{
    QFETCH(QByteArray, value);
    QFETCH(bool, expected);
    const QByteArray json =
        value.isEmpty() ? QByteArray(R"({"videos":[]})") : R"({"videos":[],"widget":)" + value + "}";
    const auto page = VideoPage::fromJson(jsonObject(json));
    QVERIFY(page);
    QCOMPARE(page->widget, expected);
}

void JsonReadersTest::askVideoYear_data()
{
    QTest::addColumn<QByteArray>("year"); // empty: key absent
    QTest::addColumn<QString>("expected");
    QTest::newRow("absent") << QByteArray() << QString();
    QTest::newRow("number") << QByteArray("2019") << QStringLiteral("2019");
    QTest::newRow("string") << QByteArray(R"("2019")") << QStringLiteral("2019");
    QTest::newRow("float") << QByteArray("2019.9") << QStringLiteral("2019");
    QTest::newRow("one") << QByteArray("1") << QStringLiteral("1");
    QTest::newRow("zero") << QByteArray("0") << QString();
    QTest::newRow("negative") << QByteArray("-1") << QString();
    QTest::newRow("words") << QByteArray(R"("last year")") << QString();
    QTest::newRow("string float") << QByteArray(R"("2019.5")") << QString();
}

void JsonReadersTest::askVideoYear()
{
    QFETCH(QByteArray, year);
    QFETCH(QString, expected);
    const QByteArray json =
        year.isEmpty() ? QByteArray(R"({"title":"t","url":"u"})") : R"({"title":"t","url":"u","year":)" + year + "}";
    const auto video = AskVideo::fromJson(jsonObject(json));
    QVERIFY(video);
    QCOMPARE(video->year, expected);
}

void JsonReadersTest::askVideoRequiresTitleAndUrl()
{
    const auto full = AskVideo::fromJson(
        jsonObject(R"({"title":"T","url":"U","youtube_id":"abc","duration":"1:02:03","year":2020})"));
    QVERIFY(full);
    QCOMPARE(*full, (AskVideo{QStringLiteral("T"), QStringLiteral("U"), QStringLiteral("abc"),
                              QStringLiteral("1:02:03"), QStringLiteral("2020")}));

    const auto bare = AskVideo::fromJson(jsonObject(R"({"title":"","url":"","youtube_id":5})"));
    QVERIFY(bare);
    QCOMPARE(bare->youtubeID, QString());

    QVERIFY(!AskVideo::fromJson(jsonObject(R"({"title":"T"})")));
    QVERIFY(!AskVideo::fromJson(jsonObject(R"({"url":"U"})")));
    QVERIFY(!AskVideo::fromJson(jsonObject(R"({"title":"T","url":7})")));
    QVERIFY(!AskVideo::fromJson(jsonObject(R"({"title":null,"url":"U"})")));
}

void JsonReadersTest::askAnswer_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<bool>("read");
    QTest::addColumn<QStringList>("titles");

    QTest::newRow("answer only") << QByteArray(R"({"answer":"Nothing found"})") << true << QStringList();
    QTest::newRow("empty answer") << QByteArray(R"({"answer":""})") << true << QStringList();
    QTest::newRow("videos in order")
        << QByteArray(R"({"answer":"a","videos":[{"title":"B","url":"u"},{"title":"A","url":"u"}]})") << true
        << QStringList{QStringLiteral("B"), QStringLiteral("A")};
    QTest::newRow("one without url dropped")
        << QByteArray(R"({"answer":"a","videos":[{"title":"A","url":"u"},{"title":"B"},{"title":"C","url":"u"}]})")
        << true << QStringList{QStringLiteral("A"), QStringLiteral("C")};
    QTest::newRow("videos not a list") << QByteArray(R"({"answer":"a","videos":{"title":"A","url":"u"}})") << true
                                       << QStringList();
    QTest::newRow("videos with a stray number")
        << QByteArray(R"({"answer":"a","videos":[{"title":"A","url":"u"},3]})") << true << QStringList();
    QTest::newRow("no answer") << QByteArray(R"({"videos":[]})") << false << QStringList();
    QTest::newRow("answer not text") << QByteArray(R"({"answer":["a"]})") << false << QStringList();
}

void JsonReadersTest::askAnswer()
{
    QFETCH(QByteArray, json);
    QFETCH(bool, read);
    QFETCH(QStringList, titles);

    const auto answer = AskAnswer::fromJson(jsonObject(json));
    QCOMPARE(answer.has_value(), read);
    if (!answer)
        return;
    QStringList seen;
    for (const AskVideo &video : answer->videos)
        seen.append(video.title);
    QCOMPARE(seen, titles);
}

void JsonReadersTest::familyLists_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("members");
    QTest::addColumn<QStringList>("sharedWithMe");

    const QStringList ab{QStringLiteral("a@x"), QStringLiteral("b@x")};
    QTest::newRow("both") << QByteArray(R"({"members":["a@x","b@x"],"shared_with_me":["o@x"]})") << ab
                          << QStringList{QStringLiteral("o@x")};
    QTest::newRow("members only") << QByteArray(R"({"members":["a@x","b@x"]})") << ab << QStringList();
    QTest::newRow("a number among the texts")
        << QByteArray(R"({"members":["a@x",3],"shared_with_me":[]})") << QStringList() << QStringList();
    QTest::newRow("not lists") << QByteArray(R"({"members":"a@x","shared_with_me":{"o":1}})") << QStringList()
                               << QStringList();
    QTest::newRow("nothing") << QByteArray("{}") << QStringList() << QStringList();
}

void JsonReadersTest::familyLists()
{
    QFETCH(QByteArray, json);
    QFETCH(QStringList, members);
    QFETCH(QStringList, sharedWithMe);

    const FamilyLists lists = FamilyLists::fromJson(jsonObject(json));
    QCOMPARE(lists.members, members);
    QCOMPARE(lists.sharedWithMe, sharedWithMe);
}

QTEST_GUILESS_MAIN(JsonReadersTest)
#include "JsonReadersTest.moc"
