#pragma once

#include "SecretStore.h"

#include <QJsonObject>
#include <QString>

namespace clipvane {

// Keeps the secrets in one JSON file readable by the user alone (mode 0600 from the moment it
// exists), for sessions without a keychain and for profile folders. Every write replaces the
// whole file atomically, so a crash leaves either the old or the new secrets, never half.
class FileSecretStore : public SecretStore
{
public:
    // The file sits in the application's config folder by default (AppPaths::secretsFilePath()).
    explicit FileSecretStore(QString path);
    FileSecretStore();

    bool keychainSave(const QString &value, const QString &account) override;
    std::optional<QString> keychainRead(const QString &account) override;
    void keychainDelete(const QString &account) override;

    QString path() const { return m_path; }

private:
    // None when the file is missing, unreadable, oversized or not a JSON object.
    std::optional<QJsonObject> load() const;
    bool store(const QJsonObject &items) const;

    QString m_path;
};

} // namespace clipvane
