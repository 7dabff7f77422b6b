#pragma once

#include "SecretStore.h"

#include <QHash>

namespace clipvane {

// Keeps secrets in memory only: for tests, and for callers that must not persist anything.
class MemorySecretStore : public SecretStore
{
public:
    bool keychainSave(const QString &value, const QString &account) override;
    std::optional<QString> keychainRead(const QString &account) override;
    void keychainDelete(const QString &account) override;

    // Makes every save fail as a locked or broken keychain would (nothing is written).
    void setFailWrites(bool fail) { m_failWrites = fail; }
    int readCount() const { return m_readCount; }

private:
    QHash<QString, QString> m_items;
    bool m_failWrites = false;
    int m_readCount = 0;
};

} // namespace clipvane
