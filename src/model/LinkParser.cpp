#include "LinkParser.h"

#include <QRegularExpression>

namespace clipvane {

namespace {

QString escapedHost(const char16_t *host)
{
    return QRegularExpression::escape(QString::fromUtf16(host));
}

const QRegularExpression &linkPattern()
{
    // \w covers letters and digits of every script, as ICU's does.
    static const QRegularExpression pattern(
        QStringLiteral("(?:%1/(?:watch\\?(?:.*&)?v=|shorts/|embed/|live/)|%2/)([\\w-]{6,})")
            .arg(escapedHost(Hosts::youtubeMain), escapedHost(Hosts::youtubeShort)),
        QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

const QRegularExpression &tailPattern()
{
    static const QRegularExpression pattern(QStringLiteral("([\\w-]{6,})$"),
                                            QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

} // namespace

std::optional<QString> youtubeID(QStringView from)
{
    const QRegularExpressionMatch link = linkPattern().match(from);
    if (!link.hasMatch())
        return std::nullopt;
    const QRegularExpressionMatch tail = tailPattern().match(link.capturedView(0));
    if (!tail.hasMatch())
        return std::nullopt;
    return tail.captured(1);
}

QString shortLink(const QString &youtubeID)
{
    return QStringLiteral("https://") + QString::fromUtf16(Hosts::youtubeShort) + QLatin1Char('/') + youtubeID;
}

} // namespace clipvane
