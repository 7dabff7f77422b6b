#include "KeychainSecretStore.h"
#include "AppPaths.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QTest>

using namespace clipvane;
using namespace std::chrono_literals;

namespace {

const QString kSecretService = QStringLiteral("org.freedesktop.secrets");
// Not the application's own id: a test never mixes its items with real ones.
const QString kTestService = QStringLiteral("app.clipvane.Clipvane.test");

// Stands in for a Secret Service whose keyring is locked behind a prompt nobody can see:
// it takes every call and answers none of them until told to.
class SilentSecretService : public QDBusVirtualObject
{
public:
    QList<QDBusMessage> pending;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        message.setDelayedReply(true);
        pending.append(message);
        return true;
    }

    // Answers everything held so far with an error, as a dismissed prompt would.
    int answerLate()
    {
        const QList<QDBusMessage> calls = std::exchange(pending, {});
        for (const QDBusMessage &call : calls)
            QDBusConnection::sessionBus().send(call.createErrorReply(QDBusError::AccessDenied, QStringLiteral("late")));
        return int(calls.size());
    }
};

} // namespace

class KeychainSecretStoreTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (qEnvironmentVariable("CLIPVANE_PRIVATE_BUS") != QLatin1String("1"))
            QSKIP("no private D-Bus session could be started (dbus-run-session missing, or not run through "
                  "tests/api/with-private-bus)");
        qunsetenv("CLIPVANE_PROFILE");
    }

    void secretServiceRoundTrip()
    {
        QVERIFY2(qEnvironmentVariable("CLIPVANE_PRIVATE_KEYRING") == QLatin1String("1"),
                 "no keyring was asked for on this bus: run through tests/api/with-private-bus --keyring");
        QVERIFY2(
            KeychainSecretStore::serviceReachable(),
            "gnome-keyring-daemon did not provide a Secret Service on the private bus (scripts/setup installs it)");
        KeychainSecretStore store(kTestService, 10s);
        QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);
        QVERIFY(store.keychainSave(QStringLiteral("first-token"), SecretKeys::token));
        QVERIFY(store.keychainSave(QString(), SecretKeys::email));
        QCOMPARE(store.keychainRead(SecretKeys::token), QStringLiteral("first-token"));
        QCOMPARE(store.keychainRead(SecretKeys::email), QString());
        // Signing in again replaces the item; the text survives in full.
        QVERIFY(store.keychainSave(u"second \u00e9\u2014\U0001F600"_qs, SecretKeys::token));
        QCOMPARE(store.keychainRead(SecretKeys::token), u"second \u00e9\u2014\U0001F600"_qs);
        // Items are per service: another service name sees nothing.
        KeychainSecretStore other(kTestService + QStringLiteral(".other"), 10s);
        QCOMPARE(other.keychainRead(SecretKeys::token), std::nullopt);
        store.keychainDelete(SecretKeys::token);
        QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);
        QCOMPARE(store.keychainRead(SecretKeys::email), QString());
        store.keychainDelete(SecretKeys::email);
        store.keychainDelete(SecretKeys::email); // deleting what is gone is harmless
        QCOMPARE(store.keychainRead(SecretKeys::email), std::nullopt);
        // With a Secret Service and no profile folder, the process-wide store is the keychain.
        QVERIFY(dynamic_cast<KeychainSecretStore *>(&defaultSecretStore()));
    }

    void unansweredServiceTimesOut()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        QVERIFY(bus.isConnected());
        // The private bus of this test starts no keyring: one here would answer in the silent one's place.
        QVERIFY2(!bus.interface()->isServiceRegistered(kSecretService), "a Secret Service already runs on this bus");
        SilentSecretService service;
        QVERIFY(bus.registerVirtualObject(QStringLiteral("/"), &service, QDBusConnection::SubPath));
        QVERIFY(bus.registerService(kSecretService));
        QVERIFY(KeychainSecretStore::serviceReachable());
        {
            KeychainSecretStore store(kTestService, 300ms);
            QVERIFY(!store.keychainSave(QStringLiteral("token"), SecretKeys::token));
            QCOMPARE(store.keychainRead(SecretKeys::token), std::nullopt);
            store.keychainDelete(SecretKeys::token);
        }
        QVERIFY(!service.pending.isEmpty());
        // The answers arrive after every wait gave up and the store itself is gone. Jobs queued
        // behind the first one start as each one fails; answer until none is left.
        int answered = 0;
        for (int round = 0, quiet = 0; quiet < 5 && round < 200; ++round) {
            const int now = service.answerLate();
            answered += now;
            quiet = now > 0 ? 0 : quiet + 1;
            QTest::qWait(20);
        }
        QVERIFY(answered > 0);
        bus.unregisterService(kSecretService);
        bus.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
    }
};

QTEST_GUILESS_MAIN(KeychainSecretStoreTest)
#include "KeychainSecretStoreTest.moc"
