// The rules of the video endpoints: IDs from links, add/revive/patch/delete, the metadata
// worker, and the per-token limits.

#include "TestService.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QStandardPaths>
#include <QTest>

#include <thread>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

QJsonObject rowFor(const QList<QJsonObject> &rows, const QString &youtubeId)
{
    QJsonObject found;
    for (const QJsonObject &row : rows)
        if (row.value(u"youtube_id"_qs).toString() == youtubeId)
            found = row; // the last one delivered is the current state
    return found;
}

QString hashId(const QString &link)
{
    return u"x-"_qs +
           QString::fromLatin1(QCryptographicHash::hash(link.toUtf8(), QCryptographicHash::Sha256).toHex().left(10));
}

void addRejectRows()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("empty url") << QByteArray(R"json({"url":"","title":""})json");
    QTest::newRow("words") << QByteArray(R"json({"url":"not a link","title":""})json");
    QTest::newRow("ftp") << QByteArray(R"json({"url":"ftp://example.com/x"})json");
    QTest::newRow("script") << QByteArray(R"json({"url":"javascript:alert(1)"})json");
    QTest::newRow("no host") << QByteArray(R"json({"url":"http://"})json");
    QTest::newRow("space in link") << QByteArray(R"json({"url":"https://exa mple.com/"})json");
    QTest::newRow("url not a string") << QByteArray(R"json({"url":5})json");
    QTest::newRow("title not a string") << QByteArray(R"json({"url":"https://youtu.be/abcdef123","title":7})json");
    QTest::newRow("neither url nor id") << QByteArray(R"json({"title":"x"})json");
    QTest::newRow("array body") << QByteArray(R"json(["https://youtu.be/abcdef123"])json");
    QTest::newRow("malformed") << QByteArray(R"json({"url": )json");
    QTest::newRow("empty body") << QByteArray();
}

void patchRejectRows()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("id not a string") << QByteArray(R"json({"youtube_id":12345678})json");
    QTest::newRow("empty id") << QByteArray(R"json({"youtube_id":""})json");
    QTest::newRow("excluded 2") << QByteArray(R"json({"youtube_id":"patch12345","excluded":2})json");
    QTest::newRow("excluded text") << QByteArray(R"json({"youtube_id":"patch12345","excluded":"1"})json");
    QTest::newRow("title number") << QByteArray(R"json({"youtube_id":"patch12345","title":1})json");
    QTest::newRow("title too long") << (QByteArray(R"json({"youtube_id":"patch12345","title":")json") +
                                        QByteArray(1001, 'a') + QByteArray("\"}"));
    QTest::newRow("date too long") << (QByteArray(R"json({"youtube_id":"patch12345","upload_date":")json") +
                                       QByteArray(65, '1') + QByteArray("\"}"));
    QTest::newRow("url too long") << (QByteArray(R"json({"url":"https://example.com/)json") + QByteArray(4100, 'a') +
                                      QByteArray("\"}"));
}

} // namespace

class VideoRulesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void addTakesIdFromLink_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("url");
        QTest::newRow("watch link keeps its address")
            << u"https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=10"_qs << u"dQw4w9WgXcQ"_qs
            << u"https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=10"_qs;
        QTest::newRow("short link") << u"https://youtu.be/abcdef123"_qs << u"abcdef123"_qs
                                    << u"https://youtu.be/abcdef123"_qs;
        QTest::newRow("link inside words gets the short link")
            << u"look at youtube.com/shorts/xyz789abc please"_qs << u"xyz789abc"_qs << u"https://youtu.be/xyz789abc"_qs;
        QTest::newRow("other web link gets a hash ID")
            << u"https://example.com/page?a=1"_qs << hashId(u"https://example.com/page?a=1"_qs)
            << u"https://example.com/page?a=1"_qs;
        QTest::newRow("surrounding blanks do not change the hash")
            << u"  https://example.com/page?a=1 \n"_qs << hashId(u"https://example.com/page?a=1"_qs)
            << u"https://example.com/page?a=1"_qs;
    }
    void addTakesIdFromLink()
    {
        QFETCH(QString, link);
        QFETCH(QString, id);
        QFETCH(QString, url);
        TestService service;
        const QJsonObject video = service.add(service.token(u"a@example.com"_qs), link);
        QCOMPARE(video.value(u"youtube_id"_qs).toString(), id);
        QCOMPARE(video.value(u"url"_qs).toString(), url);
        QVERIFY(!video.value(u"title"_qs).toString().isEmpty());
        QCOMPARE(video.value(u"deleted"_qs).toInt(), 0);
        QCOMPARE(video.value(u"read_only"_qs).toInt(), 0);
        QCOMPARE(video.value(u"source"_qs).toString(), u"app"_qs);
    }

    void addRejectsWhatIsNoLink_data() { addRejectRows(); }
    void addRejectsWhatIsNoLink()
    {
        QFETCH(QByteArray, body);
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        const Reply reply = service.postRaw(token, "/api/upsert.php", body.toStdString());
        QCOMPARE(reply.status, 400);
        QVERIFY(reply.isJsonObject);
        QVERIFY(!reply.json.value(u"error"_qs).toString().isEmpty());
        qint64 cursor = 0;
        QVERIFY(service.pullAll(token, cursor).isEmpty());
    }

    void addOfLiveVideoReturnsItAndReplacesTitleWhenGiven()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        const QJsonObject first = service.add(token, u"https://youtu.be/abcdef123"_qs);
        QCOMPARE(first.value(u"title"_qs).toString(), u"Title of abcdef123"_qs);

        const QJsonObject again = service.add(token, u"https://www.youtube.com/watch?v=abcdef123"_qs);
        QCOMPARE(again, first);
        QCOMPARE(service.metadata().calls(u"abcdef123"_qs), 1);

        const QJsonObject renamed = service.add(token, u"https://youtu.be/abcdef123"_qs, u"My name"_qs);
        QCOMPARE(renamed.value(u"title"_qs).toString(), u"My name"_qs);
        QCOMPARE(renamed.value(u"id"_qs), first.value(u"id"_qs));
        QVERIFY(renamed.value(u"updated_at"_qs).toInteger() > first.value(u"updated_at"_qs).toInteger());
        QCOMPARE(renamed.value(u"url"_qs), first.value(u"url"_qs));
    }

    void addUsesMetadataOrAFallbackTitle()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        service.metadata().set(u"known12345"_qs,
                               VideoMetadata{u"  A   known\tvideo "_qs, u"2019-05-06"_qs, u"1:02:03"_qs});
        const QJsonObject known = service.add(token, u"https://youtu.be/known12345"_qs);
        QCOMPARE(known.value(u"title"_qs).toString(), u"A known video"_qs);
        QCOMPARE(known.value(u"upload_date"_qs).toString(), u"2019-05-06"_qs);
        QCOMPARE(known.value(u"duration"_qs).toString(), u"1:02:03"_qs);

        // A provider's malformed date and length are not passed on.
        service.metadata().set(u"odd123456"_qs, VideoMetadata{u"Odd"_qs, u"May 2019"_qs, u"PT4M5S"_qs});
        const QJsonObject odd = service.add(token, u"https://youtu.be/odd123456"_qs);
        QCOMPARE(odd.value(u"upload_date"_qs).toString(), QString());
        QCOMPARE(odd.value(u"duration"_qs).toString(), QString());

        const QString link = u"https://example.com/article"_qs;
        const QJsonObject other = service.add(token, link);
        QCOMPARE(other.value(u"title"_qs).toString(), link);
        QCOMPARE(service.metadata().calls(hashId(link)), 0);
    }

    void workerFillsMetadataLaterThroughThePull()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        service.metadata().failNext(u"later12345"_qs, 2);
        const QJsonObject added = service.add(token, u"https://youtu.be/later12345"_qs);
        QCOMPARE(added.value(u"title"_qs).toString(), u"YouTube video later12345"_qs);
        QCOMPARE(added.value(u"upload_date"_qs).toString(), QString());

        PullMirror client(service, token, added.value(u"updated_at"_qs).toInteger() + 1);
        QTRY_COMPARE_WITH_TIMEOUT(client.sync().title(u"later12345"_qs), u"Title of later12345"_qs, 5000);
        const QJsonObject filled = client.row(u"later12345"_qs);
        QCOMPARE(filled.value(u"upload_date"_qs).toString(), u"2020-01-02"_qs);
        QCOMPARE(filled.value(u"duration"_qs).toString(), u"3:04"_qs);
        QVERIFY(filled.value(u"updated_at"_qs).toInteger() > added.value(u"updated_at"_qs).toInteger());
        QCOMPARE(service.metadata().calls(u"later12345"_qs), 3);
    }

    void workerGivesUpAfterBoundedAttempts()
    {
        TestService service; // three attempts, 20 ms then 40 ms apart
        const QString token = service.token(u"a@example.com"_qs);
        service.metadata().failNext(u"never12345"_qs, 1000);
        service.add(token, u"https://youtu.be/never12345"_qs);
        QTRY_COMPARE_WITH_TIMEOUT(service.metadata().calls(u"never12345"_qs), 3, 5000);
        QTest::qWait(300);
        QCOMPARE(service.metadata().calls(u"never12345"_qs), 3);
        qint64 cursor = 0;
        QCOMPARE(rowFor(service.pullAll(token, cursor), u"never12345"_qs).value(u"title"_qs).toString(),
                 u"YouTube video never12345"_qs);
    }

    void workerKeepsTheUsersTitle()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        service.metadata().failNext(u"named12345"_qs, 1);
        service.metadata().failNext(u"edited1234"_qs, 1);
        service.metadata().hold(true);
        std::thread adds([&] {
            service.add(token, u"https://youtu.be/named12345"_qs, u"Given"_qs);
            service.add(token, u"https://youtu.be/edited1234"_qs);
        });
        QTRY_COMPARE(service.metadata().waiting(), 1);
        service.metadata().hold(false);
        adds.join();
        service.patch(token, QJsonObject{{u"youtube_id"_qs, u"edited1234"_qs}, {u"title"_qs, u"Edited"_qs}});
        QTRY_COMPARE_WITH_TIMEOUT(service.metadata().calls(u"named12345"_qs), 2, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(service.metadata().calls(u"edited1234"_qs), 2, 5000);
        PullMirror client(service, token);
        QTRY_COMPARE_WITH_TIMEOUT(client.sync().row(u"edited1234"_qs).value(u"duration"_qs).toString(), u"3:04"_qs,
                                  5000);
        QTRY_COMPARE_WITH_TIMEOUT(client.sync().row(u"named12345"_qs).value(u"duration"_qs).toString(), u"3:04"_qs,
                                  5000);
        QCOMPARE(client.title(u"named12345"_qs), u"Given"_qs);
        QCOMPARE(client.title(u"edited1234"_qs), u"Edited"_qs);
    }

    void patchChangesTheOwnCopy()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        const QJsonObject added = service.add(token, u"https://youtu.be/patch12345"_qs);
        const QJsonObject patched = service.patch(token, QJsonObject{{u"youtube_id"_qs, u"patch12345"_qs},
                                                                     {u"excluded"_qs, 1},
                                                                     {u"title"_qs, u"Line one\nline two"_qs},
                                                                     {u"upload_date"_qs, u"2020/01/02"_qs},
                                                                     {u"duration"_qs, u""_qs}});
        QCOMPARE(patched.value(u"excluded"_qs).toInt(), 1);
        QCOMPARE(patched.value(u"title"_qs).toString(), u"Line one\nline two"_qs);
        QCOMPARE(patched.value(u"upload_date"_qs).toString(), u"2020/01/02"_qs); // stored as typed
        QCOMPARE(patched.value(u"duration"_qs).toString(), QString());
        QCOMPARE(patched.value(u"created_at"_qs), added.value(u"created_at"_qs));
        QVERIFY(patched.value(u"updated_at"_qs).toInteger() > added.value(u"updated_at"_qs).toInteger());

        // A blank title leaves the title; JSON false clears the flag; absent fields stay.
        const QJsonObject blank = service.patch(
            token, QJsonObject{{u"youtube_id"_qs, u"patch12345"_qs}, {u"title"_qs, u"  "_qs}, {u"excluded"_qs, false}});
        QCOMPARE(blank.value(u"title"_qs).toString(), u"Line one\nline two"_qs);
        QCOMPARE(blank.value(u"excluded"_qs).toInt(), 0);
        QCOMPARE(blank.value(u"upload_date"_qs).toString(), u"2020/01/02"_qs);
    }

    void patchRejectsMalformedFields_data() { patchRejectRows(); }
    void patchRejectsMalformedFields()
    {
        QFETCH(QByteArray, body);
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        const QJsonObject added = service.add(token, u"https://youtu.be/patch12345"_qs);
        const Reply reply = service.postRaw(token, "/api/upsert.php", body.toStdString());
        QCOMPARE(reply.status, 400);
        QVERIFY(reply.json.contains(u"error"_qs));
        qint64 cursor = 0;
        const QList<QJsonObject> rows = service.pullAll(token, cursor);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first(), added);
    }

    void editOfDeletedVideoRevivesIt()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        service.add(token, u"https://youtu.be/revive1234"_qs);
        service.remove(token, u"revive1234"_qs);
        const QJsonObject revived =
            service.patch(token, QJsonObject{{u"youtube_id"_qs, u"revive1234"_qs}, {u"title"_qs, u"Back"_qs}});
        QCOMPARE(revived.value(u"deleted"_qs).toInt(), 0);
        QCOMPARE(revived.value(u"title"_qs).toString(), u"Back"_qs);
        qint64 cursor = 0;
        const QJsonObject pulled = rowFor(service.pullAll(token, cursor), u"revive1234"_qs);
        QCOMPARE(pulled, revived);
    }

    void addOfDeletedVideoRevivesItAfresh()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        const QJsonObject first = service.add(token, u"https://youtu.be/again12345"_qs);
        service.patch(token, QJsonObject{{u"youtube_id"_qs, u"again12345"_qs}, {u"excluded"_qs, 1}});
        service.remove(token, u"again12345"_qs);
        QTest::qWait(2);
        const QJsonObject again = service.add(token, u"https://youtu.be/again12345"_qs);
        QCOMPARE(again.value(u"deleted"_qs).toInt(), 0);
        QCOMPARE(again.value(u"excluded"_qs).toInt(), 0);
        QCOMPARE(again.value(u"id"_qs), first.value(u"id"_qs));
        QVERIFY(again.value(u"created_at"_qs).toInteger() > first.value(u"created_at"_qs).toInteger());
        QCOMPARE(service.metadata().calls(u"again12345"_qs), 2);
    }

    void patchOfSomethingNotOwnedSettlesTheClient()
    {
        TestService service;
        const QString owner = service.token(u"owner@example.com"_qs);
        const QString member = service.token(u"member@example.com"_qs);
        const QJsonObject original = service.add(owner, u"https://youtu.be/shared1234"_qs);
        service.share(owner, u"member@example.com"_qs);
        qint64 cursor = 0;
        const QJsonObject seen = rowFor(service.pullAll(member, cursor), u"shared1234"_qs);
        QCOMPARE(seen.value(u"read_only"_qs).toInt(), 1);

        // A shared video: 200 with the video as it stands.
        const QJsonObject answered =
            service.patch(member, QJsonObject{{u"youtube_id"_qs, u"shared1234"_qs}, {u"title"_qs, u"Mine now"_qs}});
        QCOMPARE(answered, seen);
        qint64 ownerCursor = 0;
        QCOMPARE(rowFor(service.pullAll(owner, ownerCursor), u"shared1234"_qs), original);

        // An ID the user never saw: a deletion record, delivered by the next pull too.
        const QJsonObject unknown =
            service.patch(member, QJsonObject{{u"youtube_id"_qs, u"ghost12345"_qs}, {u"title"_qs, u"Boo"_qs}});
        QCOMPARE(unknown.value(u"deleted"_qs).toInt(), 1);
        QCOMPARE(rowFor(service.pullAll(member, cursor), u"ghost12345"_qs).value(u"deleted"_qs).toInt(), 1);
    }

    void deleteLeavesTombstonesAndIsHarmlessOtherwise()
    {
        TestService service;
        const QString alice = service.token(u"alice@example.com"_qs);
        const QString bob = service.token(u"bob@example.com"_qs);
        const QJsonObject added = service.add(alice, u"https://youtu.be/gone123456"_qs);
        service.add(bob, u"https://youtu.be/bobs123456"_qs);
        qint64 cursor = added.value(u"updated_at"_qs).toInteger() + 1;
        service.remove(alice, u"gone123456"_qs);
        QList<QJsonObject> rows = service.pullAll(alice, cursor);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().value(u"deleted"_qs).toInt(), 1);
        QCOMPARE(rows.first().value(u"id"_qs), added.value(u"id"_qs));

        service.remove(alice, u"gone123456"_qs);
        service.remove(alice, u"unknown123"_qs);
        const Reply other = service.post(alice, "/api/delete.php", QJsonObject{{u"youtube_id"_qs, u"bobs123456"_qs}});
        QCOMPARE(other.status, 200);
        QVERIFY(service.pullAll(alice, cursor).isEmpty());
        qint64 bobCursor = 0;
        QCOMPARE(rowFor(service.pullAll(bob, bobCursor), u"bobs123456"_qs).value(u"deleted"_qs).toInt(), 0);

        const Reply malformed = service.post(alice, "/api/delete.php", QJsonObject{{u"id"_qs, 5}});
        QCOMPARE(malformed.status, 400);
    }

    void deleteOfSharedVideoDeliversItAgain()
    {
        TestService service;
        const QString owner = service.token(u"owner@example.com"_qs);
        const QString member = service.token(u"member@example.com"_qs);
        service.add(owner, u"https://youtu.be/keep123456"_qs);
        service.share(owner, u"member@example.com"_qs);
        qint64 cursor = 0;
        service.pullAll(member, cursor);
        service.remove(member, u"keep123456"_qs);
        const QList<QJsonObject> rows = service.pullAll(member, cursor);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().value(u"deleted"_qs).toInt(), 0);
        QCOMPARE(rows.first().value(u"owner_email"_qs).toString(), u"owner@example.com"_qs);
    }

    void tokenRateIsBounded()
    {
        TestService service([](ServiceConfig &config) { config.limits.rate = RateLimiter::Settings{0.5, 3, 8}; });
        const QString busy = service.token(u"busy@example.com"_qs);
        const QString calm = service.token(u"calm@example.com"_qs);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(service.get(busy, "/api/family.php").status, 200);
        const Reply refused = service.get(busy, "/api/family.php");
        QCOMPARE(refused.status, 429);
        QVERIFY(refused.json.contains(u"error"_qs));
        QCOMPARE(refused.header("Retry-After"), std::string("1"));
        QCOMPARE(service.get(calm, "/api/family.php").status, 200);
    }

    void requestsInFlightPerTokenAreBounded()
    {
        TestService service([](ServiceConfig &config) { config.limits.rate = RateLimiter::Settings{1000, 1000, 2}; });
        const QString busy = service.token(u"busy@example.com"_qs);
        const QString calm = service.token(u"calm@example.com"_qs);
        service.metadata().hold(true);
        std::thread first([&] { service.add(busy, u"https://youtu.be/slow111111"_qs); });
        std::thread second([&] { service.add(busy, u"https://youtu.be/slow222222"_qs); });
        QTRY_COMPARE(service.metadata().waiting(), 2);
        QCOMPARE(service.get(busy, "/api/family.php").status, 429);
        QCOMPARE(service.get(calm, "/api/family.php").status, 200);
        service.metadata().hold(false);
        first.join();
        second.join();
        QCOMPARE(service.get(busy, "/api/family.php").status, 200);
    }
};

QTEST_GUILESS_MAIN(VideoRulesTest)
#include "VideoRulesTest.moc"
