// The engine on the service's change stream: what an announced change starts (counted in
// pulls and cycles, never timed), the echo of this device's own push, and when the stream is
// held, dropped and taken up again.

#include "SyncHarness.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>

using namespace clipvane;
using namespace clipvane::test;
using namespace std::chrono_literals;

namespace {

constexpr auto kDebounce = 20ms;
// Several debounce periods: a cycle that was going to start has started.
constexpr int kQuietMs = 300;

QByteArray changeEvent(qint64 now)
{
    return QByteArrayLiteral("event: change\ndata: {\"now\":") + QByteArray::number(now) + QByteArrayLiteral("}\n\n");
}

bool soon(const std::function<bool()> &condition)
{
    return QTest::qWaitFor(condition, 10000);
}

// A harness whose engine has pulled once (cursor kEchoNow) and holds an open stream.
std::unique_ptr<SyncHarness> following()
{
    auto harness = std::make_unique<SyncHarness>(true, kDebounce, true);
    harness->runCycle();
    if (!soon([&] { return harness->session->changeStream()->state() == ChangeStream::State::open; }))
        qFatal("the change stream did not open");
    return harness;
}

} // namespace

class LiveSyncTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Events sent while no cycle runs, or while a cycle waits for its pull (then weighed against
    // the cursor that cycle reaches): how many cycles, and pulls, follow.
    void announcedChangesStartOneCycle_data()
    {
        QTest::addColumn<QList<qint64>>("announced");
        QTest::addColumn<bool>("duringCycle");
        QTest::addColumn<int>("cycles");
        QTest::newRow("a change made elsewhere") << QList<qint64>{kEchoNow + 1} << false << 1;
        QTest::newRow("a burst of changes") << QList<qint64>{kEchoNow + 1, kEchoNow + 2, kEchoNow + 3} << false << 1;
        QTest::newRow("the echo of this device's push") << QList<qint64>{kEchoNow} << false << 0;
        QTest::newRow("an old change") << QList<qint64>{kEchoNow - 50} << false << 0;
        QTest::newRow("during a cycle: its own echoes") << QList<qint64>{kEchoNow - 1, kEchoNow} << true << 0;
        QTest::newRow("during a cycle: changes made elsewhere")
            << QList<qint64>{kEchoNow + 1, kEchoNow + 2, kEchoNow + 3} << true << 1;
    }
    void announcedChangesStartOneCycle()
    {
        QFETCH(QList<qint64>, announced);
        QFETCH(bool, duringCycle);
        QFETCH(int, cycles);
        const auto harness = following();
        QSignalSpy received(harness->session->changeStream(), &ChangeStream::changed);
        if (duringCycle) {
            // The cursor starts below every clock announced, so each counts as new while the cycle runs.
            harness->group->setSyncCursor(1, harness->store->generation());
            const int requests = harness->server.requestCount();
            harness->gate.close(kVideosPath);
            harness->engine->syncNow();
            QVERIFY(harness->waitForRequests(requests + 1));
        }
        const int pulls = int(harness->requestsTo(kVideosPath).size());
        const int ended = harness->cyclesEnded();
        for (const qint64 now : announced)
            harness->feed->write(changeEvent(now));
        QVERIFY(soon([&] { return received.size() == announced.size(); }));
        if (duringCycle) {
            harness->gate.open();
            QVERIFY(soon([&] { return harness->cyclesEnded() > ended; }));
        }
        QTest::qWait(kQuietMs);
        QVERIFY(soon([&] { return !harness->engine->syncing(); }));
        QCOMPARE(harness->cyclesEnded() - ended, cycles + int(duringCycle));
        QCOMPARE(int(harness->requestsTo(kVideosPath).size()) - pulls, cycles);
    }

    // Held while signed in: sign-out closes it, a sign-in opens it afresh, a dropped stream and
    // the network coming back connect it again.
    void heldWhileSignedIn()
    {
        const auto harness = following();
        ChangeStream *stream = harness->session->changeStream();
        QCOMPARE(stream->attempts(), 1);

        // Counted on the client: Qt sends a request again by itself when the connection it went
        // out on turns out to be closed, and the fake service may then count it twice.
        // Back after a drop, one pull takes in what was never announced meanwhile.
        const int ended = harness->cyclesEnded();
        harness->feed->drop();
        QVERIFY(soon([&] { return stream->attempts() == 2; }));
        QVERIFY(soon([&] { return stream->state() == ChangeStream::State::open; }));
        QVERIFY(soon([&] { return harness->cyclesEnded() == ended + 1; }));
        QTest::qWait(kQuietMs);
        QCOMPARE(harness->cyclesEnded(), ended + 1);

        harness->engine->signOut();
        QCOMPARE(stream->state(), ChangeStream::State::stopped);
        // The server learns of the closed connection at its next write.
        QVERIFY(QTest::qWaitFor(
            [&] {
                harness->feed->write(QByteArrayLiteral(": heartbeat\n\n"));
                return harness->feed->openConnections() == 0;
            },
            10000));
        const int seen = harness->feed->connections();
        QTest::qWait(kQuietMs);
        QCOMPARE(harness->feed->connections(), seen);
        QCOMPARE(stream->attempts(), 2);

        QVERIFY(harness->engine->signIn(u"token-2"_qs, QString()));
        QVERIFY(soon([&] { return harness->feed->openConnections() == 1; }));
        QCOMPARE(stream->attempts(), 3);
        QCOMPARE(harness->requestsTo(kEventsPath).last().header("Authorization"), QByteArrayLiteral("Bearer token-2"));
        QVERIFY(soon([&] { return !harness->engine->syncing(); }));
    }

    void reconnectsAtOnceWhenTheNetworkReturns()
    {
        SyncHarness harness(true, kDebounce, true);
        QVERIFY(soon([&] { return harness.feed->connections() == 1; }));
        // A back-off that would outlast the test.
        harness.liveTiming.firstRetry = 1h;
        harness.liveTiming.maxRetry = 1h;
        harness.restart(kDebounce);
        ChangeStream *stream = harness.session->changeStream();
        QVERIFY(soon([&] { return stream->state() == ChangeStream::State::open; }));
        const int attempts = stream->attempts();
        harness.feed->drop();
        QVERIFY(soon([&] { return stream->state() == ChangeStream::State::waiting; }));
        harness.watch.report(false);
        harness.watch.report(true);
        QCOMPARE(stream->attempts(), attempts + 1);
        QVERIFY(soon([&] { return stream->state() == ChangeStream::State::open; }));
        QVERIFY(soon([&] { return !harness.engine->syncing(); }));
    }

    // A service of an earlier release: one attempt, then none, and the library syncs as before.
    void aServiceWithoutTheStreamIsAskedOnce()
    {
        SyncHarness harness(true, kDebounce, true);
        QVERIFY(soon([&] { return harness.feed->connections() == 1; }));
        harness.reply(kEventsPath, FakeReply::json(QByteArrayLiteral(R"({"error":"not found"})"), 404));
        harness.restart(kDebounce);
        ChangeStream *stream = harness.session->changeStream();
        QVERIFY(soon([&] { return stream->state() == ChangeStream::State::unavailable; }));
        const qsizetype asked = harness.requestsTo(kEventsPath).size();
        harness.runCycle();
        harness.watch.report(false);
        harness.watch.report(true);
        harness.runCycle();
        QTest::qWait(kQuietMs);
        QVERIFY(!harness.engine->hasError());
        QCOMPARE(stream->attempts(), 1);
        QCOMPARE(harness.requestsTo(kEventsPath).size(), asked);
        QVERIFY(harness.requestsTo(kVideosPath).size() >= 2);
    }
};

QTEST_GUILESS_MAIN(LiveSyncTest)
#include "LiveSyncTest.moc"
