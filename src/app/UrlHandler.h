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
// that sign-in. One without it (a sign-in started elsewhere) is applied at once while nobody is
// signed in; while someone is, a page could otherwise swap the account under the user's feet,
// so it is held for the user to confirm.
class UrlHandler : public QObject
{
    Q_OBJECT

public:
    enum class Outcome {
        completedSignIn,    // handed to the waiting sign-in
        signedIn,           // applied: signed in and onboarded
        awaitsConfirmation, // signInNeedsConfirmation was emitted
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
