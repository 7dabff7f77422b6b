#include "MemorySecretStore.h"

namespace clipvane {

bool MemorySecretStore::keychainSave(const QString &value, const QString &account)
{
    if (m_failWrites) {
        // Like the keychain: the old item is removed before the new one fails to go in.
        m_items.remove(account);
        return false;
    }
    m_items.insert(account, value);
    return true;
}

std::optional<QString> MemorySecretStore::keychainRead(const QString &account)
{
    ++m_readCount;
    const auto found = m_items.constFind(account);
    if (found == m_items.constEnd())
        return std::nullopt;
    return *found;
}

void MemorySecretStore::keychainDelete(const QString &account)
{
    m_items.remove(account);
}

} // namespace clipvane
