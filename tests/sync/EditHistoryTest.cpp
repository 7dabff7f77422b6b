#include "EditHistory.h"
#include "LocalEdits.h"
#include "RecordRules.h"
#include "SyncEngine.h"
#include "TestLibrary.h"
#include "Video.h"
#include "VideoStore.h"

#include <QSignalSpy>
#include <QTest>
#include <functional>

using namespace clipvane;
using namespace clipvane::test;

namespace {

Video record(const QString &id, const QString &state = SyncStateRaw::synced)
{
    Video video(id, u"Title "_qs + id, u"https://youtu.be/"_qs + id, u"2021-04-05"_qs, u"12:34"_qs, false, u"web"_qs,
                1600000000000, 1600000001000, state);
    video.watched = true;
    video.position = 95;
    return video;
}

Video shared(const QString &id)
{
    Video video = record(id);
    video.readOnly = true;
    video.ownerEmail = u"mum@example.com"_qs;
    return video;
}

// The deletion reached the service: the sync cycle lets the record go.
void pushDeletions(VideoStore &store)
{
    QList<const Video *> gone;
    for (const Video *video : store.all()) {
        if (video->syncState() == SyncState::needsDelete)
            gone << video;
    }
    store.remove(gone);
    store.save();
}

// What the person sees of a record and what the next push does with it.
QString shown(const VideoStore &store, const QString &id)
{
    const Video *v = store.find(id);
    if (!v)
        return u"gone"_qs;
    return u"%1|%2|%3|%4|x%5|w%6|p%7|%8"_qs.arg(v->title, v->uploadDate, v->duration, v->syncStateRaw)
        .arg(v->excluded)
        .arg(v->watched)
        .arg(v->position)
        .arg(v->createdAt);
}

} // namespace

using Step = std::function<void(EditHistory &, VideoStore &)>;
Q_DECLARE_METATYPE(Step)

class EditHistoryTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestLibrary> m_library;
    VideoStore &store() { return m_library->session->store(); }
    SyncEngine &engine() { return m_library->session->engine(); }

    void open(const QList<Video> &records)
    {
        m_library = std::make_unique<TestLibrary>();
        for (const Video &video : records)
            store().insert(video);
        QVERIFY(store().save());
    }

private Q_SLOTS:
    void cleanup() { m_library.reset(); }

    // Many records change in one pass with one save and one sync, whatever their number; the
    // videos of shared libraries are counted and left alone.
    void bulkChangesSaveOnce_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("remove"); // else exclude
        QTest::newRow("exclude 3") << 3 << false;
        QTest::newRow("delete 3") << 3 << true;
        QTest::newRow("exclude 5,000") << 5000 << false;
        QTest::newRow("delete 5,000") << 5000 << true;
    }
    void bulkChangesSaveOnce()
    {
        QFETCH(int, count);
        QFETCH(bool, remove);
        QList<Video> records;
        QStringList ids;
        for (int i = 0; i < count; ++i) {
            // Every third is still waiting for its add: a deletion drops it at once.
            records << record(u"v%1"_qs.arg(i, 7, 10, QLatin1Char('0')),
                              i % 3 == 0 ? SyncStateRaw::needsAdd : SyncStateRaw::synced);
            ids << records.constLast().youtubeID;
        }
        records << shared(u"shared01"_qs) << shared(u"shared02"_qs);
        open(records);
        ids << u"shared01"_qs << u"shared02"_qs << u"nothere1"_qs;
        QSignalSpy saves(&store(), &VideoStore::saved);
        QSignalSpy syncs(&engine().edits(), &LocalEdits::changed);
        const BulkOutcome outcome = remove ? engine().edits().remove(ids) : engine().edits().setExcluded(ids, true);
        QCOMPARE(outcome, (BulkOutcome{count, 1, 2, 0, false}));
        QCOMPARE(saves.count(), 1);
        QCOMPARE(syncs.count(), 1);
        QVERIFY(!store().find(u"shared01"_qs)->excluded);
        QCOMPARE(store().find(u"shared01"_qs)->syncStateRaw, SyncStateRaw::synced);
        const Video *added = store().find(u"v0000000"_qs);
        const Video *synced = store().find(u"v0000001"_qs);
        if (remove) {
            QVERIFY(!added);
            QCOMPARE(synced->syncStateRaw, SyncStateRaw::needsDelete);
        } else {
            QVERIFY(added->excluded && synced->excluded);
            QCOMPARE(added->syncStateRaw, SyncStateRaw::needsAdd);
            QCOMPARE(synced->syncStateRaw, SyncStateRaw::needsPatch);
        }
    }

    void undo_data()
    {
        QTest::addColumn<Step>("act");
        QTest::addColumn<Step>("meanwhile");
        QTest::addColumn<EditHistory::Kind>("kind");
        QTest::addColumn<qsizetype>("restored");
        QTest::addColumn<qsizetype>("skipped");
        QTest::addColumn<QString>("a"); // aaaaaaaa afterwards, as shown()
        QTest::addColumn<QString>("b"); // bbbbbbbb afterwards

        const Step nothing = [](EditHistory &, VideoStore &) {};
        const QString patched = u"Title aaaaaaaa|2021-04-05|12:34|needsPatch|x0|w1|p95|1600000000000"_qs;
        const QString bSynced = u"Title bbbbbbbb|2021-04-05|12:34|synced|x1|w1|p95|1600000000000"_qs;
        const QString cAdd = u"Title cccccccc|2021-04-05|12:34|needsAdd|x0|w1|p95|1600000000000"_qs;
        const Step removeAC = [](EditHistory &h, VideoStore &) { h.remove({u"aaaaaaaa"_qs, u"cccccccc"_qs}); };

        QTest::newRow("delete, not pushed yet")
            << removeAC << nothing << EditHistory::Kind::remove << qsizetype(2) << qsizetype(0) << patched << cAdd;
        QTest::newRow("delete, pushed") << removeAC << Step([](EditHistory &, VideoStore &s) { pushDeletions(s); })
                                        << EditHistory::Kind::remove << qsizetype(2) << qsizetype(0) << patched << cAdd;
        QTest::newRow("exclude: each back to its own state") << Step([](EditHistory &h, VideoStore &) {
            h.setExcluded({u"aaaaaaaa"_qs, u"bbbbbbbb"_qs}, true);
        }) << nothing << EditHistory::Kind::exclude << qsizetype(1)
                                                             << qsizetype(0) << patched << bSynced;
        QTest::newRow("include") << Step([](EditHistory &h, VideoStore &) {
            h.setExcluded({u"aaaaaaaa"_qs, u"bbbbbbbb"_qs}, false);
        }) << nothing << EditHistory::Kind::include
                                 << qsizetype(1) << qsizetype(0)
                                 << u"Title aaaaaaaa|2021-04-05|12:34|synced|x0|w1|p95|1600000000000"_qs
                                 << u"Title bbbbbbbb|2021-04-05|12:34|needsPatch|x1|w1|p95|1600000000000"_qs;
        QTest::newRow("edit") << Step([](EditHistory &h, VideoStore &) {
            h.edit(u"aaaaaaaa"_qs, u"Mine"_qs, u"1999"_qs, u"1:00"_qs);
        }) << nothing << EditHistory::Kind::edit
                              << qsizetype(1) << qsizetype(0) << patched << bSynced;
        QTest::newRow("import") << Step([](EditHistory &h, VideoStore &) {
            h.recordImport({u"aaaaaaaa"_qs, u"cccccccc"_qs});
        }) << nothing << EditHistory::Kind::import
                                << qsizetype(2) << qsizetype(0)
                                << u"Title aaaaaaaa|2021-04-05|12:34|needsDelete|x0|w1|p95|1600000000000"_qs << bSynced;
        // Another device's change, pulled meanwhile, stands.
        const Step pulledTitle = [](EditHistory &, VideoStore &s) {
            s.update(u"aaaaaaaa"_qs, [](Video &v) {
                v.title = u"Theirs"_qs;
                v.syncStateRaw = SyncStateRaw::synced;
                return true;
            });
        };
        QTest::newRow("edit, then edited elsewhere")
            << Step([](EditHistory &h, VideoStore &) { h.edit(u"aaaaaaaa"_qs, u"Mine"_qs, u"1999"_qs, u"1:00"_qs); })
            << pulledTitle << EditHistory::Kind::edit << qsizetype(0) << qsizetype(1)
            << u"Theirs|1999|1:00|synced|x0|w1|p95|1600000000000"_qs << bSynced;
        QTest::newRow("exclude, then included elsewhere")
            << Step([](EditHistory &h, VideoStore &) { h.setExcluded({u"aaaaaaaa"_qs}, true); })
            << Step([](EditHistory &, VideoStore &s) {
                   s.update(u"aaaaaaaa"_qs, [](Video &v) {
                       v.excluded = false;
                       v.syncStateRaw = SyncStateRaw::synced;
                       return true;
                   });
               })
            << EditHistory::Kind::exclude << qsizetype(0) << qsizetype(1)
            << u"Title aaaaaaaa|2021-04-05|12:34|synced|x0|w1|p95|1600000000000"_qs << bSynced;
        QTest::newRow("delete, then added again elsewhere")
            << removeAC << Step([](EditHistory &, VideoStore &s) {
                   pushDeletions(s);
                   Video again = record(u"aaaaaaaa"_qs);
                   again.title = u"Again"_qs;
                   s.insert(again);
               })
            << EditHistory::Kind::remove << qsizetype(1) << qsizetype(1)
            << u"Again|2021-04-05|12:34|synced|x0|w1|p95|1600000000000"_qs << cAdd;
    }
    void undo()
    {
        QFETCH(Step, act);
        QFETCH(Step, meanwhile);
        Video b = record(u"bbbbbbbb"_qs);
        b.excluded = true;
        open({record(u"aaaaaaaa"_qs), b, record(u"cccccccc"_qs, SyncStateRaw::needsAdd)});
        EditHistory &history = engine().history();
        QSignalSpy kinds(&history, &EditHistory::undoKindChanged);
        act(history, store());
        QTEST(history.undoKind(), "kind");
        meanwhile(history, store());
        QSignalSpy saves(&store(), &VideoStore::saved);
        const EditHistory::Undone undone = history.undo();
        QTEST(undone.restored, "restored");
        QTEST(undone.skipped, "skipped");
        QVERIFY(saves.count() <= 1);
        QTEST(shown(store(), u"aaaaaaaa"_qs), "a");
        QTEST(shown(store(), QString::fromLatin1(QTest::currentDataTag()).contains(u"delete"_qs) ? u"cccccccc"_qs
                                                                                                 : u"bbbbbbbb"_qs),
              "b");
        // One level: the step is gone, and a second undo does nothing.
        QCOMPARE(history.undoKind(), EditHistory::Kind::none);
        QCOMPARE(kinds.count(), 2);
        QCOMPARE(history.undo(), EditHistory::Undone{});
    }

    // A revived video goes out with every field it had, so the service's deleted copy comes back
    // as it was; a never-added one sends its add again.
    void restoredVideosPushEveryField()
    {
        open({record(u"aaaaaaaa"_qs)});
        engine().history().remove({u"aaaaaaaa"_qs});
        pushDeletions(store());
        engine().history().undo();
        const VideoChange change = RecordRules::changeToPush(*store().find(u"aaaaaaaa"_qs));
        QCOMPARE(change.title, u"Title aaaaaaaa"_qs);
        QCOMPARE(change.uploadDate, u"2021-04-05"_qs);
        QCOMPARE(change.duration, u"12:34"_qs);
        QCOMPARE(change.excluded, false);
        QCOMPARE(change.watched, true);
        QCOMPARE(change.position, 95);
    }

    void signingOutForgetsTheStep()
    {
        open({record(u"aaaaaaaa"_qs)});
        engine().history().setExcluded({u"aaaaaaaa"_qs}, true);
        QVERIFY(engine().history().canUndo());
        engine().signOut();
        QVERIFY(!engine().history().canUndo());
        QCOMPARE(EditHistory::undoTitle(engine().history().undoKind()), u"Undo"_qs);
    }
};

QTEST_GUILESS_MAIN(EditHistoryTest)
#include "EditHistoryTest.moc"
