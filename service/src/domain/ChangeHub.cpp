#include "domain/ChangeHub.h"

#include <utility>

namespace clipvane::service {

ChangeHub::Subscription::Subscription(Subscription &&other) noexcept
    : m_hub(std::exchange(other.m_hub, nullptr))
    , m_accountId(other.m_accountId)
    , m_serial(other.m_serial)
{}

ChangeHub::Subscription &ChangeHub::Subscription::operator=(Subscription &&other) noexcept
{
    if (this != &other) {
        reset();
        m_hub = std::exchange(other.m_hub, nullptr);
        m_accountId = other.m_accountId;
        m_serial = other.m_serial;
    }
    return *this;
}

void ChangeHub::Subscription::reset()
{
    if (m_hub)
        std::exchange(m_hub, nullptr)->unsubscribe(m_accountId, m_serial);
}

ChangeHub::Subscription ChangeHub::subscribe(qint64 accountId, Listener listener)
{
    std::lock_guard lock(m_mutex);
    Subscription subscription;
    subscription.m_hub = this;
    subscription.m_accountId = accountId;
    subscription.m_serial = m_nextSerial++;
    m_listeners[accountId].emplace(subscription.m_serial, std::move(listener));
    ++m_count;
    return subscription;
}

void ChangeHub::unsubscribe(qint64 accountId, quint64 serial)
{
    std::lock_guard lock(m_mutex);
    const auto account = m_listeners.find(accountId);
    if (account == m_listeners.end())
        return;
    m_count -= account->second.erase(serial);
    if (account->second.empty())
        m_listeners.erase(account);
}

void ChangeHub::publish(const std::vector<qint64> &accountIds, qint64 now)
{
    std::lock_guard lock(m_mutex);
    for (const qint64 id : accountIds) {
        if (const auto account = m_listeners.find(id); account != m_listeners.end())
            for (const auto &[serial, listener] : account->second)
                listener(now);
    }
}

void ChangeHub::publishToAll(qint64 now)
{
    std::lock_guard lock(m_mutex);
    for (const auto &[id, listeners] : m_listeners)
        for (const auto &[serial, listener] : listeners)
            listener(now);
}

size_t ChangeHub::listeners() const
{
    std::lock_guard lock(m_mutex);
    return m_count;
}

} // namespace clipvane::service
