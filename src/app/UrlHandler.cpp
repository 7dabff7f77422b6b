#include "UrlHandler.h"

#include "GoogleAuth.h"
#include "LinkParser.h"
#include "OnboardedFlag.h"
#include "SyncEngine.h"
#include "VideoStore.h"

#include <QUrl>

namespace clipvane {

UrlHandler::UrlHandler(SyncEngine &sync, VideoStore &store, OnboardedFlag &onboarded, GoogleAuth *auth, QObject *parent)
    : QObject(parent)
    , m_sync(sync)
    , m_store(store)
    , m_onboarded(onboarded)
    , m_auth(auth)
{}

UrlHandler::Outcome UrlHandler::handle(const QString &text)
{
    const QUrl url(text.trimmed());
    if (url.isValid() && url.scheme().compare(GoogleAuth::kCallbackScheme, Qt::CaseInsensitive) == 0 &&
        url.host() == u"auth") {
        if (m_auth && m_auth->handleCallback(url))
            return Outcome::completedSignIn;
        if (const std::optional<QString> token = GoogleAuth::queryValue(url, QStringLiteral("token"))) {
            if (token->trimmed().isEmpty())
                return Outcome::refusedSignIn;
            const QString email = GoogleAuth::queryValue(url, QStringLiteral("email")).value_or(QString());
            Q_EMIT signInNeedsConfirmation(*token, email);
            return Outcome::awaitsConfirmation;
        }
    }

    // Links arrive percent-encoded from browsers and desktops; the parser reads plain text.
    const QString decoded = QUrl::fromPercentEncoding(text.toUtf8());
    if (!youtubeID(decoded))
        return Outcome::ignored;
    return m_sync.edits().add(decoded).inLibrary() ? Outcome::added : Outcome::refused;
}

void UrlHandler::applySignIn(const QString &token, const QString &email)
{
    m_sync.signIn(token, email);
    m_onboarded.set(true);
}

} // namespace clipvane
