// The live change stream: which commits tell which accounts, what a stream sends (its opening,
// its events with the clock a pull reaches, its heartbeats), the bound on streams per token,
// that idle streams hold no worker, the service stopping under open streams, and on
// PostgreSQL a change made through one instance reaching a stream held by another.

#include "RawHttp.h"
#include "TestService.h"
#include "db/PgChangeListener.h"

#include <QStandardPaths>
#include <QTest>

#include <map>
#include <thread>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

constexpr int kHeartbeatMs = 100;

void shortHeartbeat(ServiceConfig &config)
{
    config.limits.eventHeartbeatMs = kHeartbeatMs;
}

// One open /api/events.php as a client reads it: the head, then the body's chunks decoded and
// split into messages (the text before each blank line).
class EventClient
{
public:
    EventClient(int port, const QString &token)
        : m_http(port)
    {
        m_http.send("GET /api/events.php HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token.toStdString() +
                    "\r\n\r\n");
        while (m_raw.find("\r\n\r\n") == std::string::npos && readMore()) {
        }
        const size_t end = m_raw.find("\r\n\r\n");
        m_head = m_raw.substr(0, end == std::string::npos ? m_raw.size() : end + 4);
        m_raw.erase(0, m_head.size());
    }

    int status() const { return RawHttp::statusOf(m_head); }
    const std::string &head() const { return m_head; }
    // The next message, or "" when none came within waitMs or the stream ended.
    std::string next(int waitMs = 5000)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
        for (;;) {
            decode();
            if (const size_t end = m_body.find("\n\n"); end != std::string::npos) {
                std::string message = m_body.substr(0, end);
                m_body.erase(0, end + 2);
                return message;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !m_http.readable(int(left.count())) || !readMore())
                return {};
        }
    }
    // The next change event's clock, skipping heartbeats; 0 when none came.
    qint64 nextChange(int waitMs = 5000)
    {
        for (std::string message = next(waitMs); !message.empty(); message = next(waitMs)) {
            const std::string prefix = "event: change\ndata: {\"now\":";
            if (message.rfind(prefix, 0) == 0)
                return std::stoll(message.substr(prefix.size()));
        }
        return 0;
    }
    // Whether the service closes the connection (after ending the stream) within waitMs.
    bool closedByService(int waitMs)
    {
        while (!m_http.readSome(waitMs).empty()) {
        }
        return m_http.closedByPeer(0);
    }

private:
    bool readMore()
    {
        const std::string more = m_http.readSome(5000);
        m_raw += more;
        return !more.empty();
    }
    void decode()
    {
        for (;;) {
            const size_t line = m_raw.find("\r\n");
            if (line == std::string::npos)
                return;
            const size_t size = std::stoul(m_raw.substr(0, line), nullptr, 16);
            if (m_raw.size() < line + 2 + size + 2)
                return;
            m_body += m_raw.substr(line + 2, size);
            m_raw.erase(0, line + 2 + size + 2);
        }
    }

    RawHttp m_http;
    std::string m_head;
    std::string m_raw;
    std::string m_body;
};

// Counts the notices each account receives from a service's hub.
class NoticeCounter
{
public:
    NoticeCounter(ChangeHub &hub, const std::vector<qint64> &accounts)
    {
        for (const qint64 id : accounts) {
            m_counts[id] = 0;
            m_subscriptions.push_back(hub.subscribe(id, [this, id](qint64) { ++m_counts[id]; }));
        }
    }
    // The accounts told of something, with how many notices each.
    std::map<qint64, int> told() const
    {
        std::map<qint64, int> told;
        for (const auto &[id, count] : m_counts)
            if (count > 0)
                told[id] = count;
        return told;
    }

private:
    std::map<qint64, std::atomic<int>> m_counts;
    std::vector<ChangeHub::Subscription> m_subscriptions;
};

// `count` streams of one token, each past its opening comment.
std::vector<std::unique_ptr<EventClient>> openStreams(int port, const QString &token, int count)
{
    std::vector<std::unique_ptr<EventClient>> streams;
    for (int i = 0; i < count; ++i) {
        streams.push_back(std::make_unique<EventClient>(port, token));
        if (streams.back()->next() != ": open")
            qFatal("stream %d did not open", i);
    }
    return streams;
}

qint64 pullNow(TestService &service, const QString &token)
{
    return num(service.get(token, "/api/videos.php?since=0&limit=1").json, "now");
}

} // namespace

class EventsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Owner O shares with member M; X is nobody's family. Each change tells exactly the
    // accounts whose pull (or family lists) it alters. Three words are a family action.
    void eachChangeTellsWhomItConcerns_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("told");
        const auto row = [](const char *name, const char *change, const char *told) {
            QTest::newRow(name) << QString::fromLatin1(change) << QString::fromLatin1(told);
        };
        row("owner adds", "add O", "O M");
        row("bot adds for the owner", "bot O", "O M");
        row("stranger adds", "add X", "X");
        row("member patches own video", "patch M", "M");
        row("owner deletes", "delete O", "O M");
        row("metadata filled in", "metadata O", "O M");
        row("share added", "add O X", "O X");
        row("share removed", "remove O M", "O M");
        row("share declined", "decline M O", "M O");
        row("block lifted", "unblock M O", "M O");
        row("owner's account deleted", "close O", "O M");
        row("nothing changes", "delete X", "");
    }
    void eachChangeTellsWhomItConcerns()
    {
        QFETCH(QString, change);
        QFETCH(QString, told);
        TestService service;
        QMap<QString, QString> tokens;
        QMap<QString, Account> accounts;
        for (const QString &name : {u"O"_qs, u"M"_qs, u"X"_qs}) {
            tokens[name] = service.token(name.toLower() + u"@example.com"_qs);
            accounts[name] = *service.service().accounts().authenticate(tokens[name]);
        }
        service.add(tokens[u"O"_qs], videoLink(1));
        service.add(tokens[u"M"_qs], videoLink(2));
        service.share(tokens[u"O"_qs], u"m@example.com"_qs);
        const QStringList words = change.split(u' ');
        const QString &who = words[1];
        if (words[0] == u"unblock"_qs)
            QCOMPARE(service.family(tokens[who], u"decline"_qs, u"o@example.com"_qs).status, 200);
        if (words[0] == u"metadata"_qs)
            service.metadata().failNext(u"video0003"_qs, 1);

        NoticeCounter counter(service.service().changes(),
                              {accounts[u"O"_qs].id, accounts[u"M"_qs].id, accounts[u"X"_qs].id});
        if (words.size() == 3)
            QCOMPARE(service.family(tokens[who], words[0], words[2].toLower() + u"@example.com"_qs).status, 200);
        else if (words[0] == u"add"_qs || words[0] == u"metadata"_qs)
            service.add(tokens[who], videoLink(3));
        else if (words[0] == u"bot"_qs)
            service.service().library().add(accounts[who], *VideoLink::fromMessage(videoLink(3)), QString(),
                                            u"telegram"_qs);
        else if (words[0] == u"patch"_qs)
            service.patch(tokens[who], QJsonObject{{u"youtube_id"_qs, u"video0002"_qs}, {u"title"_qs, u"New"_qs}});
        else if (words[0] == u"delete"_qs)
            service.remove(tokens[who], u"video0001"_qs);
        else if (words[0] == u"close"_qs)
            QCOMPARE(service.post(tokens[who], "/api/account.php", QJsonObject{{u"action"_qs, u"delete"_qs}}).status,
                     200);

        // Every change is one commit, told once; filling in metadata is a second commit.
        const int notices = words[0] == u"metadata"_qs ? 2 : 1;
        if (notices == 2)
            QTRY_VERIFY_WITH_TIMEOUT(
                Client(service, tokens[u"M"_qs]).sync().title(u"video0003"_qs) == u"Title of video0003"_qs, 10'000);
        std::map<qint64, int> expected;
        for (const QString &name : told.split(u' ', Qt::SkipEmptyParts))
            expected[accounts[name].id] = notices;
        QCOMPARE(counter.told(), expected);
    }

    // A stream opens with a comment, carries one event per change with the clock the pull right
    // after reports, and comments again whenever it was quiet for a heartbeat.
    void streamOpensCarriesChangesAndBeats()
    {
        TestService service(shortHeartbeat);
        const QString token = service.token(u"a@example.com"_qs);
        EventClient stream(service.port(), token);
        QCOMPARE(stream.status(), 200);
        QVERIFY(stream.head().find("Content-Type: text/event-stream") != std::string::npos);
        QVERIFY(stream.head().find("Cache-Control: no-store") != std::string::npos);
        QVERIFY(stream.head().find("Content-Encoding") == std::string::npos);
        QCOMPARE(stream.next(), std::string(": open"));
        QCOMPARE(stream.next(), std::string(": heartbeat"));
        QCOMPARE(stream.next(), std::string(": heartbeat"));

        service.add(token, videoLink(1));
        QCOMPARE(stream.nextChange(), pullNow(service, token));
        service.remove(token, u"video0001"_qs);
        QCOMPARE(stream.nextChange(), pullNow(service, token));
    }

    // A stream quiet for longer than a keep-alive connection may idle stays open: its
    // heartbeats, further apart than the idle bound, keep coming.
    void quietStreamsOutliveTheIdleBound()
    {
        TestService service([](ServiceConfig &config) {
            config.limits.keepAliveSeconds = 1;
            config.limits.eventHeartbeatMs = 2500;
        });
        EventClient stream(service.port(), service.token(u"a@example.com"_qs));
        QCOMPARE(stream.next(), std::string(": open"));
        QCOMPARE(stream.next(10'000), std::string(": heartbeat"));
        QCOMPARE(stream.next(10'000), std::string(": heartbeat"));
    }

    // (Its tokens are checked with every other route's, in HttpTest.)
    void streamsAreRoutesLikeAnyOther()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        const Reply post = service.post(token, "/api/events.php", QJsonObject());
        QCOMPARE(post.status, 405);
        QCOMPARE(post.header("Allow"), std::string("GET"));
        EventClient unknown(service.port(), u"unknown"_qs);
        QCOMPARE(unknown.status(), 401);
    }

    // The fifth stream of a token is refused; a stream its client closed frees its slot once its
    // next heartbeat finds it gone; other tokens of the same account have slots of their own.
    void streamsPerTokenAreBounded()
    {
        TestService service(shortHeartbeat);
        const QString token = service.token(u"a@example.com"_qs);
        auto streams = openStreams(service.port(), token, 4);
        const Reply refused = service.get(token, "/api/events.php");
        QCOMPARE(refused.status, 429);
        QVERIFY(str(refused.json, "error").contains(u"event streams"_qs));
        EventClient otherDevice(service.port(), service.token(u"a@example.com"_qs));
        QCOMPARE(otherDevice.next(), std::string(": open"));

        streams.pop_back();
        int status = 0;
        for (int attempt = 0; attempt < 100 && status != 200; ++attempt) {
            auto again = std::make_unique<EventClient>(service.port(), token);
            status = again->status();
            if (status == 200)
                streams.push_back(std::move(again));
            else
                QTest::qWait(kHeartbeatMs);
        }
        QCOMPARE(status, 200);
        QCOMPARE(streams.back()->next(), std::string(": open"));
    }

    // More idle streams than workers, and a request still finds a worker. Stopping ends every
    // stream, the ones waiting for news and the ones just opened.
    void idleStreamsHoldNoWorkerAndEndOnStop()
    {
        TestService service([](ServiceConfig &config) {
            config.limits.threads = 2;
            config.limits.eventStreamsPerToken = 8;
        });
        const QString token = service.token(u"a@example.com"_qs);
        auto streams = openStreams(service.port(), token, 6);
        QCOMPARE(service.get(token, "/api/videos.php").status, 200);
        service.add(token, videoLink(1));
        for (const auto &stream : streams)
            QVERIFY(stream->nextChange() > 0);
        for (auto &opened : openStreams(service.port(), token, 2))
            streams.push_back(std::move(opened));
        service.service().stop();
        for (const auto &stream : streams)
            QVERIFY(stream->closedByService(5000));
    }

    // A notice names its instance, its clock and its accounts, in pieces PostgreSQL accepts;
    // anything else on the channel is passed over.
    void noticesRoundTrip()
    {
        std::vector<qint64> many;
        for (qint64 id = 1'000'000'000; id < 1'000'002'000; ++id)
            many.push_back(id);
        const auto payloads = PgChangeListener::payloads("i1", many, 42);
        QVERIFY(payloads.size() > 1);
        std::vector<qint64> back;
        for (const std::string &payload : payloads) {
            QVERIFY(payload.size() < 8000);
            const auto notice = PgChangeListener::parse(payload);
            QVERIFY(notice);
            QCOMPARE(notice->instance, std::string("i1"));
            QCOMPARE(notice->now, qint64(42));
            back.insert(back.end(), notice->accountIds.begin(), notice->accountIds.end());
        }
        QVERIFY(back == many);
        for (const char *bad : {"", "i1", "i1 42", "i1 42 ", "i1 x 1", "i1 42 1,,2", "i1 42 1,x", " 42 1"})
            QVERIFY2(!PgChangeListener::parse(bad), bad);
    }

    // On PostgreSQL a write through one instance reaches a stream held by another.
    void changesReachStreamsOnOtherInstances()
    {
        if (!TestDatabase::postgres())
            QSKIP("needs CLIPVANE_TEST_DATABASE (a PostgreSQL server)");
        TestService first;
        TestService second({}, {}, &first.database());
        const QString owner = first.token(u"o@example.com"_qs);
        const QString member = first.token(u"m@example.com"_qs);
        EventClient ownerStream(second.port(), owner);
        EventClient memberStream(second.port(), member);
        QCOMPARE(ownerStream.next(), std::string(": open"));
        QCOMPARE(memberStream.next(), std::string(": open"));

        first.share(owner, u"m@example.com"_qs);
        QCOMPARE(memberStream.nextChange(), pullNow(second, member));
        QCOMPARE(ownerStream.nextChange(), pullNow(second, owner));
        first.add(owner, videoLink(1));
        QCOMPARE(memberStream.nextChange(), pullNow(second, member));
        // An instance's own writes are told once, not again when its notice comes back: the
        // other instance's notice, sent later on the same channel, arrives after it would.
        const Account ownerAccount = *first.service().accounts().authenticate(owner);
        NoticeCounter counter(first.service().changes(), {ownerAccount.id});
        first.add(owner, videoLink(2));
        second.add(owner, videoLink(3));
        QTRY_VERIFY(counter.told()[ownerAccount.id] >= 2);
        QCOMPARE(counter.told()[ownerAccount.id], 2);

        // Both listeners lose their connections; a change made meanwhile still reaches the
        // stream, by its own notice or by the one every stream gets once they listen again.
        PgConnection(first.database().url().toStdString())
            .exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                  "WHERE query LIKE 'LISTEN %' AND strpos(query, current_schema()) > 0");
        first.add(owner, videoLink(4));
        const qint64 reached = pullNow(second, member);
        qint64 told = 0;
        for (int event = 0; event < 10 && told < reached; ++event)
            told = std::max(told, memberStream.nextChange());
        QVERIFY(told >= reached);
        first.add(owner, videoLink(5));
        QCOMPARE(memberStream.nextChange(), pullNow(second, member));
    }
};

QTEST_GUILESS_MAIN(EventsTest)
#include "EventsTest.moc"
