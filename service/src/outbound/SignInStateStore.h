#pragma once

#include <QString>

namespace clipvane::service {

// Where sign-ins waiting for Google keep their state. The service keeps them in its database,
// so a sign-in may start on one instance and come back to another.
class SignInStateStore
{
public:
    virtual ~SignInStateStore() = default;

    // Keeps state (with the application's own value, if any) for lifetimeMs.
    virtual void remember(const QString &state, const QString &appState, qint64 lifetimeMs) = 0;
    // The application's value of a waiting state (empty when none).
    virtual QString appState(const QString &state) = 0;
    // Removes state; true when it was waiting and has not expired.
    virtual bool consume(const QString &state) = 0;
};

} // namespace clipvane::service
