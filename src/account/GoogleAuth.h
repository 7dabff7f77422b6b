#pragma once

#include <QObject>
#include <QString>
#include <QUrl>
#include <functional>
#include <optional>
#include <qcorotask.h>

namespace clipvane {

// Signs the user in through the service's sign-in page, opened in the user's own browser
// (an embedded page is refused by Google, and the browser is where the user's accounts are).
// The page ends by sending the browser to clipvaneshelf://auth?token=…&email=…&state=…, which
// reaches the running application as an opened URL and is handed to handleCallback().
//
// Every sign-in carries a fresh one-time state value; only a callback that returns it
// completes that sign-in, so a page cannot complete it with an account of its own choosing.
class GoogleAuth : public QObject
{
    Q_OBJECT

public:
    static inline const QString kCallbackScheme = QStringLiteral("clipvaneshelf");
    static inline const QString kSignInPath = QStringLiteral("/gauth/login.php");

    struct Result
    {
        enum class Outcome {
            signedIn,
            cancelled,          // replaced by a newer sign-in: nothing to tell the user
            browserUnavailable, // no browser could be opened
            badResponse,        // the callback lacked a token or an e-mail
        };
        Outcome outcome = Outcome::cancelled;
        QString token;
        QString email;
    };

    // Opens an address in the user's browser; false when none could be opened.
    using Opener = std::function<bool(const QUrl &)>;

    // origin: the service's web origin (the API base without "/api"). Without an opener the
    // user's browser is opened and its opener's exit tells whether one was found.
    explicit GoogleAuth(QUrl origin, Opener opener = {}, QObject *parent = nullptr);
    ~GoogleAuth() override;

    // Opens the sign-in page and completes when its callback arrives. A newer signIn() ends a
    // waiting one with Outcome::cancelled.
    QCoro::Task<Result> signIn();

    // Whether a sign-in is waiting for its callback.
    bool isWaiting() const { return !m_pendingState.isEmpty(); }

    // Completes the waiting sign-in when the callback carries its state; true when it did.
    bool handleCallback(const QUrl &callback);

    // The token and e-mail of a callback, when both are present with values (an empty value
    // counts): the first item of each name, in any order, among any others.
    static std::optional<std::pair<QString, QString>> parseCallback(const QUrl &callback);
    // The first value of a query item, or none when the item is missing or has no value.
    static std::optional<QString> queryValue(const QUrl &url, const QString &name);

    QUrl signInAddress(const QString &state) const;

Q_SIGNALS:
    void attemptFinished(quint64 attempt, const clipvane::GoogleAuth::Result &result);

private:
    void finish(Result result);

    QUrl m_origin;
    std::function<QCoro::Task<bool>(QUrl)> m_opener;
    QString m_pendingState;
    quint64 m_attempt = 0;
    // How the current attempt ended, when it ended while its browser was still being opened.
    std::optional<Result> m_outcome;
};

} // namespace clipvane
