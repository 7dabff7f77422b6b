#pragma once

#include <QByteArray>
#include <QString>

namespace clipvane::service {

// Bearer tokens and one-time codes, from the operating system's random source.
namespace Secrets {

QString newToken();                     // 256 bits, base64url without padding
QString newCode();                      // 96 bits, base64url: fits a Telegram start parameter
QByteArray hash(const QString &secret); // SHA-256; only this is ever stored

} // namespace Secrets

} // namespace clipvane::service
