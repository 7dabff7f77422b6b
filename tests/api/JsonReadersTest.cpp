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

constexpr qint64 kMax64 = std::numeric_limits<qint64>::max();
constexpr qint64 kMin64 = std::numeric_limits<qint64>::min();
constexpr int kMaxInt = std::numeric_limits<int>::max();
constexpr int kMinInt = std::numeric_limits<int>::min();

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

void number(const char *json, qint64 wide, int narrow, bool flag)
{
    QTest::newRow(json) << QByteArray(json) << wide << narrow << flag;
}

} // namespace

class JsonReadersTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // One value read three ways: toInt64, toInt and flag.
    void numbers_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<qint64>("wide");
        QTest::addColumn<int>("narrow");
        QTest::addColumn<bool>("flag");

        number("1", 1, 1, true);
        number("2", 2, 2, false);
        number("9223372036854775807", kMax64, 0, false);
        number("-9223372036854775808", kMin64, 0, false);
        number("2147483647", kMaxInt, kMaxInt, false);
        number("-2147483648", kMinInt, kMinInt, false);
        number("2147483648", 2147483648, 0, false);
        // Floats are truncated toward zero; past the range they read as 0.
        number("1.5", 1, 1, true);
        number("-4.9", -4, -4, false);
        number("9.2e18", 9200000000000000000, 0, false);
        number("9223372036854775808", 0, 0, false);
        number("-9.3e18", 0, 0, false);
        // Strings: an optional sign and ASCII digits, nothing else.
        number(R"("01")", 1, 1, true);
        number(R"("000000000000000000000000042")", 42, 42, false);
        number(R"("+7")", 7, 7, false);
        number(R"("9223372036854775807")", kMax64, 0, false);
        number(R"("-9223372036854775808")", kMin64, 0, false);
        number(R"("9223372036854775808")", 0, 0, false);
        number(R"("-9223372036854775809")", 0, 0, false);
        for (const char *rejected : {R"("4.5")", R"("1e3")", R"(" 42")", R"("42 ")", R"("")", R"("-")", R"("+-1")",
                                     R"("0x1F")", R"("\u0664\u0662")", R"("true")", "false", "null", "[1]", "{}"})
            number(rejected, 0, 0, false);
        number("true", 0, 0, true);
    }

    void numbers()
    {
        QFETCH(QByteArray, json);
        QFETCH(bool, flag);
        QTEST(JsonRead::toInt64(jsonValue(json)), "wide");
        QTEST(JsonRead::toInt(jsonValue(json)), "narrow");
        QCOMPARE(JsonRead::flag(jsonValue(json)), flag);
    }

    void video()
    {
        const auto full = APIVideo::fromJson(jsonObject(R"({
            "id": 7, "youtube_id": "dQw4w9WgXcQ", "title": "Never", "url": "youtu.be/dQw4w9WgXcQ",
            "upload_date": "2009-10-25", "duration": "3:33", "excluded": "1", "deleted": 0, "source": "telegram",
            "created_at": 1700000000000, "updated_at": "1700000000123", "owner_email": "mum@example.org",
            "read_only": true, "unknown": {"ignored": true}})"));
        QCOMPARE(full,
                 (APIVideo{7, u"dQw4w9WgXcQ"_qs, u"Never"_qs, u"youtu.be/dQw4w9WgXcQ"_qs, u"2009-10-25"_qs, u"3:33"_qs,
                           true, false, u"telegram"_qs, 1700000000000, 1700000000123, u"mum@example.org"_qs, true}));

        const auto odd = APIVideo::fromJson(jsonObject(R"({
            "youtube_id": "abc", "id": "x", "title": 5, "url": null, "upload_date": [], "duration": {},
            "excluded": 2, "deleted": "yes", "source": false, "created_at": "4.5", "updated_at": 4.5,
            "owner_email": 1, "read_only": "0"})"));
        APIVideo defaults; // wrong types read as defaults
        defaults.youtubeID = u"abc"_qs;
        defaults.updatedAt = 4;
        QCOMPARE(odd, defaults);

        // Without a usable identity nothing can be merged.
        for (const char *json :
             {R"({"title":"t"})", R"({"youtube_id":123})", R"({"youtube_id":null})", R"({"youtube_id":""})"})
            QVERIFY2(!APIVideo::fromJson(jsonObject(json)), json);
    }

    // A list page as the cycle reads it: "now 'revision' total widget objects: IDs (- deleted)".
    void page_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("read");
        const auto row = [](const char *json, const char *read) {
            QTest::newRow(json) << QByteArray(json) << QString::fromUtf8(read);
        };
        row(R"({"videos":[]})", "0 '0' 0 on 0:");
        row(R"({"now":"1700000000999","family_rev":"r7","total":1250.9,"widget":false,"videos":[]})",
            "1700000000999 'r7' 1250 off 0:");
        // Only text is a revision tag, and empty text is text.
        row(R"({"family_rev":5,"videos":[]})", "0 '0' 0 on 0:");
        row(R"({"family_rev":"","videos":[]})", "0 '' 0 on 0:");
        // Entries without a usable ID are dropped but counted: the count decides whether a page is full.
        row(R"({"videos":[{"youtube_id":"a","deleted":1},{"title":"no id"},{"youtube_id":7},{"youtube_id":"b"}]})",
            "0 '0' 0 on 4: -a b");
        // Only a JSON Boolean or the number 0 turns the assistant off.
        row(R"({"widget":1,"videos":[]})", "0 '0' 0 on 0:");
        row(R"({"widget":0,"videos":[]})", "0 '0' 0 off 0:");
        row(R"({"widget":"0","videos":[]})", "0 '0' 0 on 0:");
        row(R"({"widget":null,"videos":[]})", "0 '0' 0 on 0:");
        for (const char *json : {"{}", R"({"now":1})", R"({"videos":null})", R"({"videos":{"youtube_id":"a"}})",
                                 R"({"videos":"[]"})", R"({"videos":[{"youtube_id":"a"},"b"]})", R"({"videos":[[]]})"})
            row(json, "<none>");
    }

    void page()
    {
        QFETCH(QByteArray, json);
        const auto page = VideoPage::fromJson(jsonObject(json));
        QString read = u"<none>"_qs;
        if (page) {
            read = u"%1 '%2' %3 %4 %5:"_qs.arg(page->now)
                       .arg(page->familyRev)
                       .arg(page->total)
                       .arg(page->widget ? u"on"_qs : u"off"_qs)
                       .arg(page->objectCount);
            for (const APIVideo &video : page->videos)
                read += (video.deleted ? u" -"_qs : u" "_qs) + video.youtubeID;
        }
        QTEST(read, "read");
    }

    void askVideo()
    {
        const auto full = AskVideo::fromJson(
            jsonObject(R"({"title":"T","url":"U","youtube_id":"abc","duration":"1:02:03","year":2020})"));
        QCOMPARE(full, (AskVideo{u"T"_qs, u"U"_qs, u"abc"_qs, u"1:02:03"_qs, u"2020"_qs}));
        QCOMPARE(AskVideo::fromJson(jsonObject(R"({"title":"","url":"","youtube_id":5})")), AskVideo());
        for (const char *json :
             {R"({"title":"T"})", R"({"url":"U"})", R"({"title":"T","url":7})", R"({"title":null,"url":"U"})"})
            QVERIFY2(!AskVideo::fromJson(jsonObject(json)), json);

        // A year reads as text when it is a whole number of 1 or more.
        const QList<std::pair<QByteArray, QString>> years{
            {"2019", u"2019"_qs}, {R"("2019")", u"2019"_qs}, {"2019.9", u"2019"_qs}, {"1", u"1"_qs}, {"0", {}},
            {"-1", {}},           {R"("last year")", {}},    {R"("2019.5")", {}}};
        for (const auto &[year, expected] : years) {
            QJsonObject object = jsonObject(R"({"title":"t","url":"u"})");
            object.insert(u"year"_qs, jsonValue(year));
            const auto video = AskVideo::fromJson(object);
            QVERIFY2(video && video->year == expected, year.constData());
        }
    }

    // The titles of the videos read, or "<none>" when there is no answer at all.
    void askAnswer()
    {
        const QList<std::pair<QByteArray, QString>> answers{
            {R"({"answer":""})", u""_qs},
            {R"({"answer":"a","videos":[{"title":"B","url":"u"},{"title":"A","url":"u"}]})", u"B A"_qs},
            {R"({"answer":"a","videos":[{"title":"A","url":"u"},{"title":"B"},{"title":"C","url":"u"}]})", u"A C"_qs},
            {R"({"answer":"a","videos":{"title":"A","url":"u"}})", u""_qs},
            {R"({"answer":"a","videos":[{"title":"A","url":"u"},3]})", u""_qs}, // read only as a whole
            {R"({"videos":[]})", u"<none>"_qs},
            {R"({"answer":["a"]})", u"<none>"_qs}};
        for (const auto &[json, titles] : answers) {
            const auto answer = AskAnswer::fromJson(jsonObject(json));
            QStringList seen;
            for (const AskVideo &video : answer ? answer->videos : QList<AskVideo>())
                seen.append(video.title);
            QCOMPARE(answer ? seen.join(u' ') : u"<none>"_qs, titles);
        }
    }

    // Each list is read all or nothing.
    void familyLists()
    {
        const QStringList ab{u"a@x"_qs, u"b@x"_qs};
        const QStringList o{u"o@x"_qs};
        QCOMPARE(FamilyLists::fromJson(jsonObject(R"({"members":["a@x","b@x"],"shared_with_me":["o@x"]})")),
                 (FamilyLists{ab, o}));
        QCOMPARE(FamilyLists::fromJson(jsonObject(R"({"members":["a@x","b@x"]})")), (FamilyLists{ab, {}}));
        QCOMPARE(FamilyLists::fromJson(jsonObject(R"({"members":["a@x",3],"shared_with_me":["o@x"]})")),
                 (FamilyLists{{}, o}));
        QCOMPARE(FamilyLists::fromJson(jsonObject(R"({"members":"a@x","shared_with_me":{"o":1}})")), FamilyLists());
    }
};

QTEST_GUILESS_MAIN(JsonReadersTest)
#include "JsonReadersTest.moc"
