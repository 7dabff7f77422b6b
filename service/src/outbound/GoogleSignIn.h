#pragma once

#include "outbound/SignInStateStore.h"

#include <QString>

#include <string>
#include <variant>

namespace clipvane::service {

struct GoogleConfig
{
    QString clientId, clientSecret, authBase, tokenUrl, userInfoUrl;
};

// Google's authorisation-code flow, ending with a verified e-mail address.
class GoogleSignIn
{
public:
    // Waiting states live in states (shared by every instance of the service).
    GoogleSignIn(GoogleConfig config, SignInStateStore &states);

    bool configured() const;
    // The Google authorisation address for a fresh state (kept for 10 minutes).
    // appState: the application's own one-time value, handed back with the callback.
    QString authorisationUrl(const QString &redirectUri, const QString &appState = {});
    // The application's value that came with the sign-in of an authorisation state (removed).
    QString takeAppState(const QString &state);
    // Completes the flow: checks and consumes the state, exchanges the code, returns the
    // verified e-mail address, or an error text for the page.
    std::variant<QString /*email*/, std::string /*error*/> complete(const QString &state, const QString &code,
                                                                    const QString &redirectUri);

private:
    GoogleConfig m_config;
    SignInStateStore &m_states;
};

} // namespace clipvane::service
