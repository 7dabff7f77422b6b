#include "api/EmailAddress.h"

#include <QRegularExpression>

namespace clipvane::service {

namespace {
constexpr qsizetype kMaxEmailLength = 254;
constexpr qsizetype kMaxLocalPartLength = 64;
} // namespace

std::optional<QString> normaliseEmail(const QString &text)
{
    static const QRegularExpression pattern(
        uR"(^[a-z0-9!#$%&'*+/=?^_`{|}~-]+(\.[a-z0-9!#$%&'*+/=?^_`{|}~-]+)*@[a-z0-9]([a-z0-9-]{0,61}[a-z0-9])?(\.[a-z0-9]([a-z0-9-]{0,61}[a-z0-9])?)+$)"_qs);
    const QString email = text.trimmed().toLower();
    if (email.size() > kMaxEmailLength || email.indexOf(u'@') > kMaxLocalPartLength)
        return std::nullopt;
    if (!pattern.match(email).hasMatch())
        return std::nullopt;
    return email;
}

} // namespace clipvane::service
