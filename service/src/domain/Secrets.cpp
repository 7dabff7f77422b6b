#include "domain/Secrets.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

namespace clipvane::service::Secrets {

namespace {

constexpr int kTokenWords = 8; // 8 x 32 bits
constexpr int kCodeWords = 3;

QString randomText(int words)
{
    QByteArray bytes(words * int(sizeof(quint32)), Qt::Uninitialized);
    QRandomGenerator::system()->generate(reinterpret_cast<quint32 *>(bytes.data()),
                                         reinterpret_cast<quint32 *>(bytes.data()) + words);
    return QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

} // namespace

QString newToken()
{
    return randomText(kTokenWords);
}

QString newCode()
{
    return randomText(kCodeWords);
}

QByteArray hash(const QString &secret)
{
    return QCryptographicHash::hash(secret.toUtf8(), QCryptographicHash::Sha256);
}

} // namespace clipvane::service::Secrets
