// The pull: order, cursor, totals, the clock, and the invariant that a client paging with
// the returned values never misses a change nor sees one out of order, whatever writes
// interleave.

#include "TestService.h"

#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTest>

#include <atomic>
#include <map>
#include <set>
#include <thread>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

QString videoLink(int n)
{
    return u"https://youtu.be/video%1"_qs.arg(n, 4, 10, QLatin1Char('0'));
}

} // namespace

class PagingTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void pagesFollowUpdatedAtThenId()
    {
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        for (int i = 0; i < 25; ++i)
            service.add(token, videoLink(i));
        Client client(service, token, 0, 7);
        client.sync();
        QCOMPARE(client.pulled().size(), 25);
        QCOMPARE(client.totals(), (QList<qint64>{25, 18, 11, 4}));

        // Nothing new: an empty page. One change: exactly that row, stamped above the old now.
        QCOMPARE(client.sync().totals(), QList<qint64>{0});
        const qint64 now = client.cursor();
        const QJsonObject patched =
            service.patch(token, QJsonObject{{u"youtube_id"_qs, u"video0003"_qs}, {u"excluded"_qs, 1}});
        QVERIFY(num(patched, "updated_at") > now);
        QCOMPARE(client.sync().pulled(), QList<QJsonObject>{patched});
        QVERIFY2(client.problems().isEmpty(), qPrintable(client.problems().join(u'\n')));
    }

    void pulledRowsEqualTheReplies()
    {
        // The pull writes its JSON by hand; every character must come out as the replies say.
        TestService service;
        const QString token = service.token(u"a@example.com"_qs);
        const QStringList titles{u"\"Quoted\" and back\\slash"_qs, u"tab\there, line\nbreak"_qs,
                                 u"ünïcødé — ‘quotes’ 日本語 😀"_qs, u"</script><b>&amp;"_qs};
        QList<QJsonObject> replies;
        for (qsizetype i = 0; i < titles.size(); ++i)
            replies.append(service.add(token, videoLink(int(i)), titles[i]));
        replies.append(service.add(token, u"https://example.com/a?b=c&d=%7Be%7D#top"_qs));
        const QList<QJsonObject> rows = Client(service, token).sync().pulled();
        QCOMPARE(rows, replies);
        for (qsizetype i = 0; i < titles.size(); ++i)
            QCOMPARE(str(rows[i], "title"), titles[i]);
    }

    void rowsSharingAStampArePagedById()
    {
        TestService service;
        const QString owner = service.token(u"owner@example.com"_qs);
        const QString member = service.token(u"member@example.com"_qs);
        for (int i = 0; i < 10; ++i)
            service.add(owner, videoLink(i));
        service.share(owner, u"member@example.com"_qs); // one transaction: one stamp for all ten
        Client client(service, member, 0, 3);
        client.sync();
        QCOMPARE(client.liveRows().size(), 10);
        QCOMPARE(num(client.pulled().first(), "updated_at"), num(client.pulled().last(), "updated_at"));
        QVERIFY2(client.problems().isEmpty(), qPrintable(client.problems().join(u'\n')));
    }

    void pageQueryIsValidated_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("status");
        QTest::newRow("defaults") << QString() << 200;
        QTest::newRow("plus sign") << u"?since=+5&after_id=0&limit=10"_qs << 200;
        QTest::newRow("negative since") << u"?since=-5&after_id=0&limit=10"_qs << 200;
        QTest::newRow("largest limit") << u"?limit=1000"_qs << 200;
        QTest::newRow("limit 0") << u"?limit=0"_qs << 400;
        QTest::newRow("limit too large") << u"?limit=1001"_qs << 400;
        QTest::newRow("negative limit") << u"?limit=-1"_qs << 400;
        QTest::newRow("words") << u"?since=abc"_qs << 400;
        QTest::newRow("fraction") << u"?since=1.5"_qs << 400;
        QTest::newRow("empty") << u"?after_id="_qs << 400;
        QTest::newRow("beyond 64 bits") << u"?since=99999999999999999999"_qs << 400;
    }
    void pageQueryIsValidated()
    {
        QFETCH(QString, query);
        QFETCH(int, status);
        TestService service;
        const Reply reply = service.get(service.token(u"a@example.com"_qs), "/api/videos.php" + query.toStdString());
        QCOMPARE(reply.status, status);
        QVERIFY(reply.isJsonObject);
        QCOMPARE(reply.json.contains(u"error"_qs), status != 200);
    }

    void concurrentWritersNeverSkipOrReorder()
    {
        TestService service;
        const QStringList owners{u"a@example.com"_qs, u"b@example.com"_qs, u"c@example.com"_qs};
        QStringList tokens;
        for (const QString &owner : owners)
            tokens.append(service.token(owner));
        service.share(tokens[1], owners[0]);
        service.share(tokens[2], owners[0]);

        constexpr int kOperations = 120;
        constexpr int kIds = 24; // few IDs, so the owners' copies collide
        std::atomic<int> running{int(owners.size()) + 1};
        // Each writer's own view of its library: ID -> title, for live videos.
        std::vector<std::map<QString, QString>> truth(owners.size());
        std::vector<std::thread> writers;
        for (qsizetype w = 0; w < owners.size(); ++w) {
            writers.emplace_back([&, w] {
                QRandomGenerator random(quint32(w + 1));
                std::map<QString, int> versions;
                std::set<QString> everAdded;
                for (int op = 0; op < kOperations; ++op) {
                    const int n = int(random.bounded(kIds));
                    const QString id = u"video%1"_qs.arg(n, 4, 10, QLatin1Char('0'));
                    const QString title = u"%1:%2:v%3"_qs.arg(owners[w], id).arg(++versions[id]);
                    const int kind = int(random.bounded(3));
                    if (kind == 0 && !service.add(tokens[w], videoLink(n), title).isEmpty()) {
                        truth[w][id] = title;
                        everAdded.insert(id);
                    } else if (kind == 1) {
                        // An edit revives a deleted own copy; an ID never added stays absent.
                        service.patch(tokens[w], QJsonObject{{u"youtube_id"_qs, id}, {u"title"_qs, title}});
                        if (everAdded.count(id))
                            truth[w][id] = title;
                    } else if (kind == 2) {
                        service.remove(tokens[w], id);
                        truth[w].erase(id);
                    }
                }
                --running;
            });
        }
        // The family changes while everyone writes: c stops and starts sharing with a.
        writers.emplace_back([&] {
            for (int i = 0; i < 4; ++i) {
                service.unshare(tokens[2], owners[0]);
                QTest::qSleep(15);
                service.share(tokens[2], owners[0]);
                QTest::qSleep(15);
            }
            --running;
        });

        Client client(service, tokens[0], 0, 5, true);
        int pulls = 0;
        for (; running > 0; ++pulls)
            client.sync();
        for (std::thread &writer : writers)
            writer.join();
        client.sync();
        QVERIFY2(client.problems().isEmpty(), qPrintable(client.problems().join(u'\n')));
        QVERIFY(pulls > 1);

        // The incremental result equals one quiet pull from the start…
        QCOMPARE(client.liveRows(), Client(service, tokens[0], 0, 1000, true).sync().liveRows());

        // …and what the reader sees is what the writers wrote: the own copy wins, otherwise
        // the copy of the smallest sharing address.
        QMap<QString, QString> expected;
        for (qsizetype w = owners.size() - 1; w >= 0; --w)
            for (const auto &[id, title] : truth[size_t(w)])
                expected.insert(id, title);
        QMap<QString, QString> actual;
        for (const QJsonObject &row : client.liveRows()) {
            actual.insert(str(row, "youtube_id"), str(row, "title"));
            QCOMPARE(num(row, "read_only") == 0, str(row, "owner_email").isEmpty());
        }
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(PagingTest)
#include "PagingTest.moc"
