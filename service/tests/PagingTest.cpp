// The pull: order, cursor, totals, the clock, and the invariant that a client paging with
// the returned values never misses a change nor sees one out of order, whatever writes
// interleave.

#include "TestService.h"

#include <QJsonArray>
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

std::string pageQuery(qint64 since, qint64 afterId, int limit)
{
    return "/api/videos.php?since=" + std::to_string(since) + "&after_id=" + std::to_string(afterId) +
           "&limit=" + std::to_string(limit);
}

bool before(const QJsonObject &a, const QJsonObject &b)
{
    const qint64 ua = a.value(u"updated_at"_qs).toInteger();
    const qint64 ub = b.value(u"updated_at"_qs).toInteger();
    return ua < ub || (ua == ub && a.value(u"id"_qs).toInteger() < b.value(u"id"_qs).toInteger());
}

QString videoLink(int n)
{
    return u"https://youtu.be/video%1"_qs.arg(n, 4, 10, QLatin1Char('0'));
}

// The application's pull, step by step: pages of `limit` from the stored cursor; a changed
// family revision on the first page wipes everything and restarts from 0. Checks every
// row against what this client saw before.
class CheckingClient
{
public:
    CheckingClient(TestService &service, QString token, int limit)
        : m_service(service)
        , m_token(std::move(token))
        , m_limit(limit)
    {}

    // One whole pull; false on any HTTP failure.
    bool pull()
    {
        qint64 since = m_cursor;
        qint64 afterId = 0;
        bool firstPage = true;
        for (;;) {
            const Reply reply = m_service.get(m_token, pageQuery(since, afterId, m_limit));
            if (reply.status != 200)
                return false;
            const QString familyRev = reply.json.value(u"family_rev"_qs).toString();
            if (firstPage && familyRev != m_familyRev) {
                m_rows.clear();
                m_lastStamp.clear();
                m_lastVersion.clear();
                m_familyRev = familyRev;
                m_cursor = since = afterId = 0;
                firstPage = false;
                continue;
            }
            firstPage = false;
            const QJsonArray videos = reply.json.value(u"videos"_qs).toArray();
            const qint64 now = reply.json.value(u"now"_qs).toInteger();
            for (const QJsonValue &value : videos)
                take(value.toObject(), now);
            if (videos.size() < m_limit) {
                m_cursor = now;
                return true;
            }
            since = videos.last().toObject().value(u"updated_at"_qs).toInteger();
            afterId = videos.last().toObject().value(u"id"_qs).toInteger();
        }
    }

    QMap<QString, QJsonObject> liveRows() const
    {
        QMap<QString, QJsonObject> live;
        for (auto it = m_rows.cbegin(); it != m_rows.cend(); ++it)
            if (it->value(u"deleted"_qs).toInt() == 0)
                live.insert(it.key(), *it);
        return live;
    }
    QStringList problems() const { return m_problems; }

private:
    void take(const QJsonObject &row, qint64 now)
    {
        const QString id = row.value(u"youtube_id"_qs).toString();
        const qint64 stamp = row.value(u"updated_at"_qs).toInteger();
        if (stamp >= now)
            m_problems.append(u"%1 stamped %2, not below now %3"_qs.arg(id).arg(stamp).arg(now));
        if (m_lastStamp.contains(id) && stamp <= m_lastStamp.value(id))
            m_problems.append(u"%1 went back from %2 to %3"_qs.arg(id).arg(m_lastStamp.value(id)).arg(stamp));
        m_lastStamp.insert(id, stamp);
        // Titles carry a version per owner and ID ("owner:id:v7"); each owner's versions of
        // an ID must arrive in the order they were written.
        const QStringList parts = row.value(u"title"_qs).toString().split(u':');
        if (row.value(u"deleted"_qs).toInt() == 0 && parts.size() == 3) {
            const QString key = parts[0] + u':' + id;
            const int version = parts[2].mid(1).toInt();
            if (m_lastVersion.contains(key) && version < m_lastVersion.value(key))
                m_problems.append(u"%1 version %2 after %3"_qs.arg(key).arg(version).arg(m_lastVersion.value(key)));
            m_lastVersion.insert(key, version);
        }
        m_rows.insert(id, row);
    }

    TestService &m_service;
    QString m_token;
    int m_limit;
    qint64 m_cursor = 0;
    QString m_familyRev = u"0"_qs;
    QMap<QString, QJsonObject> m_rows;
    QMap<QString, qint64> m_lastStamp;
    QMap<QString, int> m_lastVersion;
    QStringList m_problems;
};

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

        QList<QJsonObject> rows;
        QList<qint64> totals;
        qint64 since = 0;
        qint64 afterId = 0;
        qint64 now = 0;
        for (;;) {
            const Reply reply = service.get(token, pageQuery(since, afterId, 7));
            QCOMPARE(reply.status, 200);
            QCOMPARE(reply.json.value(u"widget"_qs), QJsonValue(true));
            QVERIFY(reply.json.value(u"family_rev"_qs).isString());
            totals.append(reply.json.value(u"total"_qs).toInteger());
            const QJsonArray videos = reply.json.value(u"videos"_qs).toArray();
            for (const QJsonValue &video : videos)
                rows.append(video.toObject());
            now = reply.json.value(u"now"_qs).toInteger();
            if (videos.size() < 7)
                break;
            since = rows.last().value(u"updated_at"_qs).toInteger();
            afterId = rows.last().value(u"id"_qs).toInteger();
        }
        QCOMPARE(rows.size(), 25);
        QCOMPARE(totals, (QList<qint64>{25, 18, 11, 4}));
        for (qsizetype i = 1; i < rows.size(); ++i)
            QVERIFY(before(rows[i - 1], rows[i]));
        QVERIFY(now > rows.last().value(u"updated_at"_qs).toInteger());

        // Nothing new: an empty page. One change: exactly that row, stamped above the old now.
        Reply quiet = service.get(token, pageQuery(now, 0, 7));
        QCOMPARE(quiet.json.value(u"videos"_qs).toArray().size(), 0);
        QCOMPARE(quiet.json.value(u"total"_qs).toInteger(), 0);
        const QJsonObject patched =
            service.patch(token, QJsonObject{{u"youtube_id"_qs, u"video0003"_qs}, {u"excluded"_qs, 1}});
        QVERIFY(patched.value(u"updated_at"_qs).toInteger() > now);
        const Reply changed = service.get(token, pageQuery(now, 0, 7));
        const QJsonArray videos = changed.json.value(u"videos"_qs).toArray();
        QCOMPARE(videos.size(), 1);
        QCOMPARE(videos.first().toObject(), patched);
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
        qint64 cursor = 0;
        const QList<QJsonObject> rows = service.pullAll(token, cursor);
        QCOMPARE(rows, replies);
        for (qsizetype i = 0; i < titles.size(); ++i)
            QCOMPARE(rows[i].value(u"title"_qs).toString(), titles[i]);
    }

    void rowsSharingAStampArePagedById()
    {
        TestService service;
        const QString owner = service.token(u"owner@example.com"_qs);
        const QString member = service.token(u"member@example.com"_qs);
        for (int i = 0; i < 10; ++i)
            service.add(owner, videoLink(i));
        service.share(owner, u"member@example.com"_qs); // one transaction: one stamp for all ten

        QSet<QString> seen;
        qint64 cursor = 0;
        const QList<QJsonObject> rows = service.pullAll(member, cursor, 3);
        QCOMPARE(rows.size(), 10);
        for (const QJsonObject &row : rows) {
            QCOMPARE(row.value(u"updated_at"_qs), rows.first().value(u"updated_at"_qs));
            seen.insert(row.value(u"youtube_id"_qs).toString());
        }
        QCOMPARE(seen.size(), 10);
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
        QMap<QString, QString> tokens;
        for (const QString &owner : owners)
            tokens.insert(owner, service.token(owner));
        const QString reader = tokens.value(owners[0]);
        service.share(tokens.value(owners[1]), owners[0]);
        service.share(tokens.value(owners[2]), owners[0]);

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
                const QString token = tokens.value(owners[w]);
                for (int op = 0; op < kOperations; ++op) {
                    const int n = int(random.bounded(kIds));
                    const QString id = u"video%1"_qs.arg(n, 4, 10, QLatin1Char('0'));
                    const QString title = u"%1:%2:v%3"_qs.arg(owners[w], id).arg(++versions[id]);
                    const int kind = int(random.bounded(3));
                    if (kind == 0) {
                        if (!service.add(token, videoLink(n), title).isEmpty()) {
                            truth[w][id] = title;
                            everAdded.insert(id);
                        }
                    } else if (kind == 1) {
                        // An edit revives a deleted own copy; an ID never added stays absent.
                        service.patch(token, QJsonObject{{u"youtube_id"_qs, id}, {u"title"_qs, title}});
                        if (everAdded.count(id))
                            truth[w][id] = title;
                    } else {
                        service.remove(token, id);
                        truth[w].erase(id);
                    }
                }
                --running;
            });
        }
        // The family changes while everyone writes: c stops and starts sharing with a.
        writers.emplace_back([&] {
            for (int i = 0; i < 4; ++i) {
                service.unshare(tokens.value(owners[2]), owners[0]);
                QTest::qSleep(15);
                service.share(tokens.value(owners[2]), owners[0]);
                QTest::qSleep(15);
            }
            --running;
        });

        CheckingClient client(service, reader, 5);
        int pulls = 0;
        while (running > 0) {
            QVERIFY(client.pull());
            ++pulls;
        }
        for (std::thread &writer : writers)
            writer.join();
        QVERIFY(client.pull());
        QVERIFY2(client.problems().isEmpty(), qPrintable(client.problems().join(u'\n')));
        QVERIFY(pulls > 1);

        // The incremental result equals one quiet pull from the start…
        CheckingClient fresh(service, reader, 1000);
        QVERIFY(fresh.pull());
        QCOMPARE(client.liveRows(), fresh.liveRows());

        // …and what the reader sees is what the writers wrote: the own copy wins, otherwise
        // the copy of the smallest sharing address.
        QMap<QString, QString> expected;
        for (qsizetype w = owners.size() - 1; w >= 0; --w)
            for (const auto &[id, title] : truth[size_t(w)])
                expected.insert(id, title);
        QMap<QString, QString> actual;
        const auto live = client.liveRows();
        for (auto it = live.cbegin(); it != live.cend(); ++it) {
            actual.insert(it.key(), it->value(u"title"_qs).toString());
            const bool ownCopy = it->value(u"read_only"_qs).toInt() == 0;
            QCOMPARE(ownCopy, it->value(u"owner_email"_qs).toString().isEmpty());
        }
        QCOMPARE(actual, expected);
    }
};

QTEST_GUILESS_MAIN(PagingTest)
#include "PagingTest.moc"
