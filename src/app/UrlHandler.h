#pragma once

#include <QObject>
#include <QString>

namespace clipvane {

class GoogleAuth;
class OnboardedFlag;
class SyncEngine;
class VideoStore;

// Everything opened into the running application: the sign-in callback
// (clipvaneshelf://auth?token=…&email=…&state=…) and any text that holds a YouTube link, from
// the browser, the desktop or `clipvane LINK` in a terminal.
//
// A callback that returns the state of the sign-in this application is waiting for completes
// that sign-in. Any other (a sign-in started elsewhere, or a link any program on the computer
// made up) is held for the person to confirm, signed in or not: applied unasked, it would put
// someone else's account in the window. A callback with an empty token is refused outright.
class UrlHandler : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        completedSignIn,    // handed to the waiting sign-in
        awaitsConfirmation, // signInNeedsConfirmation was emitted
        refusedSignIn,      // a callback without a usable token
        added,              // a video link was added (or was already there)
        refused,            // a video link whose ID the library refuses (the window says why)
        ignored,
    };

    UrlHandler(SyncEngine &sync, VideoStore &store, OnboardedFlag &onboarded, GoogleAuth *auth,
               QObject *parent = nullptr);

    Outcome handle(const QString &text);
    // Applies a callback's sign-in the user confirmed.
    void applySignIn(const QString &token, const QString &email);

Q_SIGNALS:
    void signInNeedsConfirmation(const QString &token, const QString &email);

private:
    SyncEngine &m_sync;
    VideoStore &m_store;
    OnboardedFlag &m_onboarded;
    GoogleAuth *m_auth;
};

} // namespace clipvane
