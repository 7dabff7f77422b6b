#include "domain/VideoLink.h"

#include "ForeignID.h"
#include "LinkParser.h"
#include "VideoLimits.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QUrl>

namespace clipvane::service {

namespace {

constexpr qsizetype kHashDigits = 10;
constexpr qsizetype kMaxLinkLength = clipvane::kMaxVideoUrlLength;

bool isWebLink(const QString &text)
{
    if (text.isEmpty() || text.size() > kMaxLinkLength)
        return false;
    for (const QChar c : text)
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return false;
    const QUrl url(text, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"http"_qs || scheme == u"https"_qs) && !url.host().isEmpty();
}

} // namespace

QString VideoLink::fallbackTitle() const
{
    return youtube ? u"YouTube video "_qs + youtubeId : url;
}

std::optional<VideoLink> VideoLink::fromText(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || trimmed.size() > kMaxLinkLength)
        return std::nullopt;
    if (const auto id = clipvane::youtubeID(trimmed)) {
        if (!clipvane::isVideoID(*id))
            return std::nullopt;
        return VideoLink{*id, isWebLink(trimmed) ? trimmed : clipvane::shortLink(*id), true};
    }
    if (!isWebLink(trimmed))
        return std::nullopt;
    const QByteArray digest = QCryptographicHash::hash(trimmed.toUtf8(), QCryptographicHash::Sha256).toHex();
    return VideoLink{QString::fromUtf16(clipvane::kForeignIDPrefix) + QString::fromLatin1(digest.left(kHashDigits)),
                     trimmed, false};
}

std::optional<VideoLink> VideoLink::fromMessage(const QString &text)
{
    if (text.size() > kMaxLinkLength)
        return std::nullopt;
    if (const auto id = clipvane::youtubeID(text)) {
        if (!clipvane::isVideoID(*id))
            return std::nullopt;
        return VideoLink{*id, clipvane::shortLink(*id), true};
    }
    static const QRegularExpression words(u"\\s+"_qs);
    for (const QString &word : text.split(words, Qt::SkipEmptyParts)) {
        if (word.startsWith(u"http://"_qs, Qt::CaseInsensitive) || word.startsWith(u"https://"_qs, Qt::CaseInsensitive))
            return fromText(word);
    }
    return std::nullopt;
}

} // namespace clipvane::service
