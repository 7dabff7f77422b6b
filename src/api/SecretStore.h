#pragma once

#include <QString>
#include <optional>

namespace clipvane {

// The account keys of the two secrets the application holds.
namespace SecretKeys {
inline const QString token = QStringLiteral("life_api_token");
inline const QString email = QStringLiteral("life_email");
} // namespace SecretKeys

// A per-user secret store (the keychain). Calls are synchronous and bounded in time.
class SecretStore
{
public:
    virtual ~SecretStore() = default;

    // Replaces whatever is stored under account; true when the new value was written.
    virtual bool keychainSave(const QString &value, const QString &account) = 0;
    // None for a missing item and for every failure.
    virtual std::optional<QString> keychainRead(const QString &account) = 0;
    // The outcome is not reported.
    virtual void keychainDelete(const QString &account) = 0;
};

// The process-wide store, created on first use (after the application object exists):
// the secrets file inside a profile folder or where no Secret Service can be reached on the
// session bus, the platform keychain otherwise. Secrets never go into the settings files.
SecretStore &defaultSecretStore();

} // namespace clipvane
