#include "LinkParser.h"

#include <QRegularExpression>

namespace clipvane {

namespace {

QString escapedHost(const char16_t *host)
{
    return QRegularExpression::escape(QString::fromUtf16(host));
}

// The characters of an ID run: word characters as ICU defines them (letters and combining marks
// of every script, decimal digits, connector punctuation, the zero-width (non-)joiner) and "-".
// PCRE's own \w would cut a run at a combining mark.
constexpr char kIDCharacters[] = "[\\p{Alphabetic}\\p{M}\\p{Nd}\\p{Pc}\\x{200C}\\x{200D}-]";

const QRegularExpression &linkPattern()
{
    // (*ANY): "." stops at every line break ICU knows (CR, LF, VT, FF, NEL, LS, PS), not at LF
    // alone, so "watch?…&v=" never reaches across lines.
    static const QRegularExpression pattern(
        QStringLiteral("(*ANY)(?:%1/(?:watch\\?(?:.*&)?v=|shorts/|embed/|live/)|%2/)"
                       "(%3{6,})")
            .arg(escapedHost(Hosts::youtubeMain), escapedHost(Hosts::youtubeShort), QLatin1String(kIDCharacters)),
        QRegularExpression::UseUnicodePropertiesOption);
    return pattern;
}

bool isWellFormed(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            return false;
    }
    return true;
}

// Text with an unpaired surrogate (from a damaged clipboard or a file) is searched as if
// that code unit were U+FFFD; the regular-expression engine refuses malformed UTF-16.
QString wellFormed(QStringView text)
{
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            result.append(c);
            result.append(text[++i]);
        } else {
            result.append(c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : c);
        }
    }
    return result;
}

} // namespace

std::optional<QString> youtubeID(QStringView from)
{
    // The first match ends with the greedy ID run, right after "/" or "=", so the run at the
    // end of the matched text is exactly the captured run.
    const QRegularExpressionMatch link =
        isWellFormed(from) ? linkPattern().match(from) : linkPattern().match(wellFormed(from));
    if (!link.hasMatch())
        return std::nullopt;
    return link.captured(1);
}

QStringList linkTexts(QStringView text)
{
    QStringList links;
    for (const QStringView piece : text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts)) {
        if (youtubeID(piece))
            links.append(piece.toString());
    }
    return links;
}

bool isYouTubeIDText(QStringView text)
{
    static const QRegularExpression whole(
        QRegularExpression::anchoredPattern(QLatin1String(kIDCharacters) + QLatin1String("{6,}")),
        QRegularExpression::UseUnicodePropertiesOption);
    return isWellFormed(text) && whole.match(text).hasMatch();
}

bool isVideoID(QStringView id)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QLatin1String(kIDCharacters) + QLatin1Char('+')),
        QRegularExpression::UseUnicodePropertiesOption);
    return !id.isEmpty() && id.size() <= kMaxVideoIDLength && isWellFormed(id) && pattern.match(id).hasMatch();
}

QString shortLink(const QString &youtubeID)
{
    return QStringLiteral("https://") + QString::fromUtf16(Hosts::youtubeShort) + QLatin1Char('/') + youtubeID;
}

} // namespace clipvane
