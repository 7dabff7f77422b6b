#include "outbound/GoogleSignIn.h"

#include "outbound/OutboundHttp.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>

#include <algorithm>
#include <array>

namespace clipvane::service {

namespace {

constexpr qint64 kStateLifetimeMs = 10 * 60 * 1000;
constexpr std::size_t kStateBytes = 32; // 256 bits
constexpr int kGoogleTimeoutSeconds = 15;
constexpr qsizetype kMaxEmailLength = 254;
constexpr int kIdTokenParts = 3;

const std::string kStateExpired = "This sign-in link has expired or was already used. Please start the sign-in again.";
const std::string kNotConfigured = "Google sign-in is not configured on this service.";
const std::string kNoCode = "Google did not complete the sign-in. Please try again.";
const std::string kUnverified =
    "Your Google account's e-mail address is not verified. Verify it with Google, then sign in again.";
const std::string kNoEmail = "Google did not tell us your e-mail address. Please try again.";

QString randomState()
{
    std::array<quint32, kStateBytes / sizeof(quint32)> words{};
    QRandomGenerator::system()->fillRange(words.data(), words.size());
    const QByteArray bytes(reinterpret_cast<const char *>(words.data()), static_cast<qsizetype>(kStateBytes));
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

// Google sends email_verified as a JSON boolean; some of its endpoints have sent the text "true".
bool isTrue(const QJsonValue &value)
{
    return value.isBool() ? value.toBool() : value.toString() == u"true";
}

bool plausibleEmail(const QString &email)
{
    const qsizetype at = email.indexOf(u'@');
    return !email.isEmpty() && email.size() <= kMaxEmailLength && at > 0 && at == email.lastIndexOf(u'@') &&
           at < email.size() - 1 && !email.contains(u' ');
}

enum class EmailCheck { Verified, Unverified, Missing };

EmailCheck checkEmail(const QJsonObject &claims, QString *email)
{
    const QString address = claims.value(u"email").toString().trimmed();
    if (!plausibleEmail(address))
        return EmailCheck::Missing;
    if (!isTrue(claims.value(u"email_verified")))
        return EmailCheck::Unverified;
    *email = address;
    return EmailCheck::Verified;
}

// The ID token's claims. Its signature is not checked: the token came straight from Google's
// token endpoint over a verified TLS connection, in answer to our own client secret, so it
// cannot have been forged on the way. The audience is still checked, so a token minted for
// another client is never accepted.
std::optional<QJsonObject> idTokenClaims(const QString &idToken, const QString &clientId)
{
    const QStringList parts = idToken.split(u'.');
    if (parts.size() != kIdTokenParts)
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(parts.at(1).toLatin1(),
                                                        QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals |
                                                            QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(*decoded);
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject claims = document.object();
    const QJsonValue audience = claims.value(u"aud");
    const bool forUs = audience.isArray() ? audience.toArray().contains(clientId) : audience.toString() == clientId;
    if (!forUs)
        return std::nullopt;
    return claims;
}

} // namespace

GoogleSignIn::GoogleSignIn(GoogleConfig config, SignInStateStore &states)
    : m_config(std::move(config))
    , m_states(states)
{}

bool GoogleSignIn::configured() const
{
    return !m_config.clientId.trimmed().isEmpty() && !m_config.clientSecret.trimmed().isEmpty() &&
           !m_config.authBase.trimmed().isEmpty() && !m_config.tokenUrl.trimmed().isEmpty();
}

QString GoogleSignIn::authorisationUrl(const QString &redirectUri, const QString &appState)
{
    const QString state = randomState();
    m_states.remember(state, appState, kStateLifetimeMs);
    const std::string query = formEncode({{"response_type", "code"},
                                          {"client_id", m_config.clientId.trimmed().toStdString()},
                                          {"redirect_uri", redirectUri.toStdString()},
                                          {"scope", "openid email"},
                                          {"state", state.toStdString()},
                                          {"prompt", "select_account"}});
    const QString base = m_config.authBase.trimmed();
    return base + (base.contains(u'?') ? u'&' : u'?') + QString::fromStdString(query);
}

QString GoogleSignIn::takeAppState(const QString &state)
{
    return m_states.appState(state);
}

std::variant<QString, std::string> GoogleSignIn::complete(const QString &state, const QString &code,
                                                          const QString &redirectUri)
{
    if (!configured())
        return kNotConfigured;
    if (state.isEmpty() || !m_states.consume(state))
        return kStateExpired;
    if (code.isEmpty())
        return kNoCode;

    const HttpResult token = httpPostForm(m_config.tokenUrl.trimmed().toStdString(),
                                          {{"client_id", m_config.clientId.trimmed().toStdString()},
                                           {"client_secret", m_config.clientSecret.trimmed().toStdString()},
                                           {"code", code.toStdString()},
                                           {"redirect_uri", redirectUri.toStdString()},
                                           {"grant_type", "authorization_code"}},
                                          kGoogleTimeoutSeconds);
    if (token.status == 0)
        return "Could not reach Google (" + token.error + "). Please try again.";
    if (token.status != 200)
        return "Google did not accept the sign-in (status " + std::to_string(token.status) + "). Please try again.";
    const QJsonObject reply = QJsonDocument::fromJson(QByteArray::fromStdString(token.body)).object();

    bool sawUnverified = false;
    QString email;
    if (const auto claims = idTokenClaims(reply.value(u"id_token").toString(), m_config.clientId.trimmed())) {
        switch (checkEmail(*claims, &email)) {
        case EmailCheck::Verified:
            return email;
        case EmailCheck::Unverified:
            sawUnverified = true;
            break;
        case EmailCheck::Missing:
            break;
        }
    }

    const QString accessToken = reply.value(u"access_token").toString();
    if (!accessToken.isEmpty() && !m_config.userInfoUrl.trimmed().isEmpty()) {
        const HttpResult info =
            httpGet(m_config.userInfoUrl.trimmed().toStdString(),
                    {{"Authorization", "Bearer " + accessToken.toStdString()}, {"Accept", "application/json"}},
                    kGoogleTimeoutSeconds);
        if (info.status == 200) {
            const QJsonObject claims = QJsonDocument::fromJson(QByteArray::fromStdString(info.body)).object();
            switch (checkEmail(claims, &email)) {
            case EmailCheck::Verified:
                return email;
            case EmailCheck::Unverified:
                sawUnverified = true;
                break;
            case EmailCheck::Missing:
                break;
            }
        }
    }
    return sawUnverified ? kUnverified : kNoEmail;
}

} // namespace clipvane::service
