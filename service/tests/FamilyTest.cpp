// Family sharing: who sees which library, the family revision, one live row per ID with a
// consistent choice among copies, pending invitations, account deletion, and a member's pull
// while everyone writes.

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

// "members" and "shared_with_me" of the family endpoint, as "a,b|c".
QString lists(const QJsonObject &family)
{
    QStringList parts;
    for (const char *key : {"members", "shared_with_me"}) {
        QStringList emails;
        for (const QJsonValue &item : family.value(QLatin1String(key)).toArray())
            emails.append(item.isObject() ? str(item.toObject(), "email") : item.toString());
        parts.append(emails.join(u','));
    }
    return parts.join(u'|');
}

QString videoLink(int n)
{
    return u"https://youtu.be/video%1"_qs.arg(n, 4, 10, QLatin1Char('0'));
}

} // namespace

class FamilyTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestService> m_service; // fresh for each test, with an owner and a member
    QString m_owner;
    QString m_member;

    QString familyOf(const QString &token) { return lists(m_service->get(token, "/api/family.php").json); }
    QString revisionOf(const QString &token)
    {
        return str(m_service->get(token, "/api/videos.php?limit=1").json, "family_rev");
    }

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        m_service = std::make_unique<TestService>();
        m_owner = m_service->token(u"owner@example.com"_qs);
        m_member = m_service->token(u"member@example.com"_qs);
        m_service->add(m_owner, u"https://youtu.be/first12345"_qs);
    }
    void cleanup() { m_service.reset(); }

    // A member who declines a share loses the owner's videos at the next pull and is not
    // shared with again until the block is lifted; the older replies stay as they were.
    void aDeclinedShareLeavesAndStaysGone()
    {
        const auto family = [&](const QString &token, const QString &action, const QString &email) {
            return m_service->post(token, "/api/family.php", QJsonObject{{u"action"_qs, action}, {u"email"_qs, email}});
        };
        m_service->share(m_owner, u"member@example.com"_qs);
        // Not restarting on a new revision: the videos must leave by deletion records.
        Client client(*m_service, m_member);
        QCOMPARE(client.sync().live(), QStringList{u"first12345"_qs});
        const QString sharedRevision = client.familyRev();

        const Reply declined = family(m_member, u"decline"_qs, u" Owner@Example.com"_qs);
        QCOMPARE(declined.status, 200);
        QCOMPARE(declined.json.value(u"declined"_qs).toArray(), QJsonArray{u"owner@example.com"_qs});
        QCOMPARE(lists(declined.json), u"|"_qs);
        QCOMPARE(client.sync().live(), QStringList());
        QVERIFY(client.familyRev() != sharedRevision);
        QCOMPARE(familyOf(m_owner), u"|"_qs);

        // Sharing again changes nothing while the block stands, whatever the owner adds.
        QCOMPARE(family(m_owner, u"add"_qs, u"member@example.com"_qs).status, 200);
        m_service->add(m_owner, u"https://youtu.be/phishing12"_qs);
        QCOMPARE(client.sync().live(), QStringList());
        QCOMPARE(familyOf(m_member), u"|"_qs);
        const QJsonObject plain = m_service->get(m_member, "/api/family.php").json;
        QVERIFY(!plain.contains(u"declined"_qs));
        QCOMPARE(m_service->get(m_member, "/api/family.php?include=declined").json.value(u"declined"_qs).toArray(),
                 QJsonArray{u"owner@example.com"_qs});
        QCOMPARE(family(m_member, u"decline"_qs, u"member@example.com"_qs).status, 400);

        // Lifted, the block no longer stops a new share.
        const Reply lifted = family(m_member, u"unblock"_qs, u"owner@example.com"_qs);
        QCOMPARE(lifted.json.value(u"declined"_qs).toArray(), QJsonArray());
        QCOMPARE(client.sync().live(), QStringList());
        m_service->share(m_owner, u"member@example.com"_qs);
        QCOMPARE(client.sync().live(), (QStringList{u"first12345"_qs, u"phishing12"_qs}));
        QCOMPARE(client.problems(), QStringList());
    }

    // Sharing brings the owner's whole library, read-only, in one transaction (one stamp, paged
    // by ID) and changes the member's revision; the owner's later changes follow through the
    // pull; nothing but a change to the set of libraries changes the revision again. Addresses
    // are taken as typed, in any case and with blanks around; an invitation of an address
    // without an account applies when it signs in.
    void memberSeesTheLibraryReadOnly()
    {
        for (int i = 0; i < 10; ++i)
            m_service->add(m_owner, videoLink(i));
        QCOMPARE(revisionOf(m_member), u"0"_qs);
        const QJsonObject invite{{u"action"_qs, u"add"_qs}, {u"email"_qs, u" Member@Example.COM "_qs}};
        const Reply shared = m_service->post(m_owner, "/api/family.php", invite);
        QCOMPARE(shared.status, 200);
        QCOMPARE(lists(shared.json), u"member@example.com|"_qs);
        QCOMPARE(familyOf(m_member), u"|owner@example.com"_qs);
        m_service->share(m_owner, u"later@example.com"_qs);
        QVERIFY(familyOf(m_owner).contains(u"later@example.com"_qs));

        Client client(*m_service, m_member, 0, 3);
        QCOMPARE(client.sync().liveRows().size(), 11);
        QCOMPARE(num(client.pulled().first(), "updated_at"), num(client.pulled().last(), "updated_at"));
        for (const QJsonObject &row : client.liveRows())
            QCOMPARE(fields(row, "read_only owner_email"), u"1|owner@example.com"_qs);
        const QString afterShare = client.familyRev();
        QVERIFY(afterShare != u"0"_qs);
        QCOMPARE(revisionOf(m_owner), u"0"_qs); // sharing does not change what the owner sees
        Client later(*m_service, m_service->token(u"later@example.com"_qs));
        QCOMPARE(later.sync().live().size(), 11);
        QVERIFY(later.familyRev() != u"0"_qs);

        m_service->patch(m_owner, QJsonObject{{u"youtube_id"_qs, u"first12345"_qs}, {u"title"_qs, u"Renamed"_qs}});
        m_service->remove(m_owner, u"video0000"_qs);
        m_service->add(m_owner, u"https://youtu.be/second1234"_qs);
        m_service->share(m_owner, u"member@example.com"_qs); // already shared
        QCOMPARE(client.sync().title(u"first12345"_qs), u"Renamed"_qs);
        QCOMPARE(client.live().size(), 11);
        QVERIFY(client.live().contains(u"second1234"_qs) && !client.live().contains(u"video0000"_qs));
        QCOMPARE(client.familyRev(), afterShare);
        QVERIFY2(client.problems().isEmpty(), qPrintable(client.problems().join(u'\n')));

        m_service->unshare(m_owner, u"member@example.com"_qs);
        const QString afterUnshare = revisionOf(m_member);
        QVERIFY(afterUnshare != afterShare);
        m_service->unshare(m_owner, u"member@example.com"_qs); // nothing to remove
        QCOMPARE(revisionOf(m_member), afterUnshare);
        QVERIFY(Client(*m_service, m_member).sync().live().isEmpty());
    }

    void oneLiveRowPerIdAndTheStandingCopyMoves()
    {
        const QString bee = m_service->token(u"bee@example.com"_qs);
        const QString cee = m_service->token(u"cee@example.com"_qs);
        m_service->add(m_member, u"https://youtu.be/common1234"_qs, u"mine"_qs);
        m_service->add(cee, u"https://youtu.be/common1234"_qs, u"cee's"_qs);
        m_service->add(bee, u"https://youtu.be/common1234"_qs, u"bee's"_qs);
        m_service->share(cee, u"member@example.com"_qs);
        m_service->share(bee, u"member@example.com"_qs);
        const auto ownRowOnly = [&] {
            const QList<QJsonObject> rows = Client(*m_service, m_member).sync().pulled();
            return rows.size() == 1 ? fields(rows.first(), "title read_only") : u"%1 rows"_qs.arg(rows.size());
        };
        QCOMPARE(ownRowOnly(), u"mine|0"_qs);

        // Own copy gone: the smallest sharing address stands; then the next one; then nothing.
        Client client(*m_service, m_member);
        client.sync();
        m_service->remove(m_member, u"common1234"_qs);
        QCOMPARE(fields(client.sync().row(u"common1234"_qs), "title owner_email"), u"bee's|bee@example.com"_qs);
        m_service->unshare(bee, u"member@example.com"_qs);
        QCOMPARE(client.sync().title(u"common1234"_qs), u"cee's"_qs);
        m_service->remove(cee, u"common1234"_qs);
        QCOMPARE(num(client.sync().row(u"common1234"_qs), "deleted"), 1);

        // Adding it again makes the own copy stand once more.
        m_service->add(m_member, u"https://youtu.be/common1234"_qs, u"mine again"_qs);
        QCOMPARE(client.sync().title(u"common1234"_qs), u"mine again"_qs);
        QCOMPARE(ownRowOnly(), u"mine again|0"_qs);
    }

    // The export holds everything about the account and no secret; deleting the account
    // removes all of it, for its family too.
    void exportAndDeletionOfAnAccount()
    {
        m_service->add(m_owner, u"https://youtu.be/gone123456"_qs);
        m_service->remove(m_owner, u"gone123456"_qs);
        m_service->share(m_owner, u"friend@example.com"_qs);
        m_service->share(m_owner, u"member@example.com"_qs);
        m_service->share(m_member, u"owner@example.com"_qs);
        Client client(*m_service, m_member);
        QCOMPARE(client.sync().live(), QStringList{u"first12345"_qs});
        const QString revBefore = client.familyRev();

        const Reply reply = m_service->get(m_owner, "/api/account.php?action=export");
        QCOMPARE(reply.status, 200);
        QCOMPARE(str(reply.json.value(u"account"_qs).toObject(), "email"), u"owner@example.com"_qs);
        const QJsonArray videos = reply.json.value(u"videos"_qs).toArray();
        QCOMPARE(videos.size(), 2);
        QCOMPARE(fields(videos[0].toObject(), "youtube_id deleted"), u"first12345|0"_qs);
        QCOMPARE(fields(videos[1].toObject(), "youtube_id deleted"), u"gone123456|1"_qs);
        QCOMPARE(lists(reply.json.value(u"family"_qs).toObject()),
                 u"friend@example.com,member@example.com|member@example.com"_qs);
        QCOMPARE(reply.json.value(u"tokens"_qs).toArray().size(), 1);
        QVERIFY(reply.body.find(m_owner.toStdString()) == std::string::npos); // no secret in the file
        QCOMPARE(m_service->get(m_owner, "/api/account.php").status, 400);
        QCOMPARE(m_service->get(m_owner, "/api/account.php?action=delete").status, 400);

        const QJsonObject deletion{{u"action"_qs, u"delete"_qs}};
        QCOMPARE(m_service->post(m_owner, "/api/account.php", deletion).status, 200);
        QCOMPARE(m_service->get(m_owner, "/api/videos.php").status, 401);
        // Without re-pulling from the start, the member learns each video is gone, and the
        // links in both directions are gone.
        QVERIFY(client.sync().live().isEmpty());
        QVERIFY(client.familyRev() != revBefore);
        QCOMPARE(familyOf(m_member), u"|"_qs);
        // The address can sign up again, with nothing of the old account.
        const QString again = m_service->token(u"owner@example.com"_qs);
        QVERIFY(Client(*m_service, again).sync().pulled().isEmpty());
        QCOMPARE(revisionOf(again), u"0"_qs);
    }

    // A client paging with the returned values never misses a change nor sees one out of order,
    // whatever writes interleave.
    void concurrentWritersNeverSkipOrReorder()
    {
        const QStringList owners{u"a@example.com"_qs, u"b@example.com"_qs, u"c@example.com"_qs};
        QStringList tokens;
        for (const QString &owner : owners)
            tokens.append(m_service->token(owner));
        m_service->share(tokens[1], owners[0]);
        m_service->share(tokens[2], owners[0]);

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
                    if (kind == 0 && !m_service->add(tokens[w], videoLink(n), title).isEmpty()) {
                        truth[w][id] = title;
                        everAdded.insert(id);
                    } else if (kind == 1) {
                        // An edit revives a deleted own copy; an ID never added stays absent.
                        m_service->patch(tokens[w], QJsonObject{{u"youtube_id"_qs, id}, {u"title"_qs, title}});
                        if (everAdded.count(id))
                            truth[w][id] = title;
                    } else if (kind == 2) {
                        m_service->remove(tokens[w], id);
                        truth[w].erase(id);
                    }
                }
                --running;
            });
        }
        // The family changes while everyone writes: c stops and starts sharing with a.
        writers.emplace_back([&] {
            for (int i = 0; i < 4; ++i) {
                m_service->unshare(tokens[2], owners[0]);
                QTest::qSleep(15);
                m_service->share(tokens[2], owners[0]);
                QTest::qSleep(15);
            }
            --running;
        });

        Client client(*m_service, tokens[0], 0, 5, true);
        int pulls = 0;
        for (; running > 0; ++pulls)
            client.sync();
        for (std::thread &writer : writers)
            writer.join();
        client.sync();
        QVERIFY2(client.problems().isEmpty(), qPrintable(client.problems().join(u'\n')));
        QVERIFY(pulls > 1);

        // The incremental result equals one quiet pull from the start…
        QCOMPARE(client.liveRows(), Client(*m_service, tokens[0], 0, 1000, true).sync().liveRows());

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

QTEST_GUILESS_MAIN(FamilyTest)
#include "FamilyTest.moc"
