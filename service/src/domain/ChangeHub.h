#pragma once

#include <QtGlobal>

#include <functional>
#include <map>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace clipvane::service {

// Tells whoever listens for an account (its open event streams) that the account's pull has
// something new, as soon as the change is committed, on this instance or, relayed from the
// database, on another. Listeners run on the publishing thread, under the hub's lock: they
// must only take note and return (never subscribe, unsubscribe or publish from there).
class ChangeHub
{
public:
    using Listener = std::function<void(qint64 now)>;

    // Listens for one account until destroyed; once destruction returns its listener never
    // runs again.
    class Subscription
    {
    public:
        Subscription() = default;
        ~Subscription() { reset(); }
        Subscription(Subscription &&other) noexcept;
        Subscription &operator=(Subscription &&other) noexcept;
        Subscription(const Subscription &) = delete;
        Subscription &operator=(const Subscription &) = delete;
        void reset();

    private:
        friend class ChangeHub;
        ChangeHub *m_hub = nullptr;
        qint64 m_accountId = 0;
        quint64 m_serial = 0;
    };

    ChangeHub() = default;
    ChangeHub(const ChangeHub &) = delete;
    ChangeHub &operator=(const ChangeHub &) = delete;

    // The hub must outlive the subscription.
    [[nodiscard]] Subscription subscribe(qint64 accountId, Listener listener);
    // now: the clock a pull must report to deliver the change.
    void publish(const std::vector<qint64> &accountIds, qint64 now);
    // Everyone, after notices may have been lost (the relay from the database was down).
    void publishToAll(qint64 now);

    size_t listeners() const;

private:
    void unsubscribe(qint64 accountId, quint64 serial);

    mutable std::mutex m_mutex;
    std::unordered_map<qint64, std::map<quint64, Listener>> m_listeners;
    quint64 m_nextSerial = 1;
    size_t m_count = 0;
};

} // namespace clipvane::service
