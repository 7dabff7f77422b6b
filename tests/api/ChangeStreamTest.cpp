// The change stream's reading of server-sent events, piece by piece, within its bounds, and
// the stream against a local fake service: what it emits, when it connects again (counted in
// connections, with the back-off shortened), and which answers turn it off.

#include "ChangeStream.h"
#include "APIClient.h"
#include "EventStreamParser.h"
#include "FakeHttpServer.h"
#include "MemorySecretStore.h"
#include "SecretStore.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTest>

using namespace clipvane;
using namespace clipvane::test;
using namespace std::chrono_literals;

namespace {

using Events = QList<EventStreamParser::Event>;

QStringList shown(const Events &events)
{
    QStringList lines;
    for (const EventStreamParser::Event &event : events)
        lines.append(QString::fromUtf8(event.type + '|' + event.data));
    return lines;
}

const QByteArray kEventsPath = QByteArrayLiteral("/api/events.php");

// A stream against a fake service, its back-off in milliseconds.
struct Fixture
{
    Fixture()
    {
        if (!server.start())
            qFatal("no free port");
        secrets.keychainSave(u"token-1"_qs, SecretKeys::token);
    }
    ~Fixture()
    {
        stream.reset();
        network.clearConnectionCache();
        server.stop();
    }
    ChangeStream &open(std::chrono::milliseconds idleLimit = 60s)
    {
        timing.idleLimit = idleLimit;
        // Made now: the server has its port only once started.
        api = std::make_unique<APIClient>(server.url(u"/api"_qs), secrets, network);
        stream = std::make_unique<ChangeStream>(*api, timing);
        stream->start();
        return *stream;
    }
    bool waitFor(ChangeStream::State state)
    {
        return QTest::qWaitFor([&] { return stream->state() == state; }, 10000);
    }

    FakeHttpServer server;
    MemorySecretStore secrets;
    QNetworkAccessManager network;
    std::unique_ptr<APIClient> api;
    std::shared_ptr<ReplyFeed> feed = std::make_shared<ReplyFeed>();
    ChangeStream::Timing timing{10ms, 40ms, 1h, 60s, 60s, [] { return 0.5; }};
    std::unique_ptr<ChangeStream> stream;
};

} // namespace

class ChangeStreamTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesEvents_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("LF") << QByteArray("event: change\ndata: {\"now\":5}\n\n")
                            << QStringList{u"change|{\"now\":5}"_qs};
        QTest::newRow("CRLF") << QByteArray("event: change\r\ndata: 1\r\n\r\n") << QStringList{u"change|1"_qs};
        QTest::newRow("CR") << QByteArray("event: change\rdata: 1\r\r") << QStringList{u"change|1"_qs};
        QTest::newRow("comments and heartbeats")
            << QByteArray(": open\n\n: heartbeat\n\ndata: x\n: inside\n\n") << QStringList{u"message|x"_qs};
        QTest::newRow("multi-line data") << QByteArray("data: a\ndata:b\ndata\n\n")
                                         << QStringList{u"message|a\nb\n"_qs};
        QTest::newRow("unknown fields and types")
            << QByteArray("id: 7\nretry: 1\nfoo: bar\nevent: other\ndata: 2\n\nevent: change\ndata: 3\n\n")
            << QStringList{u"other|2"_qs, u"change|3"_qs};
        QTest::newRow("no data, no event") << QByteArray("event: change\n\n") << QStringList{};
        QTest::newRow("unfinished event")
            << QByteArray("data: 1\n\nevent: change\ndata: 2\n") << QStringList{u"message|1"_qs};
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF"
                                                       "data: 1\n\n")
                                         << QStringList{u"message|1"_qs};
        QTest::newRow("type does not carry over")
            << QByteArray("event: change\ndata: 1\n\ndata: 2\n\n") << QStringList{u"change|1"_qs, u"message|2"_qs};
    }
    // The same events whether the bytes come at once, one at a time or cut anywhere in two.
    void parsesEvents()
    {
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, events);
        for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
            EventStreamParser parser;
            Events parsed;
            QVERIFY(parser.feed(QByteArrayView(stream).first(cut), parsed));
            QVERIFY(parser.feed(QByteArrayView(stream).sliced(cut), parsed));
            QCOMPARE(shown(parsed), events);
        }
        EventStreamParser parser;
        Events parsed;
        for (const char c : stream)
            QVERIFY(parser.feed(QByteArrayView(&c, 1), parsed));
        QCOMPARE(shown(parsed), events);
    }

    void boundsLinesAndEvents()
    {
        EventStreamParser parser(64, 128);
        Events parsed;
        QVERIFY(parser.feed(QByteArray("data: ") + QByteArray(50, 'x') + "\n\n", parsed));
        QCOMPARE(parsed.size(), 1);
        // An endless line is refused as soon as it passes the bound, whatever its pieces.
        QVERIFY(parser.feed(QByteArray(40, 'y'), parsed));
        QVERIFY(!parser.feed(QByteArray(40, 'y'), parsed));
        QVERIFY(!parser.feed("\n\n", parsed));

        EventStreamParser lines(64, 128);
        const QByteArray line = QByteArray("data: ") + QByteArray(50, 'z') + '\n';
        QVERIFY(lines.feed(line + line, parsed));
        QVERIFY(!lines.feed(line, parsed));
    }

    // Change events as the service sends them, and what is not one.
    void emitsChanges()
    {
        Fixture fixture;
        fixture.server.enqueue(kEventsPath, FakeReply::eventStream(fixture.feed));
        ChangeStream &stream = fixture.open();
        QSignalSpy changed(&stream, &ChangeStream::changed);
        QVERIFY(fixture.waitFor(ChangeStream::State::open));
        QCOMPARE(fixture.server.lastRequest().header("Authorization"), QByteArrayLiteral("Bearer token-1"));
        fixture.feed->write("event: change\r\ndata: {\"now\":41}\r\n\r\n"
                            "event: change\ndata: {\"now\":\"42\"}\n\n"
                            "event: change\ndata: {\"now\":4.5}\n\n"
                            "event: change\ndata: [43]\n\n"
                            "event: ping\ndata: {\"now\":44}\n\n"
                            ": heartbeat\n\n"
                            "event: change\ndata: {\"now\":\n");
        fixture.feed->write("data: 45}\n\n");
        QVERIFY(QTest::qWaitFor([&] { return changed.size() == 2; }, 10000));
        QCOMPARE(changed.at(0).at(0).toLongLong(), 41);
        QCOMPARE(changed.at(1).at(0).toLongLong(), 45);
        QCOMPARE(fixture.feed->connections(), 1);
    }

    // Connects again after a drop, after silence past the idle limit, and after a line past its
    // bound (nothing of which is emitted).
    void connectsAgain_data()
    {
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<bool>("drop");
        QTest::addColumn<bool>("silent");
        QTest::newRow("dropped by the service") << QByteArray() << true << false;
        QTest::newRow("silent past the idle limit") << QByteArray() << false << true;
        QTest::newRow("an endless line") << QByteArray("data: ") + QByteArray(40 * 1024, 'x') << false << false;
    }
    void connectsAgain()
    {
        QFETCH(QByteArray, sent);
        QFETCH(bool, drop);
        QFETCH(bool, silent);
        Fixture fixture;
        fixture.server.setDefaultReply(FakeReply::eventStream(fixture.feed));
        ChangeStream &stream = fixture.open(silent ? 200ms : 60s);
        QSignalSpy changed(&stream, &ChangeStream::changed);
        QVERIFY(fixture.waitFor(ChangeStream::State::open));
        for (qsizetype at = 0; at < sent.size(); at += 4096)
            fixture.feed->write(sent.mid(at, 4096));
        if (drop)
            fixture.feed->drop();
        QVERIFY(QTest::qWaitFor([&] { return fixture.feed->connections() >= 2; }, 10000));
        QVERIFY(fixture.waitFor(ChangeStream::State::open));
        QCOMPARE(changed.size(), 0);
    }

    // What each answer of the service does to the stream, counted in attempts.
    void answers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<ChangeStream::State>("state");
        QTest::addColumn<bool>("retries");
        QTest::addColumn<int>("unauthorized");
        const QByteArray json("application/json");
        QTest::newRow("401") << 401 << json << ChangeStream::State::refused << false << 1;
        QTest::newRow("404") << 404 << json << ChangeStream::State::unavailable << false << 0;
        QTest::newRow("405") << 405 << json << ChangeStream::State::unavailable << false << 0;
        QTest::newRow("200 page") << 200 << QByteArray("text/html") << ChangeStream::State::unavailable << false << 0;
        QTest::newRow("429") << 429 << json << ChangeStream::State::waiting << false << 0;
        QTest::newRow("503") << 503 << json << ChangeStream::State::waiting << true << 0;
    }
    void answers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(ChangeStream::State, state);
        QFETCH(bool, retries);
        QFETCH(int, unauthorized);
        Fixture fixture;
        FakeReply reply = FakeReply::json(QByteArrayLiteral(R"({"error":"no"})"), status);
        reply.headers = {{"Content-Type", contentType}};
        fixture.server.setDefaultReply(reply);
        ChangeStream &stream = fixture.open();
        QSignalSpy refused(&stream, &ChangeStream::unauthorized);
        if (retries) {
            // Again and again, each after its back-off.
            QVERIFY(QTest::qWaitFor([&] { return fixture.server.requestCount() >= 4; }, 10000));
            return;
        }
        QVERIFY(fixture.waitFor(state));
        QTest::qWait(300); // many times the back-off: any further attempt would have been made
        QCOMPARE(fixture.server.requestCount(), 1);
        QCOMPARE(stream.attempts(), 1);
        QCOMPARE(refused.size(), unauthorized);
        // The network coming back does not bring back a stream the service does not offer.
        stream.reconnectNow();
        QCOMPARE(stream.attempts(), state == ChangeStream::State::waiting ? 2 : 1);
    }

    // Signed out: nothing is sent.
    void withoutATokenNothingIsSent()
    {
        Fixture fixture;
        fixture.secrets.keychainDelete(SecretKeys::token);
        ChangeStream &stream = fixture.open();
        QCOMPARE(stream.state(), ChangeStream::State::refused);
        QTest::qWait(100);
        QCOMPARE(fixture.server.requestCount(), 0);
    }
};

QTEST_GUILESS_MAIN(ChangeStreamTest)
#include "ChangeStreamTest.moc"
