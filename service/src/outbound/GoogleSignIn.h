#pragma once

#include <QString>

#include <chrono>
#include <map>
#include <mutex>
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
    explicit GoogleSignIn(GoogleConfig config);

    bool configured() const;
    // The Google authorisation address for a fresh state (state kept in memory, expires after 10 minutes).
    // appState: the application's own one-time value, handed back with the callback.
    QString authorisationUrl(const QString &redirectUri, const QString &appState = {});
    // The application's value that came with the sign-in of an authorisation state (removed).
    QString takeAppState(const QString &state);
    // Completes the flow: checks and consumes the state, exchanges the code, returns the
    // verified e-mail address, or an error text for the page.
    std::variant<QString /*email*/, std::string /*error*/> complete(const QString &state, const QString &code,
                                                                    const QString &redirectUri);

private:
    using Clock = std::chrono::steady_clock;
    bool consumeState(const QString &state);

    GoogleConfig m_config;
    std::mutex m_mutex;
    std::map<QString, Clock::time_point> m_states; // state -> expiry
    std::map<QString, QString> m_appStates;        // state -> the application's value, if any
};

} // namespace clipvane::service
