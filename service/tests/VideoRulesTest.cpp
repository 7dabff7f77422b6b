// The rules of the video endpoints: IDs from links, add/revive/patch/delete, the metadata
// worker, and the per-token limits.

#include "TestService.h"

#include <QCryptographicHash>
#include <QStandardPaths>
#include <QTest>

#include <thread>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

QString hashId(const QString &link)
{
    return u"x-"_qs +
           QString::fromLatin1(QCryptographicHash::hash(link.toUtf8(), QCryptographicHash::Sha256).toHex().left(10));
}

QString videoLink(int n)
{
    return u"https://youtu.be/video%1"_qs.arg(n, 4, 10, QLatin1Char('0'));
}

QJsonObject edit(const QString &id, const QString &title)
{
    return QJsonObject{{u"youtube_id"_qs, id}, {u"title"_qs, title}};
}

} // namespace

class VideoRulesTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestService> m_service; // fresh for each test, with one user
    QString m_token;

    QJsonObject add(const QString &link, const QString &title = QString())
    {
        return m_service->add(m_token, link, title);
    }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        m_service = std::make_unique<TestService>();
        m_token = m_service->token(u"a@example.com"_qs);
    }
    void cleanup() { m_service.reset(); }

    void addTakesIdFromLink_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("idAndUrl");
        const QString page = u"https://example.com/page?a=1"_qs;
        const QString watch = u"https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=10"_qs;
        QTest::newRow("watch link keeps its address") << watch << u"dQw4w9WgXcQ|"_qs + watch;
        QTest::newRow("short link") << u"https://youtu.be/abcdef123"_qs << u"abcdef123|https://youtu.be/abcdef123"_qs;
        QTest::newRow("link inside words gets the short link")
            << u"look at youtube.com/shorts/xyz789abc please"_qs << u"xyz789abc|https://youtu.be/xyz789abc"_qs;
        QTest::newRow("other web link gets a hash ID") << page << hashId(page) + u'|' + page;
        QTest::newRow("blanks around do not change the hash")
            << u"  "_qs + page + u" \n"_qs << hashId(page) + u'|' + page;
    }
    void addTakesIdFromLink()
    {
        QFETCH(QString, link);
        QFETCH(QString, idAndUrl);
        QCOMPARE(fields(add(link), "youtube_id url source deleted read_only"), idAndUrl + u"|app|0|0"_qs);
    }

    void addOfLiveVideoReturnsItAndReplacesTitleWhenGiven()
    {
        const QJsonObject first = add(u"https://youtu.be/abcdef123"_qs);
        QCOMPARE(add(u"https://www.youtube.com/watch?v=abcdef123"_qs), first);
        QCOMPARE(m_service->metadata().calls(u"abcdef123"_qs), 1);
        const QJsonObject renamed = add(u"https://youtu.be/abcdef123"_qs, u"My name"_qs);
        QCOMPARE(fields(renamed, "title id url"), u"My name|"_qs + fields(first, "id url"));
        QVERIFY(num(renamed, "updated_at") > num(first, "updated_at"));
    }

    void addTakesCleanMetadataOnly()
    {
        FakeMetadataProvider &metadata = m_service->metadata();
        metadata.set(u"known12345"_qs, VideoMetadata{u"  A   known\tvideo "_qs, u"2019-05-06"_qs, u"1:02:03"_qs});
        QCOMPARE(fields(add(u"https://youtu.be/known12345"_qs), "title upload_date duration"),
                 u"A known video|2019-05-06|1:02:03"_qs);
        // A provider's malformed date and length are not passed on.
        metadata.set(u"odd123456"_qs, VideoMetadata{u"Odd"_qs, u"May 2019"_qs, u"PT4M5S"_qs});
        QCOMPARE(fields(add(u"https://youtu.be/odd123456"_qs), "title upload_date duration"), u"Odd||"_qs);
        // Nobody knows anything about other web links: the link is the title.
        const QString link = u"https://example.com/article"_qs;
        QCOMPARE(str(add(link), "title"), link);
        QCOMPARE(metadata.calls(hashId(link)), 0);
    }

    // Missing metadata is fetched again a bounded number of times (three in the test service,
    // 20 ms then 40 ms apart), reaches clients through the pull, and never replaces the user's title.
    void workerFillsMetadataLater()
    {
        FakeMetadataProvider &metadata = m_service->metadata();
        for (const auto &[id, failures] : {std::pair(u"later12345"_qs, 2), std::pair(u"never12345"_qs, 1000),
                                           std::pair(u"named12345"_qs, 1), std::pair(u"edited1234"_qs, 2)})
            metadata.failNext(id, failures);
        const QJsonObject later = add(u"https://youtu.be/later12345"_qs);
        QCOMPARE(fields(later, "title upload_date duration"), u"YouTube video later12345||"_qs);
        add(u"https://youtu.be/never12345"_qs);
        add(u"https://youtu.be/named12345"_qs, u"Given"_qs);
        add(u"https://youtu.be/edited1234"_qs);
        m_service->patch(m_token, edit(u"edited1234"_qs, u"Edited"_qs));

        Client client(*m_service, m_token, num(later, "updated_at") + 1);
        for (const QString &id : {u"later12345"_qs, u"named12345"_qs, u"edited1234"_qs})
            QTRY_COMPARE_WITH_TIMEOUT(str(client.sync().row(id), "duration"), u"3:04"_qs, 5000);
        QCOMPARE(fields(client.row(u"later12345"_qs), "title upload_date"), u"Title of later12345|2020-01-02"_qs);
        QCOMPARE(client.title(u"named12345"_qs), u"Given"_qs);
        QCOMPARE(client.title(u"edited1234"_qs), u"Edited"_qs);
        QCOMPARE(metadata.calls(u"later12345"_qs), 3);

        QTRY_COMPARE_WITH_TIMEOUT(metadata.calls(u"never12345"_qs), 3, 5000);
        QTest::qWait(300);
        QCOMPARE(metadata.calls(u"never12345"_qs), 3);
        QCOMPARE(client.sync().title(u"never12345"_qs), u"YouTube video never12345"_qs);
    }

    void patchChangesTheOwnCopy()
    {
        const QJsonObject added = add(u"https://youtu.be/patch12345"_qs);
        QJsonObject change = edit(u"patch12345"_qs, u"Line one\nline two"_qs);
        change.insert(u"excluded"_qs, 1);
        change.insert(u"upload_date"_qs, u"2020/01/02"_qs); // stored as typed
        change.insert(u"duration"_qs, u""_qs);
        const QJsonObject patched = m_service->patch(m_token, change);
        QCOMPARE(fields(patched, "excluded title upload_date duration created_at"),
                 u"1|Line one\nline two|2020/01/02||"_qs + QString::number(num(added, "created_at")));
        QVERIFY(num(patched, "updated_at") > num(added, "updated_at"));

        // A blank title leaves the title; JSON false clears the flag; absent fields stay.
        change = edit(u"patch12345"_qs, u"  "_qs);
        change.insert(u"excluded"_qs, false);
        QCOMPARE(fields(m_service->patch(m_token, change), "excluded title upload_date"),
                 u"0|Line one\nline two|2020/01/02"_qs);
    }

    void deletedVideosRevive()
    {
        // An edit revives a deleted video with its details.
        add(u"https://youtu.be/revive1234"_qs);
        m_service->remove(m_token, u"revive1234"_qs);
        const QJsonObject revived = m_service->patch(m_token, edit(u"revive1234"_qs, u"Back"_qs));
        QCOMPARE(fields(revived, "deleted title"), u"0|Back"_qs);
        QCOMPARE(Client(*m_service, m_token).sync().row(u"revive1234"_qs), revived);

        // An add revives it afresh: not excluded, a new creation time, metadata asked again.
        const QJsonObject first = add(u"https://youtu.be/again12345"_qs);
        m_service->patch(m_token, QJsonObject{{u"youtube_id"_qs, u"again12345"_qs}, {u"excluded"_qs, 1}});
        m_service->remove(m_token, u"again12345"_qs);
        QTest::qWait(2);
        const QJsonObject again = add(u"https://youtu.be/again12345"_qs);
        QCOMPARE(fields(again, "deleted excluded id"), u"0|0|"_qs + fields(first, "id"));
        QVERIFY(num(again, "created_at") > num(first, "created_at"));
        QCOMPARE(m_service->metadata().calls(u"again12345"_qs), 2);
    }

    void patchOfSomethingNotOwnedSettlesTheClient()
    {
        const QString member = m_service->token(u"member@example.com"_qs);
        const QJsonObject original = add(u"https://youtu.be/shared1234"_qs);
        m_service->share(m_token, u"member@example.com"_qs);
        Client client(*m_service, member);
        const QJsonObject seen = client.sync().row(u"shared1234"_qs);
        QCOMPARE(num(seen, "read_only"), 1);

        // A shared video: 200 with the video as it stands, the owner's copy untouched.
        QCOMPARE(m_service->patch(member, edit(u"shared1234"_qs, u"Mine now"_qs)), seen);
        QCOMPARE(Client(*m_service, m_token).sync().row(u"shared1234"_qs), original);

        // An ID the user never saw: a deletion record, delivered by the next pull too.
        QCOMPARE(num(m_service->patch(member, edit(u"ghost12345"_qs, u"Boo"_qs)), "deleted"), 1);
        QCOMPARE(num(client.sync().row(u"ghost12345"_qs), "deleted"), 1);
    }

    void deleteLeavesTombstonesAndIsHarmlessOtherwise()
    {
        const QString bob = m_service->token(u"bob@example.com"_qs);
        const QJsonObject added = add(u"https://youtu.be/gone123456"_qs);
        m_service->add(bob, u"https://youtu.be/bobs123456"_qs);
        Client client(*m_service, m_token, num(added, "updated_at") + 1);
        m_service->remove(m_token, u"gone123456"_qs);
        const QList<QJsonObject> rows = client.sync().pulled();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(fields(rows.first(), "deleted id"), u"1|"_qs + fields(added, "id"));

        // Again, unknown, or someone else's: 200 and nothing changes.
        m_service->remove(m_token, u"gone123456"_qs);
        m_service->remove(m_token, u"unknown123"_qs);
        QCOMPARE(m_service->post(m_token, "/api/delete.php", QJsonObject{{u"youtube_id"_qs, u"bobs123456"_qs}}).status,
                 200);
        QVERIFY(client.sync().pulled().isEmpty());
        QCOMPARE(num(Client(*m_service, bob).sync().row(u"bobs123456"_qs), "deleted"), 0);

        // A member who drops a shared video gets it delivered again.
        m_service->share(bob, u"a@example.com"_qs);
        client.sync();
        m_service->remove(m_token, u"bobs123456"_qs);
        QCOMPARE(fields(client.sync().row(u"bobs123456"_qs), "deleted owner_email"), u"0|bob@example.com"_qs);
    }

    // Pages follow (updated_at, id); the pull writes its JSON by hand, yet every row comes out
    // as the replies said, character for character; a later pull brings exactly what changed.
    void pagesFollowUpdatedAtThenIdAndEqualTheReplies()
    {
        const QStringList titles{u"\"Quoted\" and back\\slash"_qs, u"tab\there, line\nbreak"_qs,
                                 u"ünïcødé — ‘quotes’ 日本語 😀"_qs, u"</script><b>&amp;"_qs};
        QList<QJsonObject> replies;
        for (int i = 0; i < 24; ++i)
            replies.append(add(videoLink(i), titles.value(i)));
        replies.append(add(u"https://example.com/a?b=c&d=%7Be%7D#top"_qs));
        Client client(*m_service, m_token, 0, 7);
        QCOMPARE(client.sync().pulled(), replies);
        QCOMPARE(client.totals(), (QList<qint64>{25, 18, 11, 4}));
        for (qsizetype i = 0; i < titles.size(); ++i)
            QCOMPARE(client.title(videoLink(int(i)).mid(17)), titles[i]);

        // Nothing new: an empty page. One change: exactly that row, stamped above the old now.
        QCOMPARE(client.sync().totals(), QList<qint64>{0});
        const qint64 now = client.cursor();
        const QJsonObject patched =
            m_service->patch(m_token, QJsonObject{{u"youtube_id"_qs, u"video0003"_qs}, {u"excluded"_qs, 1}});
        QVERIFY(num(patched, "updated_at") > now);
        QCOMPARE(client.sync().pulled(), QList<QJsonObject>{patched});
        QVERIFY2(client.problems().isEmpty(), qPrintable(client.problems().join(u'\n')));
    }

    // What can be added can be changed and deleted: one limit on IDs for every route (the
    // refusals one character over it are among the refused requests of the routes' test).
    void longestIdsWorkOnEveryRoute()
    {
        const QString id(256, u'a');
        QCOMPARE(str(add(u"https://youtu.be/"_qs + id), "youtube_id"), id);
        QCOMPARE(str(m_service->patch(m_token, edit(id, u"Renamed"_qs)), "title"), u"Renamed"_qs);
        m_service->remove(m_token, id);
        QCOMPARE(num(Client(*m_service, m_token).sync().row(id), "deleted"), 1);
    }

    // While the provider keeps failing, adds answer at once with the fallback title and the
    // worker fills them in later; its first success lets adds ask again.
    void addsStopWaitingOnAFailingProvider()
    {
        // The worker's first retry comes a second later: long enough that what the adds asked
        // is counted before the worker asks again, even on a slow sanitizer build.
        TestService service([](ServiceConfig &config) { config.metadataRetry = MetadataRetry{5, 1000, 2, 3, 60'000}; });
        const QString token = service.token(u"a@example.com"_qs);
        for (const QString &id : {u"broken0001"_qs, u"broken0002"_qs, u"broken0003"_qs}) {
            service.metadata().failNext(id, 100);
            QCOMPARE(str(service.add(token, u"https://youtu.be/"_qs + id), "title"), u"YouTube video "_qs + id);
            QCOMPARE(service.metadata().calls(id), 1);
        }
        // Open: this add would have found a title, had it asked.
        QCOMPARE(str(service.add(token, u"https://youtu.be/waiting01"_qs), "title"), u"YouTube video waiting01"_qs);
        QCOMPARE(service.metadata().calls(u"waiting01"_qs), 0);
        // The provider recovers; the worker's next fetches succeed and close the breaker again
        // (a retry of a broken one still failing afterwards would reopen it).
        for (const QString &id : {u"broken0001"_qs, u"broken0002"_qs, u"broken0003"_qs})
            service.metadata().failNext(id, 0);
        QTRY_COMPARE(Client(service, token).sync().title(u"waiting01"_qs), u"Title of waiting01"_qs);
        QTRY_COMPARE(Client(service, token).sync().title(u"broken0003"_qs), u"Title of broken0003"_qs);
        QCOMPARE(str(service.add(token, u"https://youtu.be/asksagain"_qs), "title"), u"Title of asksagain"_qs);
    }

    void tokenRateIsBounded()
    {
        TestService service([](ServiceConfig &config) { config.limits.rate = RateLimiter::Settings{0.5, 3, 8}; });
        const QString busy = service.token(u"busy@example.com"_qs);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(service.get(busy, "/api/family.php").status, 200);
        const Reply refused = service.get(busy, "/api/family.php");
        QCOMPARE(refused.status, 429);
        QVERIFY(refused.json.contains(u"error"_qs));
        QCOMPARE(refused.header("Retry-After"), std::string("1"));
        QCOMPARE(service.get(service.token(u"calm@example.com"_qs), "/api/family.php").status, 200);
    }

    void requestsInFlightPerTokenAreBounded()
    {
        TestService service([](ServiceConfig &config) { config.limits.rate = RateLimiter::Settings{1000, 1000, 2}; });
        const QString busy = service.token(u"busy@example.com"_qs);
        service.metadata().hold(true);
        std::thread first([&] { service.add(busy, u"https://youtu.be/slow111111"_qs); });
        std::thread second([&] { service.add(busy, u"https://youtu.be/slow222222"_qs); });
        QTRY_COMPARE(service.metadata().waiting(), 2);
        QCOMPARE(service.get(busy, "/api/family.php").status, 429);
        QCOMPARE(service.get(service.token(u"calm@example.com"_qs), "/api/family.php").status, 200);
        service.metadata().hold(false);
        first.join();
        second.join();
        QCOMPARE(service.get(busy, "/api/family.php").status, 200);
    }
};

QTEST_GUILESS_MAIN(VideoRulesTest)
#include "VideoRulesTest.moc"
