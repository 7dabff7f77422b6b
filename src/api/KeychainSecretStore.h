#pragma once

#include "SecretStore.h"

#include <chrono>

namespace clipvane {

// The platform keychain through QtKeychain (the Secret Service on Linux), one item per
// account under the application's id. Every call waits at most `timeout`: a locked keyring
// may open a prompt nobody sees and never answer, and a call that does not answer in time
// counts as failed. Needs the application object and runs a local event loop while it waits.
class KeychainSecretStore : public SecretStore
{
public:
    static constexpr std::chrono::milliseconds kDefaultTimeout{3000};

    explicit KeychainSecretStore(QString service, std::chrono::milliseconds timeout = kDefaultTimeout);
    KeychainSecretStore();

    bool keychainSave(const QString &value, const QString &account) override;
    std::optional<QString> keychainRead(const QString &account) override;
    void keychainDelete(const QString &account) override;

    // Whether a Secret Service is running or can be started on the session bus.
    static bool serviceReachable();

private:
    QString m_service;
    std::chrono::milliseconds m_timeout;
};

} // namespace clipvane
