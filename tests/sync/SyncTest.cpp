#include "LinkParser.h"
#include "SyncHarness.h"
#include "VideoLimits.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTest>
#include <algorithm>

using namespace clipvane;
using namespace clipvane::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kShortDebounce = 50ms;
// Long enough that a loaded machine does not stretch the pause between two edits past it.
constexpr auto kRestartDebounce = 1000ms;
constexpr int kQuietMs = 200;

QJsonObject bodyOf(const RecordedRequest &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

FakeReply status(int code)
{
    return FakeReply::json(QByteArrayLiteral(R"({"error":"refused"})"), code);
}

QList<QJsonObject> library(int count)
{
    QList<QJsonObject> videos;
    for (int i = 0; i < count; ++i)
        videos.append(serverVideo(u"vid%1"_qs.arg(i, 5, 10, QLatin1Char('0')), 1000 + i, i + 1));
    return videos;
}

QList<QVariant> values(const QSignalSpy &spy)
{
    QList<QVariant> seen;
    for (const QList<QVariant> &arguments : spy)
        seen.append(arguments.at(0));
    return seen;
}

// A local edit as the window makes it: "exclude", "details" (title, date, length) or "delete".
void edit(SyncEngine &engine, const Video *video, const QString &kind, const QString &title = u"New"_qs)
{
    if (kind == u"exclude"_qs)
        engine.edits().setExcluded(video->youtubeID, !video->excluded);
    else if (kind == u"details"_qs)
        engine.edits().edit(video->youtubeID, title, video->uploadDate, video->duration);
    else if (kind == u"delete"_qs)
        engine.edits().remove(video->youtubeID);
}

const char kWorkerFlag[] = "--append-worker";
constexpr int kWriters = 4;
constexpr int kLinksPerWriter = 40;

// Commas, quotes and spaces: the characters the settings format has to escape in a list.
QString linkOf(const QString &writer, int index)
{
    return u"https://youtu.be/%1x%2?a=1,b=\"two words\""_qs.arg(writer).arg(index);
}

// One writer: appends its links one at a time, as `clipvane-cli share` would.
int appendLinks(const QString &path, const QString &writer, int count)
{
    GroupSettings group(path);
    for (int i = 0; i < count; ++i) {
        if (!group.appendToShareInbox({linkOf(writer, i)})) {
            qWarning("writer %s: %s", qPrintable(writer), qPrintable(group.lastError()));
            return 1;
        }
    }
    return 0;
}

// The work a cycle that pulls one full page does in a store of `libraryCount` synced records:
// half the page new videos, a third changes to stored ones, the rest deletions of stored ones.
VideoStore::Work pageWork(int libraryCount)
{
    SyncHarness h;
    const auto storedID = [](int i) { return u"lib%1"_qs.arg(i, 6, 10, QLatin1Char('0')); };
    for (int i = 0; i < libraryCount; ++i)
        h.store->insert(Video(storedID(i), u"Stored"_qs, u"https://youtu.be/x"_qs, u"2020-01-02"_qs, u"3:00"_qs, false,
                              u"web"_qs, 500, 600, SyncStateRaw::synced));
    h.store->save();

    QList<QJsonObject> page;
    const int step = libraryCount / 300;
    for (int i = 0; i < SyncEngine::kPageLimit; ++i) {
        QJsonObject row = serverVideo(
            i < 300 ? u"new%1"_qs.arg(i, 6, 10, QLatin1Char('0')) : storedID((i - 300) * step), 2000 + i, i + 1);
        row.insert(u"deleted"_qs, i >= 500 ? 1 : 0);
        page.append(row);
    }
    h.reply(kVideosPath, FakeReply::json(pageBody(page, 9000, SyncEngine::kPageLimit)));

    const VideoStore::Work before = h.store->work();
    h.runCycle();
    const VideoStore::Work after = h.store->work();
    if (h.engine->hasError() || h.store->all().size() != libraryCount + 200 || h.group->syncCursor() != kEchoNow)
        qFatal("the page was not merged: %s", qPrintable(h.engine->lastError()));
    return {after.statementSteps - before.statementSteps, after.fullScanSteps - before.fullScanSteps,
            after.sorts - before.sorts, after.recordsVisited - before.recordsVisited};
}

} // namespace

// The sync engine against a scripted server, and the group settings it shares with other processes.
class SyncTest : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    int m_files = 0;
    QString freshPath() { return m_dir.filePath(u"group-%1/group.ini"_qs.arg(++m_files)); }

private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
    }

    void firstSyncPagesThroughWholeLibrary()
    {
        SyncHarness h;
        const QList<QJsonObject> all = library(1250);
        for (const int from : {0, 600, 1200}) // the pages say the assistant is off
            h.reply(kVideosPath,
                    FakeReply::json(pageBody(all.mid(from, 600), 5001 + from / 600, 1250, u"0"_qs, false)));
        QSignalSpy widget(h.engine, &SyncEngine::widgetVisibleChanged);
        QSignalSpy received(h.engine, &SyncEngine::progressReceivedChanged);
        QSignalSpy total(h.engine, &SyncEngine::progressTotalChanged);
        QSignalSpy fraction(h.engine, &SyncEngine::progressFractionChanged);
        QStringList shown; // what a progress label reads when told that the count changed
        QObject::connect(h.engine, &SyncEngine::progressReceivedChanged, h.engine, [&] {
            shown.append(h.engine->hasProgress()
                             ? u"%1/%2"_qs.arg(h.engine->progressReceived()).arg(h.engine->progressTotal())
                             : u"none"_qs);
        });
        h.runCycle();
        const QList<RecordedRequest> requests = h.server.requests();
        QCOMPARE(requests.size(), 3);
        QCOMPARE(requests.at(0).query, "since=0&after_id=0&limit=600");
        QCOMPARE(requests.at(1).query, "since=1599&after_id=600&limit=600");
        QCOMPARE(requests.at(2).query, "since=2199&after_id=1200&limit=600");
        QCOMPARE(requests.at(0).header("Authorization"), "Bearer token-1");
        QCOMPARE(values(received), (QList<QVariant>{600, 1200, 1250, 0}));
        QCOMPARE(values(total), (QList<QVariant>{1250, 0}));
        QCOMPARE(values(fraction), (QList<QVariant>{0.48, 0.96, 1.0, -1.0}));
        QCOMPARE(shown, (QStringList{u"600/1250"_qs, u"1200/1250"_qs, u"1250/1250"_qs, u"none"_qs}));
        QVERIFY(!h.engine->hasProgress());
        QCOMPARE(h.group->syncCursor(), 5003);
        QCOMPARE(h.store->synced().size(), 1250);
        QCOMPARE(h.store->find(u"vid01249"_qs)->title, u"Title vid01249"_qs);
        QVERIFY(h.engine->lastSync().isValid());
        QVERIFY(!h.engine->hasError());
        // The assistant's flag is mirrored into the group file, and back on with the next page.
        QVERIFY(!h.engine->widgetVisible());
        QCOMPARE(h.rawGroup()->value(u"widgetVisible"_qs).toString(), u"false"_qs);
        h.runCycle();
        QVERIFY(h.engine->widgetVisible());
        QCOMPARE(widget.size(), 2);
    }

    // A page costs the same in a large library as in a small one: each record it brings is
    // found by its ID and written by its key, never by a pass over the library.
    void pageCostDoesNotGrowWithLibrary()
    {
        const VideoStore::Work small = pageWork(2000);
        const VideoStore::Work large = pageWork(20000);
        const QList<std::tuple<const char *, qint64, qint64>> counts = {
            {"statement steps", small.statementSteps, large.statementSteps},
            {"full-scan steps", small.fullScanSteps, large.fullScanSteps},
            {"sorts", small.sorts, large.sorts},
            {"records visited", small.recordsVisited, large.recordsVisited},
        };
        QVERIFY(small.statementSteps > 0);
        for (const auto &[what, inSmall, inLarge] : counts) {
            if (inLarge * 2 > inSmall * 3)
                QFAIL(qPrintable(
                    u"%1: %2 in 2,000 records, %3 in 20,000"_qs.arg(QLatin1String(what)).arg(inSmall).arg(inLarge)));
        }
    }

    // Signing out while the next page is out: its answer is dropped and nothing more is asked.
    void signOutWhileNextPageIsOut()
    {
        SyncHarness h;
        const QList<QJsonObject> all = library(1200);
        h.reply(kVideosPath, FakeReply::json(pageBody(all.mid(0, 600), 5001, 1200)));
        h.reply(kVideosPath, FakeReply::json(pageBody(all.mid(600), 5002, 1200)));
        h.gate.close(kVideosPath, 1);
        QCoro::Task<void> cycle = h.engine->sync();
        QVERIFY(h.waitForRequests(2));
        h.engine->signOut();
        h.gate.open();
        QCoro::waitFor(cycle);
        QCOMPARE(h.store->all().size(), 600);
        QVERIFY(!h.store->find(u"vid00600"_qs));
        QVERIFY(!h.rawGroup()->contains(u"syncCursor"_qs));
        QVERIFY(!h.engine->hasError());
        QTest::qWait(kQuietMs);
        QCOMPARE(h.requestsTo(kVideosPath).size(), 2);
    }

    // A page is full by the objects the server sent, including those without "youtube_id"; a
    // full page that cannot move past the cursor would be asked for again and again.
    void fullPageIsCountedByObjects_data()
    {
        QTest::addColumn<int>("dropped");
        QTest::newRow("600 records") << 0;
        QTest::newRow("600 objects, 7 without youtube_id") << 7;
        QTest::newRow("600 objects, none with youtube_id") << 600;
    }
    void fullPageIsCountedByObjects()
    {
        QFETCH(int, dropped);
        SyncHarness h;
        h.group->setSyncCursor(10, h.store->generation());
        QList<QJsonObject> first = library(600);
        for (int i = 0; i < dropped; ++i)
            first[(100 + i) % 600].remove(u"youtube_id"_qs);
        h.reply(kVideosPath, FakeReply::json(pageBody(first, 4000, 600)));
        h.reply(kVideosPath, FakeReply::json(pageBody({}, 4100, 600)));
        h.runCycle();
        const bool stuck = dropped == 600;
        const QList<RecordedRequest> requests = h.requestsTo(kVideosPath);
        QCOMPARE(requests.size(), stuck ? 1 : 2);
        QCOMPARE(requests.last().query, stuck ? "since=10&after_id=0&limit=600" : "since=1599&after_id=600&limit=600");
        QCOMPARE(h.group->syncCursor(), stuck ? 10 : 4100);
        QCOMPARE(h.store->all().size(), 600 - dropped);
        QCOMPARE(h.engine->lastError(), stuck ? u"Unexpected server response"_qs : QString());
        QCOMPARE(h.engine->lastSync().isValid(), !stuck);
    }

    // A page beyond the service's bounds is refused before any of its rows is kept, and the
    // cursor stays where it was; the pages before it are kept whole.
    void pageBeyondBoundsIsRefusedWhole_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("titleLength"); // of the page's last row
        QTest::addColumn<QString>("message");
        QTest::newRow("more rows than asked for")
            << 601 << 10 << u"Unexpected server response: a page held 601 videos where at most 600 were asked for"_qs;
        QTest::newRow("a title too long")
            << 300 << 1001 << u"Unexpected server response: a video's title is longer than 1000 characters"_qs;
    }
    void pageBeyondBoundsIsRefusedWhole()
    {
        QFETCH(int, rows);
        QFETCH(int, titleLength);
        SyncHarness h;
        h.group->setSyncCursor(10, h.store->generation());
        const QList<QJsonObject> all = library(600 + rows);
        QList<QJsonObject> second = all.mid(600);
        second.last().insert(u"title"_qs, QString(titleLength, u'x'));
        h.reply(kVideosPath, FakeReply::json(pageBody(all.mid(0, 600), 4000, 600 + rows)));
        h.reply(kVideosPath, FakeReply::json(pageBody(second, 4100, rows)));
        h.runCycle();
        QCOMPARE(h.requestsTo(kVideosPath).size(), 2);
        QCOMPARE(h.store->all().size(), 600);
        QCOMPARE(h.group->syncCursor(), 10);
        QTEST(h.engine->lastError(), "message");
    }

    // A service whose cursor creeps on by one row a page: the pull stops soon after the pages
    // that the total it announced needs, and the cursor stays where it was.
    void creepingCursorStops()
    {
        SyncHarness h;
        h.group->setSyncCursor(10, h.store->generation());
        const QList<QJsonObject> same = library(599);
        constexpr int kGiveUpAfter = 50; // the fake's own end, for an engine that never stops
        h.server.setHandler([&](const RecordedRequest &request) {
            qint64 afterID = 0;
            for (const auto &[name, value] : request.queryItems())
                if (name == u"after_id")
                    afterID = value.toLongLong();
            if (h.server.requestCount() > kGiveUpAfter)
                return FakeReply::json(pageBody({}, 9000, 0));
            QList<QJsonObject> page = same;
            page.append(serverVideo(u"creep"_qs, 10, afterID + 1));
            return FakeReply::json(pageBody(page, 9000, 600));
        });
        h.runCycle();
        QCOMPARE(h.requestsTo(kVideosPath).size(), 5); // four pages allowed for 600, and the fifth was out
        QCOMPARE(h.group->syncCursor(), 10);
        QCOMPARE(h.engine->lastError(),
                 u"Unexpected server response: the service kept sending pages past the 600 videos it announced"_qs);
    }

    // A full pull for a new family revision shows the old library until it completes, across a
    // failure or a crash, and never drops a record edited meanwhile; the first completed pull
    // leaves what wiping first would have left.
    void familyRefreshKeepsLibraryUntilComplete_data()
    {
        QTest::addColumn<QString>("breakOff"); // how the first full pull ends before its last page
        QTest::newRow("completes") << QString();
        QTest::newRow("server error") << u"500"_qs;
        QTest::newRow("reply cut short") << u"truncated"_qs;
        QTest::newRow("crash") << u"crash"_qs;
    }
    void familyRefreshKeepsLibraryUntilComplete()
    {
        QFETCH(QString, breakOff);
        SyncHarness h;
        h.group->setSyncCursor(500, h.store->generation());
        for (const QString &id : {u"keep01"_qs, u"keep02"_qs, u"gone03"_qs, u"edit05"_qs})
            h.seed(id, SyncStateRaw::synced);
        h.seed(u"pend04"_qs, SyncStateRaw::needsPatch);
        QList<QJsonObject> all = library(602);
        all[0] = serverVideo(u"keep01"_qs, 1000, 1, u"New keep01"_qs);
        all[600] = serverVideo(u"keep02"_qs, 1600, 601, u"New keep02"_qs);
        all[601] = serverVideo(u"edit05"_qs, 1601, 602, u"New edit05"_qs);
        const auto page = [&](qsizetype from) {
            return FakeReply::json(pageBody(all.mid(from, 600), 20, 602, u"7"_qs));
        };
        // The user excludes a video once the first page of the full pull is in.
        bool edited = false;
        QObject::connect(h.engine, &SyncEngine::progressReceivedChanged, h.engine, [&] {
            if (!std::exchange(edited, true))
                h.engine->edits().setExcluded(u"edit05"_qs, true);
        });
        h.reply(kUpsertPath, status(400)); // pend04 stays pending
        // The page that tells of the new revision is not merged.
        h.reply(kVideosPath, FakeReply::json(pageBody({serverVideo(u"ghost9"_qs, 1, 1)}, 10, 1, u"7"_qs)));
        h.reply(kVideosPath, page(0));
        if (breakOff.isEmpty()) {
            h.reply(kVideosPath, page(600));
            h.runCycle();
        } else {
            if (breakOff == u"crash"_qs) {
                h.gate.close(kVideosPath, 2);
                QCoro::Task<void> cycle = h.engine->sync();
                QVERIFY(h.waitForRequests(4)); // the first page is merged and saved
                h.close();
                h.gate.open();
                QCoro::waitFor(cycle);
                h.restart();
            } else {
                const QByteArray cut = pageBody(all.mid(600), 20, 602, u"7"_qs);
                h.reply(kVideosPath, breakOff == u"500"_qs ? status(500) : FakeReply::json(cut.left(cut.size() / 2)));
                h.runCycle();
                QVERIFY(!h.engine->lastSync().isValid());
            }
            // Nothing is gone: the old records are all there beside the page merged so far.
            QCOMPARE(h.store->all().size(), 604);
            QCOMPARE(h.store->find(u"keep01"_qs)->title, u"New keep01"_qs);
            QCOMPARE(h.store->find(u"keep02"_qs)->title, u"Local keep02"_qs);
            QCOMPARE(h.store->find(u"gone03"_qs)->syncStateRaw, SyncStateRaw::synced);
            QVERIFY(h.group->familyRefreshPending());
            // The next cycle pulls everything again and completes, even when a build that knows
            // nothing of the refresh has moved the cursor meanwhile.
            QSettings(h.group->path(), QSettings::IniFormat).setValue(u"syncCursor"_qs, u"123"_qs);
            h.server.clearRequests();
            for (const FakeReply &refused : {status(400), status(400)})
                h.reply(kUpsertPath, refused);
            for (const qsizetype from : {0, 600})
                h.reply(kVideosPath, page(from));
            h.runCycle();
            QCOMPARE(h.requestsTo(kVideosPath).at(0).query, "since=0&after_id=0&limit=600");
        }
        QVERIFY(h.engine->lastSync().isValid());
        QCOMPARE(h.store->all().size(), 603);
        QVERIFY(!h.store->find(u"gone03"_qs));
        QVERIFY(!h.store->find(u"ghost9"_qs));
        QCOMPARE(h.store->find(u"keep02"_qs)->title, u"New keep02"_qs);
        QCOMPARE(h.store->find(u"pend04"_qs)->syncStateRaw, SyncStateRaw::needsPatch);
        const Video *edited05 = h.store->find(u"edit05"_qs);
        QCOMPARE(edited05->syncStateRaw, SyncStateRaw::needsPatch);
        QCOMPARE(edited05->title, u"Local edit05"_qs);
        QVERIFY(edited05->excluded);
        QCOMPARE(h.store->synced().size(), 601);
        QVERIFY(!h.group->familyRefreshPending());
        QCOMPARE(h.group->syncCursor(), 20);
        QCOMPARE(h.group->familyRev(), u"7"_qs);
        h.restart();
        QCOMPARE(h.store->all().size(), 603);
    }

    // The server's copy wins over a record without a local change; a pending record wins over
    // the server. The pushes of pending records are refused here, so they stay pending.
    void mergeRules_data()
    {
        QTest::addColumn<QString>("localState"); // empty: no local record
        QTest::addColumn<bool>("serverDeletes");
        QTest::addColumn<QString>("expectedState"); // empty: no record afterwards
        QTest::addColumn<bool>("shared");           // the server copy comes from a family member
        const QString none;
        QTest::newRow("synced takes the server copy") << u"synced"_qs << false << u"synced"_qs << true;
        QTest::newRow("unrecognised takes the server copy") << u"weird"_qs << false << u"synced"_qs << true;
        QTest::newRow("synced removed by a deletion") << u"synced"_qs << true << none << true;
        QTest::newRow("unrecognised removed by a deletion") << u"weird"_qs << true << none << true;
        QTest::newRow("needsPatch survives a deletion") << u"needsPatch"_qs << true << u"needsPatch"_qs << true;
        QTest::newRow("needsPatch keeps its change") << u"needsPatch"_qs << false << u"needsPatch"_qs << true;
        QTest::newRow("needsAdd unchanged by a shared copy") << u"needsAdd"_qs << false << u"needsAdd"_qs << true;
        // Another device added the video first: the add is done, and the title given here (the
        // seed's) still goes out as a patch.
        QTest::newRow("needsAdd completed by an own copy") << u"needsAdd"_qs << false << u"needsPatch"_qs << false;
        QTest::newRow("needsDelete unchanged by a copy") << u"needsDelete"_qs << false << u"needsDelete"_qs << true;
        QTest::newRow("new record inserted") << none << false << u"synced"_qs << true;
        QTest::newRow("deletion of an unknown record") << none << true << none << true;
    }
    void mergeRules()
    {
        QFETCH(QString, localState);
        QFETCH(bool, serverDeletes);
        QFETCH(QString, expectedState);
        QFETCH(bool, shared);
        const bool serverFields = expectedState == SyncStateRaw::synced; // the server's copy taken
        SyncHarness h;
        const QString id = u"merge1"_qs;
        if (!localState.isEmpty())
            h.seed(id, localState);
        QJsonObject copy = serverVideo(id, 50, 9, u"Server title"_qs);
        copy.insert(u"deleted"_qs, serverDeletes ? 1 : 0);
        if (shared) {
            copy.insert(u"owner_email"_qs, u"mum@example.com"_qs);
            copy.insert(u"read_only"_qs, 1);
        }
        h.reply(kVideosPath, FakeReply::json(pageBody({copy}, 60, 1)));
        h.reply(kUpsertPath, status(422));
        h.reply(kDeletePath, status(422));
        h.runCycle();
        QCOMPARE(h.group->syncCursor(), 60);
        const Video *video = h.store->find(id);
        QCOMPARE(video ? video->syncStateRaw : QString(), expectedState);
        if (!video)
            return;
        QCOMPARE(video->title, serverFields ? u"Server title"_qs : u"Local merge1"_qs);
        QCOMPARE(video->readOnly, serverFields && shared);
        QCOMPARE(video->ownerEmail, serverFields && shared ? u"mum@example.com"_qs : QString());
    }

    // One record's push answered with an error: a refusal for good leaves that record pending and
    // lets the cycle go on; anything that may pass (no answer at all included) ends the cycle; an
    // unknown token signs out, keeping what the server confirmed before.
    void pushAnswers_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("expectedState"); // empty: removed
        QTest::addColumn<bool>("goesOn");
        const QString removed;
        QTest::newRow("deletion of a video already gone") << u"needsDelete"_qs << 404 << removed << true;
        QTest::newRow("deletion answered 410") << u"needsDelete"_qs << 410 << removed << true;
        QTest::newRow("deletion refused") << u"needsDelete"_qs << 422 << u"needsDelete"_qs << true;
        QTest::newRow("patch refused") << u"needsPatch"_qs << 400 << u"needsPatch"_qs << true;
        QTest::newRow("patch of an unknown video") << u"needsPatch"_qs << 404 << u"needsPatch"_qs << true;
        QTest::newRow("add forbidden") << u"needsAdd"_qs << 403 << u"needsAdd"_qs << true;
        QTest::newRow("deletion, server error") << u"needsDelete"_qs << 500 << u"needsDelete"_qs << false;
        QTest::newRow("patch timed out") << u"needsPatch"_qs << 408 << u"needsPatch"_qs << false;
        QTest::newRow("patch rate limited") << u"needsPatch"_qs << 429 << u"needsPatch"_qs << false;
        QTest::newRow("add, service unavailable") << u"needsAdd"_qs << 503 << u"needsAdd"_qs << false;
        QTest::newRow("patch, no answer") << u"needsPatch"_qs << 0 << u"needsPatch"_qs << false;
        QTest::newRow("patch, token unknown") << u"needsPatch"_qs << 401 << u"needsPatch"_qs << false;
    }
    void pushAnswers()
    {
        QFETCH(QString, state);
        QFETCH(int, code);
        QFETCH(QString, expectedState);
        QFETCH(bool, goesOn);
        SyncHarness h;
        const QString id = u"subj01"_qs;
        if (code == 401) {
            h.seed(u"first0"_qs, SyncStateRaw::needsPatch);
            h.reply(kUpsertPath, FakeReply::json(videoBody(serverVideo(u"first0"_qs, 900, 1, u"From server"_qs))));
        }
        if (state == SyncStateRaw::needsAdd) {
            h.engine->edits().add(u"https://youtu.be/"_qs + id);
        } else {
            h.seed(id, state);
        }
        h.seed(u"other2"_qs, SyncStateRaw::needsPatch);
        h.reply(state == SyncStateRaw::needsDelete ? kDeletePath : kUpsertPath, status(code));
        if (code == 0)
            h.server.stop();
        h.runCycle();
        const Video *subject = h.store->find(id);
        QCOMPARE(subject ? subject->syncStateRaw : QString(), expectedState);
        if (code == 0)
            QVERIFY(h.engine->hasError() && h.engine->lastError() != u"Signed out"_qs);
        else if (code == 401)
            QCOMPARE(h.engine->lastError(), u"Signed out"_qs);
        else
            QCOMPARE(h.engine->lastError(), expectedState.isEmpty() ? QString() : u"Server error (%1)"_qs.arg(code));
        QCOMPARE(h.store->find(u"other2"_qs)->syncStateRaw, goesOn ? SyncStateRaw::synced : SyncStateRaw::needsPatch);
        QCOMPARE(h.requestsTo(kVideosPath).size(), goesOn ? 1 : 0);
        QCOMPARE(h.engine->lastSync().isValid(), goesOn);
        QCOMPARE(h.engine->isLoggedIn(), code != 401);
        if (code == 401) {
            QCOMPARE(h.server.requestCount(), 2);
            QVERIFY(!h.secrets.keychainRead(SecretKeys::token));
            h.restart();
            QCOMPARE(h.store->find(u"first0"_qs)->title, u"From server"_qs);
            QCOMPARE(h.store->find(u"first0"_qs)->syncStateRaw, SyncStateRaw::synced);
            QCOMPARE(h.store->find(id)->syncStateRaw, SyncStateRaw::needsPatch);
        }
    }

    // An edit made while the record's push is on its way is neither overwritten by the answer
    // nor lost: a pending add sends it after the add in the same cycle, a patch in the next one.
    // A delete must reach the server, or the next pull would bring the video back.
    void editDuringPushIsSent_data()
    {
        QTest::addColumn<bool>("add");
        QTest::addColumn<QString>("edit");
        for (const bool add : {false, true}) {
            for (const QString &edit : {u"none"_qs, u"details"_qs, u"exclude"_qs, u"delete"_qs})
                QTest::addRow("%s, %s", add ? "add" : "patch", qPrintable(edit)) << add << edit;
        }
    }
    void editDuringPushIsSent()
    {
        QFETCH(bool, add);
        QFETCH(QString, edit);
        const QString id = u"flight1"_qs;
        SyncHarness h;
        if (add) {
            QVERIFY(h.engine->edits().add(u"https://youtu.be/"_qs + id).kind == AddOutcome::Kind::added);
        } else {
            h.seed(id, SyncStateRaw::needsPatch, u"Before"_qs);
        }
        h.gate.close(kUpsertPath);
        QCoro::Task<void> cycle = h.engine->sync();
        QVERIFY(h.waitForRequests(1));
        const Video *video = h.store->find(id);
        const QString titleBefore = video->title;
        ::edit(*h.engine, video, edit, u"After"_qs);
        h.gate.open();
        QCoro::waitFor(cycle);
        QVERIFY(!h.engine->hasError());
        if (!add && edit != u"none"_qs) {
            video = h.store->find(id);
            QCOMPARE(video->syncStateRaw, edit == u"delete"_qs ? SyncStateRaw::needsDelete : SyncStateRaw::needsPatch);
            QCOMPARE(video->title, edit == u"details"_qs ? u"After"_qs : titleBefore);
            QCOMPARE(video->excluded, edit == u"exclude"_qs);
            h.runCycle();
        }
        if (edit == u"delete"_qs) {
            QCOMPARE(h.requestsTo(kDeletePath).size(), 1);
            QCOMPARE(bodyOf(h.requestsTo(kDeletePath).at(0)).value(u"youtube_id"_qs).toString(), id);
            QVERIFY(!h.store->find(id));
            QCOMPARE(h.server.requests().last().path, kVideosPath);
            return;
        }
        video = h.store->find(id);
        QCOMPARE(video->syncStateRaw, SyncStateRaw::synced);
        if (edit == u"details"_qs)
            QCOMPARE(video->title, u"After"_qs);
        QCOMPARE(video->excluded, edit == u"exclude"_qs);
        const QList<RecordedRequest> pushes = h.requestsTo(kUpsertPath);
        QCOMPARE(pushes.size(), edit == u"none"_qs ? 1 : 2);
        if (edit != u"none"_qs) {
            QCOMPARE(bodyOf(pushes.last()).value(u"title"_qs).toString(), video->title);
            QCOMPARE(bodyOf(pushes.last()).value(u"excluded"_qs), QJsonValue(video->excluded ? 1 : 0));
        }
    }

    // Edits made while a record waits for its add go out with it: a title in the add itself (the
    // placeholder never), anything else as a patch right after it, in the same push.
    void editsWaitingForAddAreSent_data()
    {
        QTest::addColumn<QString>("title"); // empty: the placeholder kept
        QTest::addColumn<QString>("date");  // empty: left as added
        QTest::addColumn<bool>("exclude");
        QTest::addColumn<bool>("restart");
        QTest::newRow("untouched") << QString() << QString() << false << false;
        QTest::newRow("title, carried by the add") << u"Mine"_qs << QString() << false << false;
        QTest::newRow("excluded") << QString() << QString() << true << false;
        QTest::newRow("details") << u"Mine"_qs << u"2001-02-03"_qs << false << false;
        QTest::newRow("details and exclusion, across a restart") << u"Mine"_qs << u"2001-02-03"_qs << true << true;
    }
    void editsWaitingForAddAreSent()
    {
        QFETCH(QString, title);
        QFETCH(QString, date);
        QFETCH(bool, exclude);
        QFETCH(bool, restart);
        const bool patched = exclude || !date.isEmpty();
        const QString duration = date.isEmpty() ? QString() : u"1:00"_qs;
        SyncHarness h;
        h.engine->edits().add(u"https://www.youtube.com/watch?v=added01"_qs);
        const Video *video = h.store->find(u"added01"_qs);
        QVERIFY(video);
        h.engine->edits().edit(video->youtubeID, title.isEmpty() ? video->title : title,
                               date.isEmpty() ? video->uploadDate : date, duration);
        if (exclude)
            h.engine->edits().setExcluded(video->youtubeID, true);
        if (restart)
            h.restart();
        h.runCycle();
        const QList<RecordedRequest> pushes = h.requestsTo(kUpsertPath);
        QCOMPARE(pushes.size(), patched ? 2 : 1);
        QCOMPARE(bodyOf(pushes.at(0)),
                 (QJsonObject{{u"url"_qs, u"https://youtu.be/added01"_qs}, {u"title"_qs, title}}));
        video = h.store->find(u"added01"_qs);
        QCOMPARE(video->syncStateRaw, SyncStateRaw::synced);
        QCOMPARE(video->title, title.isEmpty() ? u"Server title added01"_qs : title);
        QCOMPARE(video->uploadDate, date.isEmpty() ? u"2020-01-02"_qs : date);
        QCOMPARE(video->duration, duration.isEmpty() ? u"3:00"_qs : duration);
        QCOMPARE(video->excluded, exclude);
        if (patched) {
            const QJsonObject patch = bodyOf(pushes.at(1));
            QCOMPARE(patch.value(u"youtube_id"_qs).toString(), u"added01"_qs);
            QCOMPARE(patch.value(u"title"_qs).toString(), video->title);
            QCOMPARE(patch.value(u"excluded"_qs), QJsonValue(exclude ? 1 : 0));
        }
    }

    // A push sends the groups of fields changed here and nothing else, so it never writes back
    // what another device changed in the others; the answer settles the record.
    void viewingIsPushedPerField_data()
    {
        QTest::addColumn<QString>(
            "before"); // the record's state: synced, needsPatch (kept by an older version), needsAdd
        QTest::addColumn<QString>("edits"); // in order: watched, unwatched, position, details
        QTest::addColumn<QString>("sent");  // the keys of the last push, sorted
        const QString detailsAndPosition = u"duration excluded position title upload_date"_qs;
        QTest::newRow("watched") << u"synced"_qs << u"watched"_qs << u"position watched"_qs;
        QTest::newRow("unwatched") << u"synced"_qs << u"unwatched"_qs << u"watched"_qs;
        QTest::newRow("position") << u"synced"_qs << u"position"_qs << u"position"_qs;
        QTest::newRow("details, then a position") << u"synced"_qs << u"details position"_qs << detailsAndPosition;
        QTest::newRow("a position on an older pending change")
            << u"needsPatch"_qs << u"position"_qs << detailsAndPosition;
        // The add's answer already holds position 0.
        QTest::newRow("watched while waiting for its add") << u"needsAdd"_qs << u"watched"_qs << u"watched"_qs;
    }
    void viewingIsPushedPerField()
    {
        QFETCH(QString, before);
        QFETCH(QString, edits);
        QFETCH(QString, sent);
        SyncHarness h;
        const QString id = u"view001"_qs;
        if (before == SyncStateRaw::needsAdd)
            h.engine->edits().add(u"https://youtu.be/"_qs + id);
        else
            h.seed(id, before);
        for (const QString &edit : edits.split(u' ')) {
            if (edit == u"details"_qs)
                ::edit(*h.engine, h.store->find(id), edit);
            else if (edit == u"position"_qs)
                QCOMPARE(h.engine->edits().setPosition(id, 95), EditOutcome::done);
            else
                QCOMPARE(h.engine->edits().setWatched(id, edit == u"watched"_qs), EditOutcome::done);
        }
        h.restart(); // what is pending survives as it was
        h.runCycle();
        QVERIFY(!h.engine->hasError());
        QJsonObject body = bodyOf(h.requestsTo(kUpsertPath).last());
        body.remove(u"youtube_id"_qs);
        QCOMPARE(body.keys().join(u' '), sent);
        if (body.contains(u"position"_qs))
            QCOMPARE(body.value(u"position"_qs).toInt(), edits.contains(u"watched"_qs) ? 0 : 95);
        const Video *video = h.store->find(id);
        QCOMPARE(video->syncStateRaw, SyncStateRaw::synced);
        QCOMPARE(video->changedFields, 0);
    }

    // Positions saved while a video plays are cheap: the same one again writes nothing, a new one
    // writes its record and starts no cycle of its own; the next cycle for any reason pushes the
    // latest in one request.
    void positionsWaitForTheNextCycle()
    {
        SyncHarness h(true, 20ms);
        h.seed(u"play001"_qs, SyncStateRaw::synced);
        QSignalSpy saves(h.store, &VideoStore::saved);
        for (int second = 10; second <= 60; second += 10)
            QCOMPARE(h.engine->edits().setPosition(u"play001"_qs, second), EditOutcome::done);
        QCOMPARE(h.engine->edits().setPosition(u"play001"_qs, 60), EditOutcome::done);
        QCOMPARE(saves.size(), 6);
        QCOMPARE(h.engine->edits().setPosition(u"play001"_qs, kMaxVideoPosition + 1), EditOutcome::done);
        QCOMPARE(h.store->find(u"play001"_qs)->position, kMaxVideoPosition);
        QTest::qWait(kQuietMs);
        QCOMPARE(h.cyclesStarted(), 0);
        QCOMPARE(h.store->find(u"play001"_qs)->syncStateRaw, SyncStateRaw::needsPatch);

        h.engine->edits().setExcluded(u"play001"_qs, true);
        QVERIFY(QTest::qWaitFor([&] { return h.cyclesEnded() == 1; }));
        QCOMPARE(h.requestsTo(kUpsertPath).size(), 1);
        QCOMPARE(bodyOf(h.requestsTo(kUpsertPath).at(0)).value(u"position"_qs).toInt(), kMaxVideoPosition);
    }

    void inboxLinksArePushedInSameCycle()
    {
        SyncHarness h;
        QVERIFY(h.group->appendToShareInbox({u"https://youtu.be/inbox01"_qs, u"not a link at all"_qs,
                                             u"see https://www.youtube.com/shorts/inbox02"_qs}));
        h.runCycle();
        const QList<RecordedRequest> requests = h.server.requests();
        QCOMPARE(requests.size(), 3);
        // The adds go out together, so they may reach the server in either order.
        QCOMPARE((QSet<QString>{bodyOf(requests.at(0)).value(u"url"_qs).toString(),
                                bodyOf(requests.at(1)).value(u"url"_qs).toString()}),
                 (QSet<QString>{u"https://youtu.be/inbox01"_qs, u"https://youtu.be/inbox02"_qs}));
        QCOMPARE(requests.at(2).path, kVideosPath);
        QCOMPARE(h.store->synced().size(), 2);
        QCOMPARE(h.store->all().size(), 2);
        QVERIFY(h.group->shareInbox().isEmpty());
    }

    // The engine may go away while a request is out; the answer must then touch nothing.
    void engineDestroyedMidCycle_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::newRow("during the push") << kUpsertPath;
        QTest::newRow("during the pull") << kVideosPath;
    }
    void engineDestroyedMidCycle()
    {
        QFETCH(QByteArray, path);
        SyncHarness h;
        h.seed(u"patch1"_qs, SyncStateRaw::needsPatch);
        h.gate.close(path);
        QCoro::Task<void> cycle = h.engine->sync();
        QVERIFY(h.waitForRequests(path == kUpsertPath ? 1 : 2));
        h.close();
        h.gate.open();
        QCoro::waitFor(cycle);
        h.restart();
        QCOMPARE(h.store->find(u"patch1"_qs)->syncStateRaw,
                 path == kUpsertPath ? SyncStateRaw::needsPatch : SyncStateRaw::synced);
        QVERIFY(!h.rawGroup()->contains(u"syncCursor"_qs));
    }

    // An add that went out without an answer (the process ended while it was on the way) may
    // have reached the service: deleting the record after a restart must reach it too, or the
    // next pull brings the deleted video back.
    void deletionFollowsAnAddCutShort()
    {
        SyncHarness h;
        h.seed(u"added1"_qs, SyncStateRaw::needsAdd);
        h.gate.close(kUpsertPath);
        QCoro::Task<void> cycle = h.engine->sync();
        QVERIFY(h.waitForRequests(1));
        h.close();
        h.gate.open();
        QCoro::waitFor(cycle);
        h.restart();
        QCOMPARE(h.engine->edits().remove(u"added1"_qs), EditOutcome::done);
        QVERIFY(h.store->find(u"added1"_qs));
        QCOMPARE(h.store->find(u"added1"_qs)->syncStateRaw, SyncStateRaw::needsDelete);
        h.runCycle();
        QCOMPARE(h.requestsTo(kDeletePath).size(), 1);
        QVERIFY(!h.store->find(u"added1"_qs));
    }

    // The adds of a push go out a few at a time, never more; a record deleted while its add is
    // on the way is deleted on the service too, in the same push.
    void addsGoOutAFewAtATime()
    {
        SyncHarness h;
        constexpr int kRecords = SyncEngine::kAddsInFlight + 2;
        for (int i = 0; i < kRecords; ++i)
            h.seed(u"added%1"_qs.arg(i), SyncStateRaw::needsAdd);
        h.gate.close(kUpsertPath);
        QCoro::Task<void> cycle = h.engine->sync();
        QVERIFY(h.waitForRequests(SyncEngine::kAddsInFlight));
        QTest::qWait(100);
        const QList<RecordedRequest> held = h.requestsTo(kUpsertPath);
        QCOMPARE(held.size(), SyncEngine::kAddsInFlight);
        const QString inFlight = u"added%1"_qs.arg(SyncEngine::kAddsInFlight - 1);
        QCOMPARE(h.engine->edits().remove(inFlight), EditOutcome::done);
        QCOMPARE(h.store->find(inFlight)->syncStateRaw, SyncStateRaw::needsDelete);
        h.gate.open();
        QCoro::waitFor(cycle);
        // Adds name a link; what follows them (the seeded details) names the ID.
        const QList<RecordedRequest> upserts = h.requestsTo(kUpsertPath);
        QCOMPARE(std::count_if(upserts.cbegin(), upserts.cend(),
                               [](const RecordedRequest &r) { return r.body.contains("\"url\""); }),
                 kRecords);
        QCOMPARE(h.requestsTo(kDeletePath).size(), 1);
        QVERIFY(!h.store->find(inFlight));
        QVERIFY(h.store->pending().isEmpty());
    }

    // A cycle of a session that has ended writes nothing; the new session pulls from scratch.
    void signOutAndInMidCycle()
    {
        SyncHarness h;
        h.group->setSyncCursor(300, h.store->generation());
        h.reply(kVideosPath, FakeReply::json(pageBody({serverVideo(u"old001"_qs, 1, 1)}, 99, 1)));
        h.gate.close(kVideosPath);
        QCoro::Task<void> cycle = h.engine->sync();
        QVERIFY(h.waitForRequests(1));
        h.engine->signOut();
        QVERIFY(h.engine->signIn(u"token-2"_qs, u"other@example.com"_qs));
        h.gate.open();
        QCoro::waitFor(cycle);
        QVERIFY(QTest::qWaitFor([&] { return h.cyclesEnded() == 2; }));
        QVERIFY(!h.store->find(u"old001"_qs));
        const QList<RecordedRequest> pulls = h.requestsTo(kVideosPath);
        QCOMPARE(pulls.size(), 2);
        QCOMPARE(pulls.at(1).query, "since=0&after_id=0&limit=600");
        QCOMPARE(pulls.at(1).header("Authorization"), "Bearer token-2");
        QCOMPARE(h.group->syncCursor(), kEchoNow);
        QVERIFY(!h.engine->hasError());
    }

    void constructionAsAtLaunch_data()
    {
        QTest::addColumn<QVariant>("testToken"); // invalid: absent
        QTest::addColumn<bool>("tokenStored");
        QTest::addColumn<QVariant>("widgetVisible"); // the group value; invalid: absent
        QTest::addColumn<bool>("loggedIn");
        QTest::addColumn<bool>("widget");
        const QVariant absent;
        QTest::newRow("nothing stored") << absent << false << absent << false << true;
        QTest::newRow("token in the keychain") << absent << true << absent << true << true;
        QTest::newRow("testToken provisions the token") << QVariant(u"tok-9"_qs) << false << absent << true << true;
        QTest::newRow("empty testToken is ignored") << QVariant(QString()) << false << absent << false << true;
        QTest::newRow("widget hidden") << absent << true << QVariant(false) << true << false;
    }
    void constructionAsAtLaunch()
    {
        QFETCH(QVariant, testToken);
        QFETCH(bool, tokenStored);
        QFETCH(QVariant, widgetVisible);
        QFETCH(bool, loggedIn);
        SyncHarness h(tokenStored);
        if (tokenStored)
            h.secrets.keychainSave(u"me@example.com"_qs, SecretKeys::email);
        if (testToken.isValid())
            h.session->standard().setValue(u"testToken"_qs, testToken);
        if (widgetVisible.isValid())
            QSettings(h.group->path(), QSettings::IniFormat).setValue(u"widgetVisible"_qs, widgetVisible);
        h.restart(kShortDebounce);
        if (!loggedIn) { // nothing kicks a cycle while signed out
            h.engine->syncNow();
            edit(*h.engine, h.seed(u"edit01"_qs, SyncStateRaw::synced), u"exclude"_qs);
            h.watch.report(false);
            h.watch.report(true);
            QCoro::waitFor(h.engine->sync());
        }
        QCOMPARE(h.engine->isLoggedIn(), loggedIn);
        QTEST(h.engine->widgetVisible(), "widget");
        if (tokenStored) // launch records the signed-in account
            QCOMPARE(h.group->libraryAccount(), u"me@example.com"_qs);
        if (testToken.isValid() && !testToken.toString().isEmpty())
            QCOMPARE(h.secrets.keychainRead(SecretKeys::token), std::optional<QString>(testToken.toString()));
        QTest::qWait(kQuietMs);
        QCOMPARE(h.cyclesStarted(), 0);
        QCOMPARE(h.server.requestCount(), 0);
    }

    // A sign-in counts only once the keychain keeps the token; then it stores both items and syncs.
    void signInStoresCredentialsAndSyncs()
    {
        SyncHarness h(false);
        h.seed(u"local1"_qs, SyncStateRaw::needsPatch);
        QSignalSpy loggedIn(h.engine, &SyncEngine::isLoggedInChanged);
        QSignalSpy error(h.engine, &SyncEngine::lastErrorChanged);
        h.secrets.setFailWrites(true);
        QVERIFY(!h.engine->signIn(u"tok-1"_qs, u"a@example.com"_qs));
        QCOMPARE(h.engine->lastError(), u"Couldn't save your sign-in to the keychain."_qs);
        QCOMPARE(error.size(), 1);
        QVERIFY(!h.engine->isLoggedIn());
        QTest::qWait(kQuietMs);
        QCOMPARE(h.server.requestCount(), 0);
        h.secrets.setFailWrites(false);
        QVERIFY(h.engine->signIn(u"tok-1"_qs, u"a@example.com"_qs));
        QVERIFY(h.engine->isLoggedIn());
        QVERIFY(!h.engine->hasError());
        QCOMPARE(loggedIn.size(), 1);
        QCOMPARE(h.secrets.keychainRead(SecretKeys::email), std::optional<QString>(u"a@example.com"_qs));
        QVERIFY(QTest::qWaitFor([&] { return h.cyclesEnded() == 1; }));
        QCOMPARE(h.server.requests().at(0).header("Authorization"), "Bearer tok-1");
        QCOMPARE(h.store->find(u"local1"_qs)->syncStateRaw, SyncStateRaw::synced);
        // A second sign-in replaces both items; an empty e-mail is stored as such.
        QVERIFY(h.engine->signIn(u"tok-2"_qs, QString()));
        QCOMPARE(h.secrets.keychainRead(SecretKeys::token), std::optional<QString>(u"tok-2"_qs));
        QCOMPARE(h.secrets.keychainRead(SecretKeys::email), std::optional<QString>(QString()));
        QVERIFY(QTest::qWaitFor([&] { return h.cyclesEnded() == 2; }));
        QCOMPARE(h.server.lastRequest().header("Authorization"), "Bearer tok-2");
    }

    // A sign-out forgets the credentials and the cursors and keeps the library; whoever signs in
    // next never takes over the records of another account: none is pushed into the new library
    // and none stays to be shown as its own.
    void nextAccountNeverTakesOverTheRecords_data()
    {
        QTest::addColumn<QString>("before"); // "" : a store from before accounts were recorded
        QTest::addColumn<bool>("deleted");   // the account was erased on the service
        QTest::addColumn<QString>("next");
        QTest::addColumn<bool>("kept");
        QTest::newRow("same account again") << "a@example.com" << false << "a@example.com" << true;
        QTest::newRow("same account, other case") << "a@example.com" << false << " A@Example.com" << true;
        QTest::newRow("another account") << "a@example.com" << false << "b@example.com" << false;
        QTest::newRow("same address after deletion") << "a@example.com" << true << "a@example.com" << false;
        QTest::newRow("another account after deletion") << "a@example.com" << true << "b@example.com" << false;
        QTest::newRow("owner unknown") << "" << false << "b@example.com" << true;
        QTest::newRow("no address given") << "a@example.com" << false << "" << true;
    }
    void nextAccountNeverTakesOverTheRecords()
    {
        QFETCH(QString, before);
        QFETCH(bool, deleted);
        QFETCH(QString, next);
        QFETCH(bool, kept);
        SyncHarness h(false);
        QVERIFY(h.engine->signIn(u"tok-a"_qs, u"a@example.com"_qs));
        QVERIFY(QTest::qWaitFor([&] { return h.cyclesEnded() == 1; }));
        h.seed(u"pend01"_qs, SyncStateRaw::needsAdd);
        h.seed(u"sync01"_qs, SyncStateRaw::synced);
        h.group->restartForFamilyRev(u"0"_qs, h.store->generation());
        h.group->setSyncCursor(99, h.store->generation());
        h.group->setWidgetVisible(false);
        const QDateTime lastSync = h.engine->lastSync();
        if (deleted)
            h.engine->signOutDeletedAccount();
        else
            h.engine->signOut();
        QVERIFY(!h.engine->isLoggedIn());
        QVERIFY(!h.secrets.keychainRead(SecretKeys::token));
        QVERIFY(!h.secrets.keychainRead(SecretKeys::email));
        const auto raw = h.rawGroup();
        QVERIFY(!raw->contains(u"syncCursor"_qs) && !raw->contains(u"familyRev"_qs));
        QVERIFY(raw->contains(u"widgetVisible"_qs));
        QCOMPARE(h.engine->lastSync(), lastSync);
        if (!deleted)
            QCOMPARE(h.store->all().size(), 2);
        if (before.isEmpty())
            h.group->setLibraryAccount(QString());
        h.server.clearRequests();
        QSignalSpy removed(h.store, &VideoStore::removed);
        QVERIFY(h.engine->signIn(u"tok-b"_qs, next));
        QVERIFY(QTest::qWaitFor([&] { return h.cyclesEnded() == 2; }));
        QCOMPARE(h.store->find(u"pend01"_qs) != nullptr, kept);
        QCOMPARE(h.store->find(u"sync01"_qs) != nullptr, kept);
        QCOMPARE(h.requestsTo(kUpsertPath).isEmpty(), !kept);
        QCOMPARE(removed.size(), kept ? 0 : 1);
        if (!kept) {
            // The new library is pulled from its beginning, and the removal is on disk.
            QVERIFY(h.requestsTo(kVideosPath).at(0).query.startsWith("since=0&after_id=0"));
            h.restart();
            QVERIFY(h.store->all().isEmpty());
        }
        if (!next.isEmpty())
            QCOMPARE(h.group->libraryAccount(), next);
        if (kept || deleted)
            return;
        // The library of the account that left, its unsent change included, was set aside and
        // comes back with it; the change then reaches that account's library.
        h.engine->signOut();
        h.server.clearRequests();
        QVERIFY(h.engine->signIn(u"tok-a2"_qs, u"a@example.com"_qs));
        QVERIFY(QTest::qWaitFor([&] { return h.cyclesEnded() == 3; }));
        QVERIFY(h.store->find(u"sync01"_qs));
        QCOMPARE(h.store->find(u"pend01"_qs)->syncStateRaw, SyncStateRaw::synced);
        QVERIFY(!h.requestsTo(kUpsertPath).isEmpty());
        for (const RecordedRequest &upsert : h.requestsTo(kUpsertPath))
            QCOMPARE(upsert.header("Authorization"), "Bearer tok-a2");
        // When the library cannot be set aside, nobody else is signed in and nothing changes.
        h.seed(u"pend02"_qs, SyncStateRaw::needsPatch);
        QFile blocker(h.dir.filePath(u"kept-libraries"_qs));
        QVERIFY(QDir(blocker.fileName()).removeRecursively() && blocker.open(QIODevice::WriteOnly));
        QVERIFY(!h.engine->signIn(u"tok-c"_qs, u"c@example.com"_qs));
        QVERIFY(h.engine->lastError().contains(u"a@example.com"_qs));
        QCOMPARE(h.secrets.keychainRead(SecretKeys::token), std::optional<QString>(u"tok-a2"_qs));
        QCOMPARE(h.store->all().size(), 3);
        QCOMPARE(h.group->libraryAccount(), u"a@example.com"_qs);
    }

    // The cursor tells what the store it was written for holds: a store that is lost, emptied to
    // nothing or replaced by another file is filled from the beginning, never from the cursor.
    void lostStoreIsRefilledWhole_data()
    {
        QTest::addColumn<QString>("loss");
        QTest::addColumn<QByteArray>("since");
        QTest::newRow("store kept") << "" << QByteArray("since=500&");
        QTest::newRow("cursor of an earlier release") << "unclaimed" << QByteArray("since=500&");
        QTest::newRow("store deleted") << "deleted" << QByteArray("since=0&");
        QTest::newRow("store emptied to zero bytes") << "zero bytes" << QByteArray("since=0&");
        QTest::newRow("store replaced by another") << "replaced" << QByteArray("since=0&");
    }
    void lostStoreIsRefilledWhole()
    {
        QFETCH(QString, loss);
        SyncHarness h;
        h.seed(u"sync01"_qs, SyncStateRaw::synced);
        QVERIFY(h.group->setSyncCursor(500, h.store->generation()));
        const QString path = h.store->path();
        const QString other = h.dir.filePath(u"other.sqlite"_qs);
        QVERIFY(h.store->copyTo(other, {}, nullptr));
        h.close();
        if (loss == u"unclaimed")
            QSettings(h.dir.filePath(u"group.ini"_qs), QSettings::IniFormat).remove(u"syncCursorStore"_qs);
        for (const QString &suffix : {u""_qs, u"-wal"_qs, u"-shm"_qs}) {
            if (!loss.isEmpty() && loss != u"unclaimed")
                QFile::remove(path + suffix);
        }
        if (loss == u"zero bytes")
            QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        if (loss == u"replaced")
            QVERIFY(QFile::copy(other, path));
        h.restart();
        QSignalSpy refilling(h.engine, &SyncEngine::refilling);
        h.runCycle();
        QFETCH(QByteArray, since);
        QVERIFY2(h.requestsTo(kVideosPath).at(0).query.startsWith(since), h.requestsTo(kVideosPath).at(0).query);
        QCOMPARE(refilling.size(), since == "since=0&" ? 1 : 0);
        // The next pull goes on from the cursor the refill ended with.
        h.server.clearRequests();
        h.runCycle();
        QVERIFY(!h.requestsTo(kVideosPath).at(0).query.startsWith("since=0&"));
    }

    // Kicks while a cycle runs (a sync asked for, the network back) give one follow-up cycle.
    void kicksDuringCycleCollapseIntoOne()
    {
        SyncHarness h;
        h.gate.close(kVideosPath);
        h.engine->syncNow();
        QVERIFY(h.engine->syncing());
        QVERIFY(h.waitForRequests(1));
        h.engine->syncNow();
        h.watch.report(false);
        h.watch.report(true);
        h.engine->syncNow();
        QCoro::Task<void> direct = h.engine->sync();
        QVERIFY(direct.isReady());
        h.gate.open();
        QVERIFY(QTest::qWaitFor([&] { return h.cyclesEnded() == 2; }));
        QTest::qWait(kQuietMs);
        QCOMPARE(h.cyclesStarted(), 2);
        QCOMPARE(h.requestsTo(kVideosPath).size(), 2);
        QVERIFY(!h.engine->syncing());
    }

    // A burst of edits of every kind gives one cycle a full pause after the last of them, which
    // sends each edit once; a deleted add that was never sent sends nothing.
    void editsScheduleOneCycleAfterThePause()
    {
        SyncHarness h(true, kRestartDebounce);
        const QStringList kinds{u"exclude"_qs, u"details"_qs, u"delete"_qs, u"delete"_qs};
        for (int i = 0; i < kinds.size(); ++i)
            h.seed(u"edit0%1"_qs.arg(i), i == 3 ? SyncStateRaw::needsAdd : SyncStateRaw::synced);
        QElapsedTimer clock;
        qint64 cycleStart = -1;
        QObject::connect(h.engine, &SyncEngine::syncingChanged, h.engine, [&](bool syncing) {
            if (syncing && cycleStart < 0)
                cycleStart = clock.elapsed();
        });
        clock.start();
        for (int i = 0; i < kinds.size(); ++i) {
            if (i > 0)
                QTest::qWait(int(kRestartDebounce.count() / 4));
            edit(*h.engine, h.store->find(u"edit0%1"_qs.arg(i)), kinds.at(i));
        }
        const qint64 lastEdit = clock.elapsed();
        QVERIFY(QTest::qWaitFor([&] { return h.cyclesEnded() == 1; }, 10000));
        QVERIFY2(cycleStart - lastEdit >= kRestartDebounce.count(),
                 qPrintable(u"cycle %1 ms after the last edit"_qs.arg(cycleStart - lastEdit)));
        QTest::qWait(kQuietMs);
        QCOMPARE(h.cyclesStarted(), 1);
        QCOMPARE(h.requestsTo(kUpsertPath).size(), 2);
        QCOMPARE(h.requestsTo(kDeletePath).size(), 1);
        QCOMPARE(bodyOf(h.requestsTo(kDeletePath).at(0)).value(u"youtube_id"_qs).toString(), u"edit02"_qs);
        QCOMPARE(h.server.requestCount(), 4);
    }

    void networkComingBackKicksOnce()
    {
        SyncHarness h;
        h.watch.report(true); // the first report after launch never kicks
        QTest::qWait(kQuietMs);
        QCOMPARE(h.cyclesStarted(), 0);
        h.watch.report(false);
        h.watch.report(true);
        h.watch.report(true);
        QVERIFY(QTest::qWaitFor([&] { return h.cyclesEnded() == 1; }));
        QTest::qWait(kQuietMs);
        QCOMPARE(h.cyclesStarted(), 1);
    }

    // The state a local edit leaves, and that it is saved at once.
    void localEditStates_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("after"); // empty: removed
        const auto row = [](const QString &edit, const QString &change) {
            const QStringList states = change.split(u' ');
            QTest::addRow("%s, %s", qPrintable(edit), qPrintable(states.at(0)))
                << edit << states.at(0) << (states.at(1) == u"-" ? QString() : states.at(1));
        };
        for (const QString &edit : {u"exclude"_qs, u"details"_qs}) {
            for (const QString &change : {u"synced needsPatch"_qs, u"weird needsPatch"_qs, u"needsAdd needsAdd"_qs,
                                          u"needsPatch needsPatch"_qs, u"needsDelete needsDelete"_qs})
                row(edit, change);
        }
        for (const QString &change : {u"needsAdd -"_qs, u"synced needsDelete"_qs, u"weird needsDelete"_qs,
                                      u"needsPatch needsDelete"_qs, u"needsDelete needsDelete"_qs})
            row(u"delete"_qs, change);
    }
    void localEditStates()
    {
        QFETCH(QString, edit);
        QFETCH(QString, before);
        SyncHarness h(false);
        const Video *video = h.seed(u"edit01"_qs, before, u"Old"_qs);
        QSignalSpy localEdit(h.engine, &SyncEngine::localEdit);
        if (edit == u"details"_qs)
            h.engine->edits().edit(u"edit01"_qs, u" New "_qs, u"someday"_qs, u"1:2:3"_qs);
        else
            ::edit(*h.engine, video, edit);
        QVERIFY(!h.store->hasUnsavedChanges());
        QCOMPARE(localEdit.size(), edit == u"details"_qs ? 1 : 0);
        h.restart();
        video = h.store->find(u"edit01"_qs);
        QTEST(video ? video->syncStateRaw : QString(), "after");
        if (!video)
            return;
        QCOMPARE(video->excluded, edit == u"exclude"_qs);
        QCOMPARE(video->title, edit == u"details"_qs ? u" New "_qs : u"Old"_qs);
        QCOMPARE(video->uploadDate, edit == u"details"_qs ? u"someday"_qs : u"2019-05-06"_qs);
        QCOMPARE(video->duration, edit == u"details"_qs ? u"1:2:3"_qs : u"1:00"_qs);
        QCOMPARE(video->createdAt, 500);
        QCOMPARE(video->updatedAt, 600);
    }

    // The one door answers every text: a new video is stored pending, dated by the UTC day, and
    // saved; a link to a stored video leaves the record untouched (a pending deletion is not
    // revived); a text without a video the service would take adds nothing and says why.
    void addAnswersEachText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("state"); // of the stored have01; empty: none stored
        QTest::addColumn<AddOutcome::Kind>("kind");
        using enum AddOutcome::Kind;
        QTest::newRow("new") << u"watch this: https://www.youtube.com/watch?v=NewVid1&t=4"_qs << QString() << added;
        QTest::newRow("stored") << u"https://youtu.be/have01"_qs << u"synced"_qs << alreadyThere;
        QTest::newRow("needsDelete is not revived")
            << u"https://youtu.be/have01"_qs << u"needsDelete"_qs << alreadyThere;
        QTest::newRow("no link") << u"hello there"_qs << QString() << notAVideoLink;
        QTest::newRow("ID of the service's own records") << u"https://youtu.be/x-abcdef"_qs << QString() << refused;
        QTest::newRow("ID the service would refuse")
            << u"https://youtu.be/"_qs + QString(257, u'a') << QString() << refused;
    }

    void addAnswersEachText()
    {
        QFETCH(QString, text);
        QFETCH(QString, state);
        QFETCH(AddOutcome::Kind, kind);
        SyncHarness h(false);
        h.clock.set(kStartMs + 11 * 3600 * 1000 + 59 * 60 * 1000); // 23:59 UTC
        const qint64 now = h.clock.nowMs();
        const Video *stored = state.isEmpty() ? nullptr : h.seed(u"have01"_qs, state);
        const std::optional<Video> copy = stored ? std::optional<Video>(*stored) : std::nullopt;
        const AddOutcome outcome = h.engine->edits().add(text);
        QCOMPARE(outcome.kind, kind);
        QCOMPARE(outcome.reason.isEmpty(), kind != AddOutcome::Kind::refused);
        QCOMPARE(LocalEdits::check(text).kind, kind == AddOutcome::Kind::alreadyThere ? AddOutcome::Kind::added : kind);
        QCOMPARE(h.store->all().size(), stored || kind == AddOutcome::Kind::added ? 1 : 0);
        QVERIFY(!h.store->hasUnsavedChanges());
        if (stored)
            QCOMPARE(*stored, *copy);
        if (kind == AddOutcome::Kind::added)
            QCOMPARE(*h.store->find(u"NewVid1"_qs),
                     Video(u"NewVid1"_qs, u"Fetching title\u2026"_qs, u"https://youtu.be/NewVid1"_qs, u"2024-03-05"_qs,
                           QString(), false, u"ios"_qs, now, now, SyncStateRaw::needsAdd));
    }

    // Changes to a record the library does not hold, or holds read-only for a family member,
    // are answered as such and change nothing; several texts are added in one save, each once.
    void changesAnswerWhatHappened()
    {
        SyncHarness h(false);
        h.seed(u"shared1"_qs, SyncStateRaw::synced, u"Theirs"_qs);
        h.store->update(u"shared1"_qs, [](Video &video) {
            video.readOnly = true;
            video.ownerEmail = u"mum@example.com"_qs;
            return true;
        });
        h.store->save();
        LocalEdits &edits = h.engine->edits();
        for (const QString &id : {u"shared1"_qs, u"absent1"_qs}) {
            const EditOutcome expected = id == u"shared1"_qs ? EditOutcome::readOnly : EditOutcome::notFound;
            QCOMPARE(edits.setExcluded(id, true), expected);
            QCOMPARE(edits.edit(id, u"Mine"_qs, QString(), QString()), expected);
            QCOMPARE(edits.remove(id), expected);
            QCOMPARE(edits.setWatched(id, true), expected);
            QCOMPARE(edits.setPosition(id, 30), expected);
            QVERIFY(!LocalEdits::describe(expected).isEmpty());
        }
        QCOMPARE(h.store->find(u"shared1"_qs)->syncStateRaw, SyncStateRaw::synced);
        QCOMPARE(h.store->find(u"shared1"_qs)->title, u"Theirs"_qs);

        QSignalSpy saves(h.store, &VideoStore::saved);
        const QList<AddOutcome> outcomes = edits.add(linkTexts(
            u"https://youtu.be/first01 and\nhttps://youtu.be/second2 https://youtu.be/first01 https://youtu.be/x-badone"_qs));
        QStringList kinds;
        for (const AddOutcome &outcome : outcomes)
            kinds.append(QString::number(int(outcome.kind)));
        QCOMPARE(kinds.join(u' '), u"0 0 1 3"_qs);
        QCOMPARE(saves.size(), 1);
        QCOMPARE(LocalEdits::summary(outcomes), u"Added 2 videos. 1 already in your library. Not added: A video ID "
                                                u"can't begin with “x-”."_qs);
    }

    // Values other processes and builds wrote: only what the format allows is taken; without a
    // file (which reading never creates) every value has its default.
    void valuesWrittenElsewhere_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<QVariant>("read");
        const auto row = [](const char *name, const char *key, const QVariant &stored, const QVariant &read) {
            QTest::newRow(name) << QString::fromLatin1(key) << stored << read;
        };
        const QVariant zero = qint64(0);
        row("cursor absent", "syncCursor", {}, zero);
        row("family revision absent", "familyRev", {}, u"0"_qs);
        row("widget absent", "widgetVisible", {}, true);
        row("inbox absent", "shareInbox", {}, QStringList());
        row("cursor, plus sign, leading zeros", "syncCursor", u"+0042"_qs, qint64(42));
        row("cursor, negative", "syncCursor", u"-7"_qs, qint64(-7));
        row("cursor, largest", "syncCursor", u"9223372036854775807"_qs, std::numeric_limits<qint64>::max());
        row("cursor beyond 64 bits", "syncCursor", u"9223372036854775808"_qs, zero);
        row("cursor, trailing letters", "syncCursor", u"12a"_qs, zero);
        row("cursor, space", "syncCursor", u" 5"_qs, zero);
        row("cursor, empty", "syncCursor", QString(), zero);
        row("cursor, a list", "syncCursor", QStringList{u"1"_qs, u"2"_qs}, zero);
        row("widget false", "widgetVisible", false, false);
        row("widget true", "widgetVisible", true, true);
        row("widget: zero is not a Boolean", "widgetVisible", u"0"_qs, true);
        row("widget: text", "widgetVisible", u"no"_qs, true);
        row("inbox list", "shareInbox", QStringList{u"one"_qs, u"two"_qs}, QStringList{u"one"_qs, u"two"_qs});
        row("inbox, one number", "shareInbox", 42, QStringList{u"42"_qs});
        row("inbox, bytes", "shareInbox", QByteArray("\x01\x02"), QStringList());
    }
    void valuesWrittenElsewhere()
    {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(QVariant, read);
        const QString path = freshPath();
        GroupSettings group(path);
        if (stored.isValid())
            QSettings(path, QSettings::IniFormat).setValue(key, stored);
        if (key == u"syncCursor"_qs)
            QCOMPARE(QVariant(group.syncCursor()), read);
        else if (key == u"familyRev"_qs)
            QCOMPARE(QVariant(group.familyRev()), read);
        else if (key == u"widgetVisible"_qs)
            QCOMPARE(QVariant(group.widgetVisible()), read);
        else
            QCOMPARE(QVariant(group.takeShareInbox()), read);
        QCOMPARE(QFile::exists(path), stored.isValid());
    }

    void cursorsRestartAndRemoval()
    {
        const QString path = freshPath();
        GroupSettings group(path);
        QVERIFY(group.setSyncCursor(-12345678901234, u"store"_qs));
        QCOMPARE(group.syncCursor(), -12345678901234);
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(u"syncCursor"_qs), QVariant(u"-12345678901234"_qs));
        QVERIFY(group.setWidgetVisible(false));
        QVERIFY(group.appendToShareInbox({u"link"_qs}));
        QVERIFY(!group.familyRefreshPending());
        QVERIFY(group.restartForFamilyRev(u"rev-9"_qs, u"store"_qs));
        QCOMPARE(group.familyRev(), u"rev-9"_qs);
        QCOMPARE(group.syncCursor(), 0);
        QCOMPARE(QSettings(path, QSettings::IniFormat).value(u"syncCursor"_qs), QVariant(u"0"_qs));
        // The refresh outlives a sign-out; only the cursor of a completed pull ends it.
        QVERIFY(group.removeCursors());
        QVERIFY(group.familyRefreshPending());
        QVERIFY(group.setSyncCursor(66, u"store"_qs));
        QVERIFY(!group.familyRefreshPending());
        QVERIFY(group.removeCursors());
        // A copy under a new name: QSettings may trust its cache of a file name it has read.
        const QString copy = m_dir.filePath(u"copy-%1.ini"_qs.arg(m_files));
        QVERIFY(QFile::copy(path, copy));
        const QSettings raw(copy, QSettings::IniFormat);
        QVERIFY(!raw.contains(u"syncCursor"_qs) && !raw.contains(u"familyRev"_qs));
        QVERIFY(!group.widgetVisible());
        QCOMPARE(group.shareInbox(), QStringList{u"link"_qs});
    }

    void inboxKeepsEveryTextAsWritten()
    {
        // Commas, quotes, spaces and other characters the settings format has to escape.
        const QStringList links =
            u"https://youtu.be/abcdef|a, b|\"quoted\"|  spaced  |@Invalid()|видео ✓|back\\slash|semi;colon=equals"_qs
                .split(u'|');
        GroupSettings group(freshPath());
        QVERIFY(group.appendToShareInbox(links.mid(0, 1)));
        QVERIFY(group.appendToShareInbox(links.mid(1)));
        QCOMPARE(group.shareInbox(), links);
        QCOMPARE(group.takeShareInbox(), links);
        QVERIFY(group.takeShareInbox().isEmpty());
        QVERIFY(group.shareInbox().isEmpty());
    }

    void unreadableFileIsReplacedOnWrite()
    {
        const QString path = freshPath();
        GroupSettings group(path);
        QVERIFY(group.setSyncCursor(1, u"store"_qs)); // creates the folder
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArrayLiteral("\xff\xfe[[[garbage\n=\n\x00\x01"));
        file.close();
        QCOMPARE(group.syncCursor(), 0);
        QVERIFY(group.appendToShareInbox({u"https://youtu.be/after1"_qs}));
        QCOMPARE(group.takeShareInbox(), QStringList{u"https://youtu.be/after1"_qs});
    }

    // Another process holds the lock for longer than a call waits: nothing is written and
    // nothing is taken, so no link is lost or taken twice.
    void lockHeldElsewhere()
    {
        const QString path = freshPath();
        GroupSettings group(path, 50ms);
        QVERIFY(group.appendToShareInbox({u"first"_qs}));
        QLockFile held(path + u".lock"_qs);
        QVERIFY(held.tryLock(0));
        QVERIFY(!group.appendToShareInbox({u"second"_qs}));
        QVERIFY(!group.lastError().isEmpty());
        QVERIFY(group.takeShareInbox().isEmpty());
        QVERIFY(!group.setSyncCursor(3, u"store"_qs));
        held.unlock();
        QCOMPARE(group.takeShareInbox(), QStringList{u"first"_qs});
        // A holder killed mid-change leaves its file, naming a process ID that may belong to a
        // live program of the same name by now (here: this test). The kernel's lock tells.
        QFile left(path + u".lock"_qs);
        QVERIFY(left.open(QIODevice::WriteOnly));
        left.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n' +
                   QCoreApplication::applicationName().toUtf8() + '\n' + QSysInfo::machineHostName().toUtf8() + '\n');
        left.close();
        QVERIFY(left.open(QIODevice::ReadOnly));
        QVERIFY(left.setFileTime(QDateTime::currentDateTime().addSecs(-5), QFileDevice::FileModificationTime));
        left.close();
        QVERIFY2(group.appendToShareInbox({u"third"_qs}), qPrintable(group.lastError()));
    }

    // Writer processes append while the application takes: every link arrives exactly once.
    void concurrentWritersLoseNothing()
    {
        const QString path = freshPath();
        GroupSettings group(path);
        QVERIFY(group.setSyncCursor(1, u"store"_qs)); // creates the folder before the writers race for it
        std::vector<std::unique_ptr<QProcess>> children;
        for (int w = 0; w < kWriters; ++w) {
            auto child = std::make_unique<QProcess>();
            child->setProcessChannelMode(QProcess::ForwardedChannels);
            child->start(QCoreApplication::applicationFilePath(),
                         {QString::fromLatin1(kWorkerFlag), path, u"w%1"_qs.arg(w), QString::number(kLinksPerWriter)});
            QVERIFY(child->waitForStarted());
            children.push_back(std::move(child));
        }
        QStringList taken;
        const auto running = [](const auto &child) { return child->state() != QProcess::NotRunning; };
        do {
            QTest::qWait(1);
            taken += group.takeShareInbox();
        } while (std::any_of(children.begin(), children.end(), running));
        taken += group.takeShareInbox();
        QStringList expected;
        for (int w = 0; w < kWriters; ++w) {
            QCOMPARE(children.at(w)->exitStatus(), QProcess::NormalExit);
            QCOMPARE(children.at(w)->exitCode(), 0);
            for (int i = 0; i < kLinksPerWriter; ++i)
                expected.append(linkOf(u"w%1"_qs.arg(w), i));
        }
        taken.sort();
        expected.sort();
        QCOMPARE(taken, expected);
    }
};

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], kWorkerFlag) == 0)
        return appendLinks(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoi(argv[4]));
    SyncTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SyncTest.moc"
