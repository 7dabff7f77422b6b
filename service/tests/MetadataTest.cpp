// Metadata under many adds: the pace of provider calls, the Data API asked fifty videos at a
// time, adds during a backlog that leave the provider to the worker, and a lone add that
// still gets its title at once.

#include "LibraryFill.h"
#include "TestService.h"
#include "domain/Accounts.h"
#include "domain/MetadataPacer.h"
#include "domain/MetadataWorker.h"

#include <QSet>
#include <QStandardPaths>
#include <QTest>

#include <thread>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

// A Data API that names every asked video but those ending in 7, and adds what a hostile
// reply might: the missing IDs in capitals, a stranger, and a second copy of the first video.
FakeReply dataApiReply(const RecordedRequest &request)
{
    const QStringList ids =
        QUrlQuery(QString::fromLatin1(request.query)).queryItemValue(u"id"_qs, QUrl::FullyDecoded).split(u',');
    QJsonArray items;
    const auto item = [&items](const QString &id, const QString &title) {
        items.append(QJsonObject{
            {u"id"_qs, id},
            {u"snippet"_qs, QJsonObject{{u"title"_qs, title}, {u"publishedAt"_qs, u"2020-01-02T03:04:05Z"_qs}}},
            {u"contentDetails"_qs, QJsonObject{{u"duration"_qs, u"PT3M4S"_qs}}}});
    };
    for (const QString &id : ids)
        item(id.endsWith(u'7') ? id.toUpper() : id, u"Title of "_qs + id);
    item(u"stranger01"_qs, u"Not asked"_qs);
    item(ids.first(), u"Second copy"_qs);
    return FakeReply::json(QJsonDocument(QJsonObject{{u"items"_qs, items}}).toJson(QJsonDocument::Compact));
}

// "title|pending|attempts" of each of the user's videos, by ID.
QMap<QString, QString> videoStates(Storage &storage)
{
    return storage.read([](SqlConnection &db) {
        QMap<QString, QString> states;
        auto rows = db.prepare("SELECT youtube_id, title, meta_pending, meta_attempts FROM videos");
        while (rows.step())
            states.insert(rows.text(0), u"%1|%2|%3"_qs.arg(rows.text(1)).arg(rows.int64(2)).arg(rows.int64(3)));
        return states;
    });
}

QString importedId(int n)
{
    return u"video%1"_qs.arg(n, 4, 10, QLatin1Char('0'));
}

} // namespace

class MetadataTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // The worker takes tokens with a fake clock: past the burst each call waits exactly once,
    // as long as a token takes; the last token always stays for an add.
    void pacerWaitsOncePerCallBeyondTheBurst_data()
    {
        QTest::addColumn<double>("perSecond");
        QTest::addColumn<int>("burst");
        QTest::addColumn<int>("takes");
        QTest::addColumn<int>("waits");
        QTest::addColumn<int>("elapsedMs");
        QTest::newRow("ten a second, burst four") << 10.0 << 4 << 20 << 17 << 1700;
        QTest::newRow("two a second, burst two") << 2.0 << 2 << 5 << 4 << 2000;
        QTest::newRow("a burst below two counts as two") << 1.0 << 1 << 3 << 2 << 2000;
        QTest::newRow("within the burst") << 10.0 << 8 << 7 << 0 << 0;
    }
    void pacerWaitsOncePerCallBeyondTheBurst()
    {
        QFETCH(double, perSecond);
        QFETCH(int, burst);
        QFETCH(int, takes);
        QFETCH(int, waits);
        QFETCH(int, elapsedMs);
        const MetadataPacer::Clock::time_point start{};
        MetadataPacer::Clock::time_point now = start;
        int sleeps = 0;
        MetadataPacer::Time time;
        time.now = [&now] { return now; };
        time.sleep = [&now, &sleeps](MetadataPacer::Clock::duration pause) {
            now += pause;
            ++sleeps;
        };
        MetadataPacer pacer(MetadataPacing{perSecond, burst, 4}, time);
        for (int i = 0; i < takes; ++i)
            pacer.take();
        QCOMPARE(sleeps, waits);
        QCOMPARE(pacer.waits(), long(waits));
        QCOMPARE(std::chrono::duration_cast<std::chrono::milliseconds>(now - start).count(), elapsedMs);
        QVERIFY(pacer.tryTake());
        QVERIFY(!pacer.tryTake());
    }

    // 120 videos due at once: three Data API requests of at most fifty IDs, oldest first;
    // each item reaches its own video, a missing one is queued again, and nothing the reply
    // names beyond what was asked is written.
    void dataApiIsAskedFiftyVideosAtATime()
    {
        TestDatabase database;
        const auto storage = database.open();
        Accounts accounts(*storage);
        const Account user = *accounts.authenticate(accounts.issueToken(u"importer@example.com"_qs));
        FakeHttpServer dataApi;
        FakeHttpServer oembed;
        QVERIFY(dataApi.start() && oembed.start());
        dataApi.setHandler(dataApiReply);
        MetadataConfig config;
        config.youtubeApiKey = u"KEY-123"_qs;
        config.youtubeApiBase = dataApi.url(u"/youtube/v3"_qs).toString();
        config.oembedBase = oembed.url(u"/oembed"_qs).toString();
        const auto provider = makeMetadataProvider(config);
        // No backlog is small enough for an add to ask: every add leaves its video to the worker.
        Library library(*storage, *provider, MetadataRetry{3, 3'600'000, 2}, MetadataPacing{1000, 1000, 0});
        QStringList ids;
        for (int n = 0; n < 120; ++n) {
            const FeedRow row = library.add(user, *VideoLink::fromText(videoLink(n)), QString(), u"app"_qs);
            QCOMPARE(row.title, u"YouTube video "_qs + row.youtubeId);
            ids.append(row.youtubeId);
        }
        QCOMPARE(dataApi.requestCount(), 0);

        MetadataWorker worker(library);
        worker.start();
        QTRY_COMPARE(videoStates(*storage).value(ids.last()), u"Title of "_qs + ids.last() + u"|0|1"_qs);
        worker.stop();
        QStringList asked;
        for (const RecordedRequest &request : dataApi.requests()) {
            const QStringList part =
                QUrlQuery(QString::fromLatin1(request.query)).queryItemValue(u"id"_qs, QUrl::FullyDecoded).split(u',');
            QVERIFY(part.size() <= 50);
            asked += part;
        }
        QCOMPARE(dataApi.requestCount(), 3);
        QCOMPARE(asked, ids);
        QCOMPARE(oembed.requestCount(), 0); // a Data API that answers knows which videos exist
        const QMap<QString, QString> states = videoStates(*storage);
        QCOMPARE(states.size(), 120);
        for (const QString &id : ids)
            QCOMPARE(states.value(id),
                     id.endsWith(u'7') ? u"YouTube video "_qs + id + u"|1|1"_qs : u"Title of "_qs + id + u"|0|1"_qs);
    }

    // An import's adds answer at once without the provider while its account has a backlog;
    // another account's lone add still gets its title inline, and every video is filled and
    // delivered once the provider answers.
    void addsDuringABacklogLeaveTheProviderAlone()
    {
        TestService service([](ServiceConfig &config) { config.metadataPacing = MetadataPacing{1000, 1000, 3}; });
        const QString importer = service.token(u"importer@example.com"_qs);
        const QString lone = service.token(u"lone@example.com"_qs);
        FakeMetadataProvider &metadata = service.metadata();
        // Ten videos already wait; the worker, once woken, stays in its first fetch.
        const Account importing = *service.service().accounts().authenticate(importer);
        bench::fillLibrary(service.service().storage(), importing, 10, 10);
        service.service().storage().write(
            [](WriteTransaction &tx) { tx.db.prepare("UPDATE videos SET meta_pending = 1, meta_next_at = 0").run(); });
        metadata.hold(true);
        for (int n = 0; n < 20; ++n)
            QCOMPARE(str(service.add(importer, videoLink(n)), "title"), u"YouTube video "_qs + importedId(n));
        QTRY_COMPARE(metadata.waiting(), 1);
        QCOMPARE(metadata.totalCalls(), 1);
        QCOMPARE(metadata.calls(u"bench0000000"_qs), 1); // oldest first

        metadata.letThrough(u"lonevideo1"_qs);
        QCOMPARE(str(service.add(lone, u"https://youtu.be/lonevideo1"_qs), "title"), u"Title of lonevideo1"_qs);
        QCOMPARE(metadata.totalCalls(), 2);

        metadata.hold(false);
        Client client(service, importer);
        QTRY_COMPARE(client.sync().title(u"video0019"_qs), u"Title of video0019"_qs);
        for (int n = 0; n < 20; ++n)
            QCOMPARE(client.title(importedId(n)), u"Title of "_qs + importedId(n));
        QCOMPARE(metadata.totalCalls(), 31);
    }

    // A thousand adds from four connections at once against a healthy provider, paced: every
    // title arrives, each video is asked about once, and adds never stop asking.
    void aPacedImportKeepsTheBreakerClosed()
    {
        TestService service([](ServiceConfig &config) { config.metadataPacing = MetadataPacing{2000, 4, 4}; });
        const QString token = service.token(u"importer@example.com"_qs);
        std::vector<std::thread> connections;
        for (int c = 0; c < 4; ++c)
            connections.emplace_back([&service, &token, c] {
                for (int n = c; n < 1000; n += 4)
                    service.add(token, videoLink(n));
            });
        for (std::thread &connection : connections)
            connection.join();
        Client client(service, token);
        const auto filled = [&client] {
            const QMap<QString, QJsonObject> rows = client.sync().liveRows();
            return std::count_if(rows.begin(), rows.end(),
                                 [](const QJsonObject &row) { return str(row, "title").startsWith(u"Title of"_qs); });
        };
        QTRY_COMPARE_WITH_TIMEOUT(filled(), 1000, 30'000);
        QCOMPARE(service.metadata().totalCalls(), 1000);
        QCOMPARE(service.service().library().metadataBreakerOpenings(), 0);
        QVERIFY(client.problems().isEmpty());
    }
};

QTEST_GUILESS_MAIN(MetadataTest)
#include "MetadataTest.moc"
