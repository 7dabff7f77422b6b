// Family sharing: who sees which library, the family revision, one live row per ID with a
// consistent choice among copies, pending invitations, and account deletion.

#include "TestService.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QStandardPaths>
#include <QTest>

using namespace clipvane::service;
using namespace clipvane::service::test;

namespace {

QStringList strings(const QJsonValue &value)
{
    QStringList list;
    for (const QJsonValue &item : value.toArray())
        list.append(item.toString());
    return list;
}

QString familyRev(TestService &service, const QString &token)
{
    return service.get(token, "/api/videos.php?since=0&after_id=0&limit=1").json.value(u"family_rev"_qs).toString();
}

} // namespace

class FamilyTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void memberSeesTheLibraryReadOnly()
    {
        TestService service;
        const QString owner = service.token(u"owner@example.com"_qs);
        const QString member = service.token(u"member@example.com"_qs);
        service.add(owner, u"https://youtu.be/first12345"_qs);
        service.add(owner, u"https://youtu.be/second1234"_qs);
        const QString before = familyRev(service, member);
        QCOMPARE(before, u"0"_qs);

        // Addresses are taken as typed, in any case and with blanks around.
        const Reply shared =
            service.post(owner, "/api/family.php",
                         QJsonObject{{u"action"_qs, u"add"_qs}, {u"email"_qs, u" Member@Example.COM "_qs}});
        QCOMPARE(shared.status, 200);
        QCOMPARE(strings(shared.json.value(u"members"_qs)), QStringList{u"member@example.com"_qs});

        PullMirror client(service, member);
        client.sync();
        QCOMPARE(client.live(), (QStringList{u"first12345"_qs, u"second1234"_qs}));
        for (const QString &id : client.live()) {
            QCOMPARE(client.row(id).value(u"read_only"_qs).toInt(), 1);
            QCOMPARE(client.row(id).value(u"owner_email"_qs).toString(), u"owner@example.com"_qs);
        }
        QVERIFY(client.familyRev() != before);

        const Reply lists = service.get(member, "/api/family.php");
        QCOMPARE(strings(lists.json.value(u"shared_with_me"_qs)), QStringList{u"owner@example.com"_qs});
        QCOMPARE(strings(lists.json.value(u"members"_qs)), QStringList());

        // The owner's later changes reach the member through the pull.
        service.patch(owner, QJsonObject{{u"youtube_id"_qs, u"first12345"_qs}, {u"title"_qs, u"Renamed"_qs}});
        service.remove(owner, u"second1234"_qs);
        client.sync();
        QCOMPARE(client.title(u"first12345"_qs), u"Renamed"_qs);
        QCOMPARE(client.live(), QStringList{u"first12345"_qs});
    }

    void revisionChangesOnlyWithTheSetOfLibraries()
    {
        TestService service;
        const QString owner = service.token(u"owner@example.com"_qs);
        const QString member = service.token(u"member@example.com"_qs);
        service.add(owner, u"https://youtu.be/first12345"_qs);

        service.share(owner, u"member@example.com"_qs);
        const QString afterShare = familyRev(service, member);
        QVERIFY(afterShare != u"0"_qs);
        QCOMPARE(familyRev(service, owner), u"0"_qs); // sharing does not change what the owner sees

        service.add(owner, u"https://youtu.be/second1234"_qs);
        service.share(owner, u"member@example.com"_qs); // already shared
        QCOMPARE(familyRev(service, member), afterShare);

        service.unshare(owner, u"member@example.com"_qs);
        const QString afterUnshare = familyRev(service, member);
        QVERIFY(afterUnshare != afterShare);
        service.unshare(owner, u"member@example.com"_qs); // nothing to remove
        QCOMPARE(familyRev(service, member), afterUnshare);

        PullMirror client(service, member);
        QVERIFY(client.sync().live().isEmpty());
    }

    void invitationOfAnUnknownAddressAppliesAtSignIn()
    {
        TestService service;
        const QString owner = service.token(u"owner@example.com"_qs);
        service.add(owner, u"https://youtu.be/first12345"_qs);
        service.share(owner, u"later@example.com"_qs);
        QCOMPARE(strings(service.get(owner, "/api/family.php").json.value(u"members"_qs)),
                 QStringList{u"later@example.com"_qs});

        const QString later = service.token(u"later@example.com"_qs);
        PullMirror client(service, later);
        QCOMPARE(client.sync().live(), QStringList{u"first12345"_qs});
        QVERIFY(client.familyRev() != u"0"_qs);
    }

    void familyRequestsAreValidated_data()
    {
        QTest::addColumn<QJsonObject>("body");
        QTest::newRow("no action") << QJsonObject{{u"email"_qs, u"x@example.com"_qs}};
        QTest::newRow("unknown action") << QJsonObject{{u"action"_qs, u"invite"_qs},
                                                       {u"email"_qs, u"x@example.com"_qs}};
        QTest::newRow("no email") << QJsonObject{{u"action"_qs, u"add"_qs}};
        QTest::newRow("email not text") << QJsonObject{{u"action"_qs, u"add"_qs}, {u"email"_qs, 5}};
        QTest::newRow("not an address") << QJsonObject{{u"action"_qs, u"add"_qs}, {u"email"_qs, u"bob"_qs}};
        QTest::newRow("two at signs") << QJsonObject{{u"action"_qs, u"add"_qs}, {u"email"_qs, u"a@b@example.com"_qs}};
        QTest::newRow("no dot") << QJsonObject{{u"action"_qs, u"remove"_qs}, {u"email"_qs, u"a@localhost"_qs}};
        QTest::newRow("yourself") << QJsonObject{{u"action"_qs, u"add"_qs}, {u"email"_qs, u"Owner@Example.com"_qs}};
    }
    void familyRequestsAreValidated()
    {
        QFETCH(QJsonObject, body);
        TestService service;
        const QString owner = service.token(u"owner@example.com"_qs);
        const Reply reply = service.post(owner, "/api/family.php", body);
        QCOMPARE(reply.status, 400);
        QVERIFY(!reply.json.value(u"error"_qs).toString().isEmpty());
        QCOMPARE(strings(service.get(owner, "/api/family.php").json.value(u"members"_qs)), QStringList());
    }

    void oneLiveRowPerIdAndTheStandingCopyMoves()
    {
        TestService service;
        const QString me = service.token(u"me@example.com"_qs);
        const QString bee = service.token(u"bee@example.com"_qs);
        const QString cee = service.token(u"cee@example.com"_qs);
        service.add(me, u"https://youtu.be/common1234"_qs, u"mine"_qs);
        service.add(cee, u"https://youtu.be/common1234"_qs, u"cee's"_qs);
        service.add(bee, u"https://youtu.be/common1234"_qs, u"bee's"_qs);
        service.share(cee, u"me@example.com"_qs);
        service.share(bee, u"me@example.com"_qs);

        qint64 cursor = 0;
        QList<QJsonObject> rows = service.pullAll(me, cursor);
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().value(u"title"_qs).toString(), u"mine"_qs);
        QCOMPARE(rows.first().value(u"read_only"_qs).toInt(), 0);

        // Own copy gone: the smallest sharing address stands; then the next one; then nothing.
        PullMirror client(service, me, cursor);
        service.remove(me, u"common1234"_qs);
        QCOMPARE(client.sync().title(u"common1234"_qs), u"bee's"_qs);
        QCOMPARE(client.row(u"common1234"_qs).value(u"owner_email"_qs).toString(), u"bee@example.com"_qs);
        service.unshare(bee, u"me@example.com"_qs);
        QCOMPARE(client.sync().title(u"common1234"_qs), u"cee's"_qs);
        service.remove(cee, u"common1234"_qs);
        QCOMPARE(client.sync().row(u"common1234"_qs).value(u"deleted"_qs).toInt(), 1);

        // Adding it again makes the own copy stand once more.
        service.add(me, u"https://youtu.be/common1234"_qs, u"mine again"_qs);
        QCOMPARE(client.sync().title(u"common1234"_qs), u"mine again"_qs);
        cursor = 0;
        rows = service.pullAll(me, cursor);
        QCOMPARE(rows.size(), 1);
    }

    void accountDeletionRemovesEverything()
    {
        TestService service;
        const QString gone = service.token(u"gone@example.com"_qs);
        const QString member = service.token(u"member@example.com"_qs);
        service.add(gone, u"https://youtu.be/first12345"_qs);
        service.add(gone, u"https://youtu.be/second1234"_qs);
        service.share(gone, u"member@example.com"_qs);
        service.share(member, u"gone@example.com"_qs);
        PullMirror client(service, member);
        QCOMPARE(client.sync().live().size(), 2);
        const QString revBefore = client.familyRev();

        QCOMPARE(service.post(gone, "/api/account.php", QJsonObject{{u"action"_qs, u"export"_qs}}).status, 400);
        const Reply deleted = service.post(gone, "/api/account.php", QJsonObject{{u"action"_qs, u"delete"_qs}});
        QCOMPARE(deleted.status, 200);
        QCOMPARE(service.get(gone, "/api/videos.php").status, 401);

        // Without re-pulling from the start, the member learns each video is gone…
        QVERIFY(client.sync().live().isEmpty());
        QVERIFY(client.familyRev() != revBefore);
        // …and the links in both directions are gone.
        const Reply lists = service.get(member, "/api/family.php");
        QCOMPARE(strings(lists.json.value(u"members"_qs)), QStringList());
        QCOMPARE(strings(lists.json.value(u"shared_with_me"_qs)), QStringList());

        // The address can sign up again, with nothing of the old account.
        const QString again = service.token(u"gone@example.com"_qs);
        qint64 cursor = 0;
        QVERIFY(service.pullAll(again, cursor).isEmpty());
        QCOMPARE(familyRev(service, again), u"0"_qs);
    }

    void exportHoldsEverythingAboutTheAccount()
    {
        TestService service;
        const QString me = service.token(u"me@example.com"_qs);
        const QString other = service.token(u"other@example.com"_qs);
        service.add(me, u"https://youtu.be/kept123456"_qs, u"Kept"_qs);
        service.add(me, u"https://youtu.be/gone123456"_qs);
        service.remove(me, u"gone123456"_qs);
        service.share(me, u"friend@example.com"_qs);
        service.share(other, u"me@example.com"_qs);

        const Reply reply = service.get(me, "/api/account.php?action=export");
        QCOMPARE(reply.status, 200);
        const QJsonObject doc = reply.json;
        QCOMPARE(doc.value(u"account"_qs).toObject().value(u"email"_qs).toString(), u"me@example.com"_qs);
        const QJsonArray videos = doc.value(u"videos"_qs).toArray();
        QCOMPARE(videos.size(), 2);
        QCOMPARE(videos[0].toObject().value(u"title"_qs).toString(), u"Kept"_qs);
        QCOMPARE(videos[1].toObject().value(u"deleted"_qs).toInt(), 1);
        const QJsonObject family = doc.value(u"family"_qs).toObject();
        QCOMPARE(family.value(u"members"_qs).toArray().first().toObject().value(u"email"_qs).toString(),
                 u"friend@example.com"_qs);
        QCOMPARE(family.value(u"shared_with_me"_qs).toArray().first().toObject().value(u"email"_qs).toString(),
                 u"other@example.com"_qs);
        QCOMPARE(doc.value(u"tokens"_qs).toArray().size(), 1);
        QVERIFY(!reply.body.empty());
        QVERIFY(reply.body.find(me.toStdString()) == std::string::npos); // no secret in the file
        QCOMPARE(service.get(me, "/api/account.php").status, 400);
        QCOMPARE(service.get(me, "/api/account.php?action=delete").status, 400);
    }
};

QTEST_GUILESS_MAIN(FamilyTest)
#include "FamilyTest.moc"
