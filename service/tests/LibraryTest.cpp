// The rules of a library and its family over HTTP: IDs from links, add/revive/patch/delete,
// the metadata worker, the per-token limits, who sees which library, the family revision and
// account deletion. Instances sharing one database are tested in SharedDatabaseTest.

#include "LibraryFill.h"
#include "TestService.h"
#include "db/DatabaseCopy.h"
#include "db/PgStorage.h"
#include "domain/VideoLink.h"

#include <QCryptographicHash>
#include <QStandardPaths>
#include <QTest>

#include <set>
#include <thread>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

QString hashId(const QString &link)
{
    return u"x-"_qs +
           QString::fromLatin1(QCryptographicHash::hash(link.toUtf8(), QCryptographicHash::Sha256).toHex().left(10));
}

QJsonObject edit(const QString &id, const QString &title)
{
    return QJsonObject{{u"youtube_id"_qs, id}, {u"title"_qs, title}};
}

// "members" and "shared_with_me" of the family endpoint, as "a,b|c".
QString lists(const QJsonObject &family)
{
    QStringList parts;
    for (const char *key : {"members", "shared_with_me"}) {
        QStringList emails;
        for (const QJsonValue &item : family.value(QLatin1String(key)).toArray())
            emails.append(item.isObject() ? str(item.toObject(), "email") : item.toString());
        parts.append(emails.join(u','));
    }
    return parts.join(u'|');
}

} // namespace

class LibraryTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestService> m_service; // fresh for each test, with an owner and a member
    QString m_owner;
    QString m_member;

    QJsonObject add(const QString &link, const QString &title = QString())
    {
        return m_service->add(m_owner, link, title);
    }
    QString familyOf(const QString &token) { return lists(m_service->get(token, "/api/family.php").json); }
    QString revisionOf(const QString &token)
    {
        return str(m_service->get(token, "/api/videos.php?limit=1").json, "family_rev");
    }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        m_service = std::make_unique<TestService>();
        m_owner = m_service->token(u"owner@example.com"_qs);
        m_member = m_service->token(u"member@example.com"_qs);
    }
    void cleanup() { m_service.reset(); }

    void addTakesIdFromLink()
    {
        const QString page = u"https://example.com/page?a=1"_qs;
        const QString watch = u"https://www.youtube.com/watch?v=dQw4w9WgXcQ&t=10"_qs;
        for (const auto &[link, idAndUrl] : std::initializer_list<std::pair<QString, QString>>{
                 {watch, u"dQw4w9WgXcQ|"_qs + watch}, // a watch link keeps its address
                 {u"https://youtu.be/abcdef123"_qs, u"abcdef123|https://youtu.be/abcdef123"_qs},
                 {u"look at youtube.com/shorts/xyz789abc please"_qs, u"xyz789abc|https://youtu.be/xyz789abc"_qs},
                 {page, hashId(page) + u'|' + page}, // other web links get a hash ID; blanks change nothing
                 {u"  "_qs + page + u" \n"_qs, hashId(page) + u'|' + page}})
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
        m_service->patch(m_owner, edit(u"edited1234"_qs, u"Edited"_qs));

        Client client(*m_service, m_owner, num(later, "updated_at") + 1);
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
        const QJsonObject patched = m_service->patch(m_owner, change);
        QCOMPARE(fields(patched, "excluded title upload_date duration created_at"),
                 u"1|Line one\nline two|2020/01/02||"_qs + QString::number(num(added, "created_at")));
        QVERIFY(num(patched, "updated_at") > num(added, "updated_at"));

        // A blank title leaves the title; JSON false clears the flag; absent fields stay.
        change = edit(u"patch12345"_qs, u"  "_qs);
        change.insert(u"excluded"_qs, false);
        QCOMPARE(fields(m_service->patch(m_owner, change), "excluded title upload_date"),
                 u"0|Line one\nline two|2020/01/02"_qs);
    }

    // Each field of a change is written alone, so devices that change different fields never
    // undo each other; viewing is the owner's own, never shown to or changed by a member.
    void viewingIsPerFieldAndPerViewer()
    {
        add(u"https://youtu.be/watch12345"_qs);
        const QJsonObject watched =
            m_service->patch(m_owner, QJsonObject{{u"youtube_id"_qs, u"watch12345"_qs}, {u"watched"_qs, true}});
        QCOMPARE(fields(watched, "watched position"), u"1|0"_qs);
        m_service->patch(m_owner, edit(u"watch12345"_qs, u"Renamed elsewhere"_qs));
        const QJsonObject resumed =
            m_service->patch(m_owner, QJsonObject{{u"youtube_id"_qs, u"watch12345"_qs}, {u"position"_qs, 360000}});
        QCOMPARE(fields(resumed, "watched position title"), u"1|360000|Renamed elsewhere"_qs);
        QVERIFY(num(resumed, "updated_at") > num(watched, "updated_at"));
        QCOMPARE(Client(*m_service, m_owner).sync().row(u"watch12345"_qs), resumed);

        m_service->share(m_owner, u"member@example.com"_qs);
        Client member(*m_service, m_member);
        const QJsonObject seen = member.sync().row(u"watch12345"_qs);
        QCOMPARE(fields(seen, "watched position read_only"), u"0|0|1"_qs);
        QCOMPARE(m_service->patch(m_member, QJsonObject{{u"youtube_id"_qs, u"watch12345"_qs}, {u"position"_qs, 5}}),
                 seen);
        // The owner's viewing moves on without a new row for the member.
        m_service->patch(m_owner, QJsonObject{{u"youtube_id"_qs, u"watch12345"_qs}, {u"position"_qs, 60}});
        QCOMPARE(member.sync().pulled(), QList<QJsonObject>());

        const QJsonArray exported =
            m_service->get(m_owner, "/api/account.php?action=export").json.value(u"videos"_qs).toArray();
        QCOMPARE(fields(exported.at(0).toObject(), "watched position"), u"1|60"_qs);
        // Added again after a deletion, the video starts unwatched.
        m_service->remove(m_owner, u"watch12345"_qs);
        QCOMPARE(fields(add(u"https://youtu.be/watch12345"_qs), "watched position"), u"0|0"_qs);
    }

    void deletedVideosRevive()
    {
        // An edit revives a deleted video with its details.
        add(u"https://youtu.be/revive1234"_qs);
        m_service->remove(m_owner, u"revive1234"_qs);
        const QJsonObject revived = m_service->patch(m_owner, edit(u"revive1234"_qs, u"Back"_qs));
        QCOMPARE(fields(revived, "deleted title"), u"0|Back"_qs);
        QCOMPARE(Client(*m_service, m_owner).sync().row(u"revive1234"_qs), revived);

        // An add revives it afresh: not excluded, a new creation time, metadata asked again.
        const QJsonObject first = add(u"https://youtu.be/again12345"_qs);
        m_service->patch(m_owner, QJsonObject{{u"youtube_id"_qs, u"again12345"_qs}, {u"excluded"_qs, 1}});
        m_service->remove(m_owner, u"again12345"_qs);
        QTest::qWait(2);
        const QJsonObject again = add(u"https://youtu.be/again12345"_qs);
        QCOMPARE(fields(again, "deleted excluded id"), u"0|0|"_qs + fields(first, "id"));
        QVERIFY(num(again, "created_at") > num(first, "created_at"));
        QCOMPARE(m_service->metadata().calls(u"again12345"_qs), 2);
    }

    void patchOfSomethingNotOwnedSettlesTheClient()
    {
        const QJsonObject original = add(u"https://youtu.be/shared1234"_qs);
        m_service->share(m_owner, u"member@example.com"_qs);
        Client client(*m_service, m_member);
        const QJsonObject seen = client.sync().row(u"shared1234"_qs);
        QCOMPARE(num(seen, "read_only"), 1);

        // A shared video: 200 with the video as it stands, the owner's copy untouched.
        QCOMPARE(m_service->patch(m_member, edit(u"shared1234"_qs, u"Mine now"_qs)), seen);
        QCOMPARE(Client(*m_service, m_owner).sync().row(u"shared1234"_qs), original);

        // An ID the user never saw: a deletion record, delivered by the next pull too.
        QCOMPARE(num(m_service->patch(m_member, edit(u"ghost12345"_qs, u"Boo"_qs)), "deleted"), 1);
        QCOMPARE(num(client.sync().row(u"ghost12345"_qs), "deleted"), 1);
    }

    void deleteLeavesTombstonesAndIsHarmlessOtherwise()
    {
        const QString bob = m_service->token(u"bob@example.com"_qs);
        const QJsonObject added = add(u"https://youtu.be/gone123456"_qs);
        m_service->add(bob, u"https://youtu.be/bobs123456"_qs);
        Client client(*m_service, m_owner, num(added, "updated_at") + 1);
        m_service->remove(m_owner, u"gone123456"_qs);
        const QList<QJsonObject> rows = client.sync().pulled();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(fields(rows.first(), "deleted id"), u"1|"_qs + fields(added, "id"));

        // Again, unknown, or someone else's: 200 and nothing changes.
        m_service->remove(m_owner, u"gone123456"_qs);
        m_service->remove(m_owner, u"unknown123"_qs);
        QCOMPARE(m_service->post(m_owner, "/api/delete.php", QJsonObject{{u"youtube_id"_qs, u"bobs123456"_qs}}).status,
                 200);
        QVERIFY(client.sync().pulled().isEmpty());
        QCOMPARE(num(Client(*m_service, bob).sync().row(u"bobs123456"_qs), "deleted"), 0);

        // A member who drops a shared video gets it delivered again.
        m_service->share(bob, u"owner@example.com"_qs);
        client.sync();
        m_service->remove(m_owner, u"bobs123456"_qs);
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
        Client client(*m_service, m_owner, 0, 7);
        QCOMPARE(client.sync().pulled(), replies);
        // The pull's total comes on its first page; a later page counts only its own rows.
        QCOMPARE(client.totals(), (QList<qint64>{25, 7, 7, 4}));
        for (qsizetype i = 0; i < titles.size(); ++i)
            QCOMPARE(client.title(videoLink(int(i)).mid(17)), titles[i]);

        // Nothing new: an empty page. One change: exactly that row, stamped above the old now.
        QCOMPARE(client.sync().totals(), QList<qint64>{0});
        const qint64 now = client.cursor();
        const QJsonObject patched =
            m_service->patch(m_owner, QJsonObject{{u"youtube_id"_qs, u"video0003"_qs}, {u"excluded"_qs, 1}});
        QVERIFY(num(patched, "updated_at") > now);
        QCOMPARE(client.sync().pulled(), QList<QJsonObject>{patched});
        QVERIFY2(client.problems().isEmpty(), qPrintable(client.problems().join(u'\n')));
    }

    // A page costs the same whatever the library's size: the work of a pull's second page
    // (statements stepped on SQLite, rows read on PostgreSQL) at 20,000 videos stays within a
    // small constant of the same page at 2,000, whether a share stamped them all at once or
    // they came a few at a time. Counts, not times: a page that reads the library fails here.
    void aPageCostsTheSameAtAnyLibrarySize_data()
    {
        QTest::addColumn<int>("perStamp");
        QTest::newRow("one stamp for all") << 1'000'000;
        QTest::newRow("a stamp per 50 videos") << 50;
    }
    void aPageCostsTheSameAtAnyLibrarySize()
    {
        QFETCH(int, perStamp);
        Service &service = m_service->service();
        auto secondPageWork = [&](int size) {
            const Account user = *service.accounts().authenticate(m_service->token(u"u%1@example.com"_qs.arg(size)));
            bench::fillLibrary(service.storage(), user, size, std::min(size, perStamp));
            qint64 since = 0;
            qint64 afterId = 0;
            service.library().page(user, 0, 0, 600, [&](const FeedRowView &row) {
                since = row.updatedAt;
                afterId = row.id;
            });
            service.storage().countReadWork(true);
            const qint64 before = service.storage().readWork();
            const FeedPage page = service.library().page(user, since, afterId, 600, [](const FeedRowView &) {});
            service.storage().countReadWork(false);
            return page.rows == 600 ? service.storage().readWork() - before : -1;
        };
        const qint64 small = secondPageWork(2'000);
        const qint64 large = secondPageWork(20'000);
        QVERIFY2(small > 0 && large <= small * 3 / 2,
                 qPrintable(u"work %1 at 2,000, %2 at 20,000"_qs.arg(small).arg(large)));
    }

    // An add's look at the library (is the video there, how many of the account's videos wait
    // for the worker) costs the same at 2,000 videos as at 20,000, and whether or not another
    // account has 20,000 videos waiting (its import draining, the worker held mid-fetch).
    void anAddCostsTheSameAtAnyLibrarySize()
    {
        Service &service = m_service->service();
        auto addWork = [&](int size, int waitingElsewhere) {
            const Account user = *service.accounts().authenticate(m_service->token(u"add%1@example.com"_qs.arg(size)));
            bench::fillLibrary(service.storage(), user, size, size);
            if (waitingElsewhere > 0) {
                const QString other = m_service->token(u"importing%1@example.com"_qs.arg(size));
                const Account importing = *service.accounts().authenticate(other);
                bench::fillLibrary(service.storage(), importing, waitingElsewhere, 1);
                service.storage().write([&](WriteTransaction &tx) {
                    tx.db.prepare("UPDATE videos SET meta_pending = 1, meta_next_at = 0 WHERE user_id = ?1")
                        .bind(1, importing.id)
                        .run();
                });

                m_service->metadata().hold(true);
                m_service->add(other, u"https://youtu.be/wakesworker"_qs);
                if (!QTest::qWaitFor([&] { return m_service->metadata().waiting() > 0; }))
                    return qint64(-1);
            }
            const QString id = u"costs%1"_qs.arg(size, 6, 10, QChar(u'0'));
            m_service->metadata().letThrough(id);
            service.storage().countReadWork(true);
            const qint64 before = service.storage().readWork();
            service.library().add(user, *VideoLink::fromText(u"https://youtu.be/"_qs + id), QString(), u"web"_qs);
            service.storage().countReadWork(false);
            m_service->metadata().hold(false);
            return service.storage().readWork() - before;
        };
        // PostgreSQL counts rows handed out, and an add that finds nothing is handed none. It
        // chooses between the index of every account's waiting videos and the account's own by
        // its statistics, which two accounts of equal size mislead: the other backlog is SQLite's.
        const qint64 small = addWork(2'000, 0);
        const qint64 large = addWork(20'000, TestDatabase::postgres() ? 0 : 20'000);
        QVERIFY2(large >= 0 && large <= small * 3 / 2 + 2,
                 qPrintable(u"work %1 at 2,000, %2 at 20,000"_qs.arg(small).arg(large)));
    }

    // What can be added can be changed and deleted: one limit on IDs for every route (the
    // refusals one character over it are among the refused requests of the routes' test).
    void longestIdsWorkOnEveryRoute()
    {
        const QString id(256, u'a');
        QCOMPARE(str(add(u"https://youtu.be/"_qs + id), "youtube_id"), id);
        QCOMPARE(str(m_service->patch(m_owner, edit(id, u"Renamed"_qs)), "title"), u"Renamed"_qs);
        m_service->remove(m_owner, id);
        QCOMPARE(num(Client(*m_service, m_owner).sync().row(id), "deleted"), 1);
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

    // A member who declines a share loses the owner's videos at the next pull and is not
    // shared with again until the block is lifted; the older replies stay as they were.
    void aDeclinedShareLeavesAndStaysGone()
    {
        add(u"https://youtu.be/first12345"_qs);
        m_service->share(m_owner, u"member@example.com"_qs);
        // Not restarting on a new revision: the videos must leave by deletion records.
        Client client(*m_service, m_member);
        QCOMPARE(client.sync().live(), QStringList{u"first12345"_qs});
        const QString sharedRevision = client.familyRev();

        const Reply declined = m_service->family(m_member, u"decline"_qs, u" Owner@Example.com"_qs);
        QCOMPARE(declined.status, 200);
        QCOMPARE(declined.json.value(u"declined"_qs).toArray(), QJsonArray{u"owner@example.com"_qs});
        QCOMPARE(lists(declined.json), u"|"_qs);
        QCOMPARE(client.sync().live(), QStringList());
        QVERIFY(client.familyRev() != sharedRevision);
        QCOMPARE(familyOf(m_owner), u"|"_qs);

        // Sharing again changes nothing while the block stands, whatever the owner adds.
        QCOMPARE(m_service->family(m_owner, u"add"_qs, u"member@example.com"_qs).status, 200);
        add(u"https://youtu.be/phishing12"_qs);
        QCOMPARE(client.sync().live(), QStringList());
        QCOMPARE(familyOf(m_member), u"|"_qs);
        const QJsonObject plain = m_service->get(m_member, "/api/family.php").json;
        QVERIFY(!plain.contains(u"declined"_qs));
        QCOMPARE(m_service->get(m_member, "/api/family.php?include=declined").json.value(u"declined"_qs).toArray(),
                 QJsonArray{u"owner@example.com"_qs});
        QCOMPARE(m_service->family(m_member, u"decline"_qs, u"member@example.com"_qs).status, 400);

        // Lifted, the block no longer stops a new share.
        const Reply lifted = m_service->family(m_member, u"unblock"_qs, u"owner@example.com"_qs);
        QCOMPARE(lifted.json.value(u"declined"_qs).toArray(), QJsonArray());
        QCOMPARE(client.sync().live(), QStringList());
        m_service->share(m_owner, u"member@example.com"_qs);
        QCOMPARE(client.sync().live(), (QStringList{u"first12345"_qs, u"phishing12"_qs}));
        QCOMPARE(client.problems(), QStringList());
    }

    // Sharing brings the owner's whole library read-only in one stamp and a new revision; the
    // owner's later changes follow, and nothing but the set of libraries changes the revision.
    // Addresses count in any case and blanks around; an invitation waits for its account.
    void memberSeesTheLibraryReadOnly()
    {
        for (int i = 0; i < 11; ++i)
            add(videoLink(i));
        QCOMPARE(revisionOf(m_member), u"0"_qs);
        const Reply shared = m_service->family(m_owner, u"add"_qs, u" Member@Example.COM "_qs);
        QCOMPARE(shared.status, 200);
        QCOMPARE(lists(shared.json), u"member@example.com|"_qs);
        QCOMPARE(familyOf(m_member), u"|owner@example.com"_qs);
        m_service->share(m_owner, u"later@example.com"_qs);
        QVERIFY(familyOf(m_owner).contains(u"later@example.com"_qs));

        Client client(*m_service, m_member, 0, 3);
        QCOMPARE(client.sync().liveRows().size(), 11);
        QCOMPARE(num(client.pulled().first(), "updated_at"), num(client.pulled().last(), "updated_at"));
        for (const QJsonObject &row : client.liveRows())
            QCOMPARE(fields(row, "read_only owner_email"), u"1|owner@example.com"_qs);
        const QString afterShare = client.familyRev();
        QVERIFY(afterShare != u"0"_qs);
        QCOMPARE(revisionOf(m_owner), u"0"_qs); // sharing does not change what the owner sees
        Client later(*m_service, m_service->token(u"later@example.com"_qs));
        QCOMPARE(later.sync().live().size(), 11);
        QVERIFY(later.familyRev() != u"0"_qs);

        m_service->patch(m_owner, edit(u"video0010"_qs, u"Renamed"_qs));
        m_service->remove(m_owner, u"video0000"_qs);
        add(u"https://youtu.be/second1234"_qs);
        m_service->share(m_owner, u"member@example.com"_qs); // already shared
        QCOMPARE(client.sync().title(u"video0010"_qs), u"Renamed"_qs);
        QCOMPARE(client.live().size(), 11);
        QVERIFY(client.live().contains(u"second1234"_qs) && !client.live().contains(u"video0000"_qs));
        QCOMPARE(client.familyRev(), afterShare);
        QVERIFY2(client.problems().isEmpty(), qPrintable(client.problems().join(u'\n')));

        m_service->unshare(m_owner, u"member@example.com"_qs);
        const QString afterUnshare = revisionOf(m_member);
        QVERIFY(afterUnshare != afterShare);
        m_service->unshare(m_owner, u"member@example.com"_qs); // nothing to remove
        QCOMPARE(revisionOf(m_member), afterUnshare);
        QVERIFY(Client(*m_service, m_member).sync().live().isEmpty());
    }

    // The export holds everything about the account and no secret; deleting the account
    // removes all of it, for its family too.
    void exportAndDeletionOfAnAccount()
    {
        add(u"https://youtu.be/first12345"_qs);
        add(u"https://youtu.be/gone123456"_qs);
        m_service->remove(m_owner, u"gone123456"_qs);
        m_service->share(m_owner, u"friend@example.com"_qs);
        m_service->share(m_owner, u"member@example.com"_qs);
        m_service->share(m_member, u"owner@example.com"_qs);
        Client client(*m_service, m_member);
        QCOMPARE(client.sync().live(), QStringList{u"first12345"_qs});
        const QString revBefore = client.familyRev();

        const Reply reply = m_service->get(m_owner, "/api/account.php?action=export");
        QCOMPARE(reply.status, 200);
        QCOMPARE(str(reply.json.value(u"account"_qs).toObject(), "email"), u"owner@example.com"_qs);
        const QJsonArray videos = reply.json.value(u"videos"_qs).toArray();
        QCOMPARE(videos.size(), 2);
        QCOMPARE(fields(videos[0].toObject(), "youtube_id deleted"), u"first12345|0"_qs);
        QCOMPARE(fields(videos[1].toObject(), "youtube_id deleted"), u"gone123456|1"_qs);
        QCOMPARE(lists(reply.json.value(u"family"_qs).toObject()),
                 u"friend@example.com,member@example.com|member@example.com"_qs);
        QCOMPARE(reply.json.value(u"tokens"_qs).toArray().size(), 1);
        QVERIFY(reply.body.find(m_owner.toStdString()) == std::string::npos); // no secret in the file
        QCOMPARE(m_service->get(m_owner, "/api/account.php").status, 400);
        QCOMPARE(m_service->get(m_owner, "/api/account.php?action=delete").status, 400);

        const QJsonObject deletion{{u"action"_qs, u"delete"_qs}};
        QCOMPARE(m_service->post(m_owner, "/api/account.php", deletion).status, 200);
        QCOMPARE(m_service->get(m_owner, "/api/videos.php").status, 401);
        // Without re-pulling from the start, the member learns each video is gone, and the
        // links in both directions are gone.
        QVERIFY(client.sync().live().isEmpty());
        QVERIFY(client.familyRev() != revBefore);
        QCOMPARE(familyOf(m_member), u"|"_qs);
        // The address can sign up again, with nothing of the old account.
        const QString again = m_service->token(u"owner@example.com"_qs);
        QVERIFY(Client(*m_service, again).sync().pulled().isEmpty());
        QCOMPARE(revisionOf(again), u"0"_qs);
    }
};

QTEST_GUILESS_MAIN(LibraryTest)
#include "LibraryTest.moc"
