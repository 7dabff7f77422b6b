#include "KeychainSecretStore.h"

#include "AppPaths.h"
#include "BoundedWait.h"

#ifdef CLIPVANE_HAVE_DBUS
#include <QDBusConnection>
#include <QDBusMessage>
#endif
#include <QStringDecoder>
#include <qt6keychain/keychain.h>

namespace clipvane {

namespace {

// QtKeychain jobs delete themselves once they finish. A job that is still waiting when the
// time-out ends the wait is left to finish (and delete itself) on its own: its backend holds
// pointers into it, so deleting it early would let a late answer touch freed memory.
template<typename Job> Job *newJob(const QString &service, const QString &account)
{
    auto *job = new Job(service);
    job->setAutoDelete(true);
    job->setInsecureFallback(false);
    job->setKey(account);
    return job;
}

bool runJob(QKeychain::Job *job, const std::function<void()> &onAnswer, std::chrono::milliseconds timeout)
{
    return waitForAnswer(
        job, &QKeychain::Job::finished, onAnswer, [job] { job->start(); }, timeout);
}

std::optional<QString> strictUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

#ifdef CLIPVANE_HAVE_DBUS
constexpr auto kSecretServiceName = "org.freedesktop.secrets";
// Asking the bus who is there must not stall start-up either.
constexpr int kBusQueryTimeoutMs = 1500;

bool busAnswersTrue(const QDBusConnection &bus, const QString &method)
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), method);
    call << QLatin1String(kSecretServiceName);
    const QDBusMessage reply = bus.call(call, QDBus::Block, kBusQueryTimeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().toBool();
}

bool activatable(const QDBusConnection &bus)
{
    const QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ListActivatableNames"));
    const QDBusMessage reply = bus.call(call, QDBus::Block, kBusQueryTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return reply.arguments().constFirst().toStringList().contains(QLatin1String(kSecretServiceName));
}
#endif

} // namespace

KeychainSecretStore::KeychainSecretStore(QString service, std::chrono::milliseconds timeout)
    : m_service(std::move(service))
    , m_timeout(timeout)
{}

KeychainSecretStore::KeychainSecretStore()
    : KeychainSecretStore(QLatin1String(AppPaths::kApplicationId))
{}

bool KeychainSecretStore::keychainSave(const QString &value, const QString &account)
{
    // Delete, then add: whatever the delete reports, only the add decides the outcome.
    keychainDelete(account);

    auto *job = newJob<QKeychain::WritePasswordJob>(m_service, account);
    job->setTextData(value);
    bool written = false;
    runJob(
        job, [&] { written = job->error() == QKeychain::NoError; }, m_timeout);
    return written;
}

std::optional<QString> KeychainSecretStore::keychainRead(const QString &account)
{
    auto *job = newJob<QKeychain::ReadPasswordJob>(m_service, account);
    std::optional<QByteArray> data;
    runJob(
        job,
        [&] {
            if (job->error() == QKeychain::NoError)
                data = job->binaryData();
        },
        m_timeout);
    if (!data)
        return std::nullopt;
    return strictUtf8(*data);
}

void KeychainSecretStore::keychainDelete(const QString &account)
{
    auto *job = newJob<QKeychain::DeletePasswordJob>(m_service, account);
    runJob(
        job, [] {}, m_timeout);
}

bool KeychainSecretStore::serviceReachable()
{
#ifndef CLIPVANE_HAVE_DBUS
    // The platform's own keychain (macOS, Windows) is always there.
    return true;
#else
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    return busAnswersTrue(bus, QStringLiteral("NameHasOwner")) || activatable(bus);
#endif
}

} // namespace clipvane
