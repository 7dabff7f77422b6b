#include "SyncHarness.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace clipvane;
using namespace clipvane::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kShortDebounce = 50ms;
// Long enough that a loaded machine does not stretch the pause between two edits past it.
constexpr auto kRestartDebounce = 1000ms;
constexpr int kQuietMs = 200;

} // namespace

class SyncTriggersTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

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
        QTest::newRow("widget value not a Boolean") << absent << true << QVariant(u"maybe"_qs) << true << true;
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
            h.standard->setValue(u"testToken"_qs, testToken);
        if (widgetVisible.isValid())
            QSettings(h.group->path(), QSettings::IniFormat).setValue(u"widgetVisible"_qs, widgetVisible);

        h.restart(kShortDebounce);
        if (!loggedIn) { // nothing kicks a cycle while signed out
            h.engine->syncNow();
            h.engine->toggleExcluded(h.seed(u"edit01"_qs, SyncStateRaw::synced));
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
        h.group->restartForFamilyRev(u"0"_qs);
        h.group->setSyncCursor(99);
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

    void eachEditRestartsTheDebounce()
    {
        SyncHarness h(true, kRestartDebounce);
        h.seed(u"edit01"_qs, SyncStateRaw::synced);
        QElapsedTimer clock;
        qint64 lastEdit = 0;
        qint64 cycleStart = -1;
        QObject::connect(h.engine, &SyncEngine::syncingChanged, h.engine, [&](bool syncing) {
            if (syncing && cycleStart < 0)
                cycleStart = clock.elapsed();
        });

        clock.start();
        h.engine->toggleExcluded(h.store->find(u"edit01"_qs));
        QTest::qWait(int(kRestartDebounce.count() / 3));
        lastEdit = clock.elapsed();
        h.engine->applyEdit(h.store->find(u"edit01"_qs), u"New title"_qs, QString(), QString());

        QVERIFY(QTest::qWaitFor([&] { return h.cyclesEnded() == 1; }, 10000));
        QVERIFY2(cycleStart - lastEdit >= kRestartDebounce.count(),
                 qPrintable(u"cycle %1 ms after the last edit"_qs.arg(cycleStart - lastEdit)));
        QCOMPARE(h.cyclesStarted(), 1);
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

        const QStringList edits{u"exclude"_qs, u"details"_qs};
        for (const QString &edit : edits) {
            const auto row = [&](const char *name) -> QTestData & {
                return QTest::newRow(qPrintable(edit + u", "_qs + QLatin1String(name)));
            };
            row("synced") << edit << u"synced"_qs << u"needsPatch"_qs;
            row("unrecognised") << edit << u"weird"_qs << u"needsPatch"_qs;
            row("needsAdd") << edit << u"needsAdd"_qs << u"needsAdd"_qs;
            row("needsPatch") << edit << u"needsPatch"_qs << u"needsPatch"_qs;
            row("needsDelete") << edit << u"needsDelete"_qs << u"needsDelete"_qs;
        }
        QTest::newRow("delete, needsAdd") << u"delete"_qs << u"needsAdd"_qs << QString();
        QTest::newRow("delete, synced") << u"delete"_qs << u"synced"_qs << u"needsDelete"_qs;
        QTest::newRow("delete, unrecognised") << u"delete"_qs << u"weird"_qs << u"needsDelete"_qs;
        QTest::newRow("delete, needsPatch") << u"delete"_qs << u"needsPatch"_qs << u"needsDelete"_qs;
        QTest::newRow("delete, needsDelete") << u"delete"_qs << u"needsDelete"_qs << u"needsDelete"_qs;
    }

    void localEditStates()
    {
        QFETCH(QString, edit);
        QFETCH(QString, before);
        SyncHarness h(false);
        Video *video = h.seed(u"edit01"_qs, before, u"Old"_qs);
        QSignalSpy localEdit(h.engine, &SyncEngine::localEdit);

        if (edit == u"exclude"_qs)
            h.engine->toggleExcluded(video);
        else if (edit == u"details"_qs)
            h.engine->applyEdit(video, u" New "_qs, u"someday"_qs, u"1:2:3"_qs);
        else
            h.engine->markDeleted(video);
        QVERIFY(!h.store->hasUnsavedChanges());
        QCOMPARE(localEdit.size(), edit == u"details"_qs ? 1 : 0);

        h.restart();
        video = h.store->find(u"edit01"_qs);
        QTEST(video ? video->syncStateRaw : QString(), "after");
        if (!video)
            return;
        QCOMPARE(video->excluded, edit == u"exclude"_qs);
        QCOMPARE(video->title, edit == u"details"_qs ? u" New "_qs : u"Old"_qs);
        if (edit == u"details"_qs) {
            QCOMPARE(video->uploadDate, u"someday"_qs);
            QCOMPARE(video->duration, u"1:2:3"_qs);
        }
        QCOMPARE(video->createdAt, 500);
        QCOMPARE(video->updatedAt, 600);
    }

    // A burst of edits gives one cycle after the pause; what it sends depends on the edit.
    void editsScheduleOneCycle_data()
    {
        QTest::addColumn<QString>("edit");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QByteArray>("path"); // where the edits go
        QTest::newRow("exclude") << u"exclude"_qs << u"synced"_qs << kUpsertPath;
        QTest::newRow("details") << u"details"_qs << u"synced"_qs << kUpsertPath;
        QTest::newRow("delete") << u"delete"_qs << u"synced"_qs << kDeletePath;
        QTest::newRow("delete of an add never sent: nothing to send") << u"delete"_qs << u"needsAdd"_qs << kVideosPath;
    }

    void editsScheduleOneCycle()
    {
        QFETCH(QString, edit);
        QFETCH(QString, state);
        QFETCH(QByteArray, path);
        constexpr int kEdits = 4;
        SyncHarness h(true, kShortDebounce);
        for (int i = 0; i < kEdits; ++i) {
            Video *video = h.seed(u"edit0%1"_qs.arg(i), state);
            if (edit == u"exclude"_qs)
                h.engine->toggleExcluded(video);
            else if (edit == u"details"_qs)
                h.engine->applyEdit(video, u"New"_qs, QString(), QString());
            else
                h.engine->markDeleted(video);
        }
        QCoreApplication::processEvents();
        QCOMPARE(h.cyclesStarted(), 0);
        QVERIFY(QTest::qWaitFor([&] { return h.cyclesEnded() == 1; }));
        QTest::qWait(kQuietMs);
        QCOMPARE(h.cyclesStarted(), 1);
        QCOMPARE(h.requestsTo(path).size(), path == kVideosPath ? 1 : kEdits);
        QCOMPARE(h.server.requestCount(), path == kVideosPath ? 1 : kEdits + 1);
    }

    void addVideoCreatesPendingRecord()
    {
        SyncHarness h;
        h.clock.set(kStartMs + 11 * 3600 * 1000 + 59 * 60 * 1000); // 23:59 UTC
        const qint64 now = h.clock.nowMs();

        Video *video = h.engine->addVideo(u"watch this: https://www.youtube.com/watch?v=NewVid1&t=4"_qs);

        QVERIFY(video);
        QCOMPARE(*video, Video(u"NewVid1"_qs, u"Fetching title\u2026"_qs, u"https://youtu.be/NewVid1"_qs,
                               u"2024-03-05"_qs, QString(), false, u"ios"_qs, now, now, SyncStateRaw::needsAdd));
        QVERIFY(h.store->hasUnsavedChanges());
        QCOMPARE(h.store->find(u"NewVid1"_qs), video);
    }

    // A link to a stored video hands back the record untouched (one pending deletion is not
    // revived); text without a video the service would take adds nothing.
    void addVideoOnlyTakesNewVideos_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("state"); // of the stored have01; empty: none stored
        QTest::newRow("stored") << u"https://youtu.be/have01"_qs << u"synced"_qs;
        QTest::newRow("needsDelete is not revived") << u"https://youtu.be/have01"_qs << u"needsDelete"_qs;
        QTest::newRow("no link") << u"hello there"_qs << QString();
        QTest::newRow("ID too short") << u"https://youtu.be/abc"_qs << QString();
        QTest::newRow("ID of the service's own records") << u"https://youtu.be/x-abcdef"_qs << QString();
        QTest::newRow("ID the service would refuse") << u"https://youtu.be/"_qs + QString(257, u'a') << QString();
    }

    void addVideoOnlyTakesNewVideos()
    {
        QFETCH(QString, text);
        QFETCH(QString, state);
        SyncHarness h;
        Video *stored = state.isEmpty() ? nullptr : h.seed(u"have01"_qs, state);
        const std::optional<Video> copy = stored ? std::optional<Video>(*stored) : std::nullopt;
        QCOMPARE(h.engine->addVideo(text), stored);
        if (stored)
            QCOMPARE(*stored, *copy);
        QCOMPARE(h.store->all().size(), stored ? 1 : 0);
        QVERIFY(!h.store->hasUnsavedChanges());
    }
};

QTEST_GUILESS_MAIN(SyncTriggersTest)
#include "SyncTriggersTest.moc"
