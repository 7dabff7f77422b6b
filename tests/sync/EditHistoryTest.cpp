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

// What the next push does with a record, and what of it differs from record(id): a field
// that changed, wrongly or rightly, shows.
QString shown(const VideoStore &store, const QString &id)
{
    const Video *v = store.find(id);
    if (!v)
        return u"gone"_qs;
    const Video was = record(id);
    QStringList fields{v->syncStateRaw};
    const auto differs = [&](const QString &name, const auto &now, const auto &before) {
        if (now != before)
            fields << name + u'=' + QVariant::fromValue(now).toString();
    };
    differs(u"title"_qs, v->title, was.title);
    differs(u"date"_qs, v->uploadDate, was.uploadDate);
    differs(u"duration"_qs, v->duration, was.duration);
    differs(u"excluded"_qs, v->excluded, was.excluded);
    differs(u"watched"_qs, v->watched, was.watched);
    differs(u"position"_qs, v->position, was.position);
    differs(u"created"_qs, v->createdAt, was.createdAt);
    return fields.join(u' ');
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
        QTest::addColumn<QString>("b"); // bbbbbbbb afterwards, or cccccccc for a deletion

        const QString a = u"aaaaaaaa"_qs, b = u"bbbbbbbb"_qs, c = u"cccccccc"_qs;
        const Step nothing = [](EditHistory &, VideoStore &) {};
        const Step removeAC = [=](EditHistory &h, VideoStore &) { h.remove({a, c}); };
        const Step editA = [=](EditHistory &h, VideoStore &) { h.edit(a, u"Mine"_qs, u"1999"_qs, u"1:00"_qs); };
        const Step excludeAB = [=](EditHistory &h, VideoStore &) { h.setExcluded({a, b}, true); };
        const Step includeAB = [=](EditHistory &h, VideoStore &) { h.setExcluded({a, b}, false); };
        const Step excludeA = [=](EditHistory &h, VideoStore &) { h.setExcluded({a}, true); };
        const Step importAC = [=](EditHistory &h, VideoStore &) { h.recordImport({a, c}); };
        const Step pushed = [](EditHistory &, VideoStore &s) { pushDeletions(s); };
        // Another device's change, pulled meanwhile, stands.
        const auto pulled = [=](std::function<void(Video &)> change) {
            return Step([=](EditHistory &, VideoStore &s) {
                s.update(a, [&](Video &v) {
                    change(v);
                    v.syncStateRaw = SyncStateRaw::synced;
                    return true;
                });
            });
        };
        const Step addedAgain = [=](EditHistory &, VideoStore &s) {
            pushDeletions(s);
            Video again = record(a);
            again.title = u"Again"_qs;
            s.insert(again);
        };
        using K = EditHistory::Kind;
        const auto row = [](const char *name, Step act, Step meanwhile, K kind, qsizetype restored, qsizetype skipped,
                            const QString &a, const QString &b) {
            QTest::newRow(name) << act << meanwhile << kind << restored << skipped << a << b;
        };
        const QString patched = u"needsPatch"_qs, bSynced = u"synced excluded=true"_qs;
        row("delete, not pushed yet", removeAC, nothing, K::remove, 2, 0, patched, u"needsAdd"_qs);
        row("delete, pushed", removeAC, pushed, K::remove, 2, 0, patched, u"needsAdd"_qs);
        row("exclude: each back to its own state", excludeAB, nothing, K::exclude, 1, 0, patched, bSynced);
        row("include", includeAB, nothing, K::include, 1, 0, u"synced"_qs, u"needsPatch excluded=true"_qs);
        row("edit", editA, nothing, K::edit, 1, 0, patched, bSynced);
        row("import", importAC, nothing, K::import, 2, 0, u"needsDelete"_qs, bSynced);
        row("edit, then edited elsewhere", editA, pulled([](Video &v) { v.title = u"Theirs"_qs; }), K::edit, 0, 1,
            u"synced title=Theirs date=1999 duration=1:00"_qs, bSynced);
        row("exclude, then included elsewhere", excludeA, pulled([](Video &v) { v.excluded = false; }), K::exclude, 0,
            1, u"synced"_qs, bSynced);
        row("delete, then added again elsewhere", removeAC, addedAgain, K::remove, 1, 1, u"synced title=Again"_qs,
            u"needsAdd"_qs);
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
