// The claims of the sign-in's ID token and the user-info reply, as Google hands them over.
// The readers live inside the sign-in's source, so it is compiled into this target whole.
#include "outbound/GoogleSignIn.cpp" // NOLINT(bugprone-suspicious-include)

#include <cstddef>
#include <cstdint>

using namespace clipvane::service;

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

const QString kClientId = QStringLiteral("client.apps.googleusercontent.com");

void checkClaims(const QJsonObject &claims)
{
    QString email;
    if (checkEmail(claims, &email) == EmailCheck::Verified) {
        require(plausibleEmail(email));
        require(email == email.trimmed());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    // The bytes as the token itself, and as the claims inside a well-formed token.
    const QString asToken = QString::fromUtf8(bytes);
    if (const auto claims = idTokenClaims(asToken, kClientId))
        checkClaims(*claims);
    const QString wrapped =
        QStringLiteral("e30.") +
        QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals)) +
        QStringLiteral(".c2ln");
    if (const auto claims = idTokenClaims(wrapped, kClientId)) {
        const QJsonValue audience = claims->value(u"aud");
        require(audience.isArray() ? audience.toArray().contains(kClientId) : audience.toString() == kClientId);
        checkClaims(*claims);
    }
    // The user-info reply is read by the same e-mail check.
    checkClaims(QJsonDocument::fromJson(bytes).object());
    return 0;
}
