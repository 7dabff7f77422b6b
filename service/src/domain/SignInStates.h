#pragma once

#include "outbound/SignInStateStore.h"

#include <QString>

namespace clipvane::service {

class Storage;

// The states of sign-ins waiting for Google, in the database: the sign-in may start on one
// service instance and come back to another.
class SignInStates : public SignInStateStore
{
public:
    explicit SignInStates(Storage &storage);

    // Keeps state (with the application's own value, if any) for lifetimeMs. The oldest go
    // first when too many wait.
    void remember(const QString &state, const QString &appState, qint64 lifetimeMs) override;
    // The application's value of a waiting state (empty when none).
    QString appState(const QString &state) override;
    // Removes state; true when it was waiting and has not expired.
    bool consume(const QString &state) override;

private:
    Storage &m_storage;
};

} // namespace clipvane::service
