#include "BookmarkScan.h"

#include "LinkParser.h"

namespace clipvane {

namespace {

constexpr QStringView kHref = u"href=";

// The longest entity read: "&#x10FFFF;".
constexpr qsizetype kLongestEntity = 10;

} // namespace

QString BookmarkScan::decodeEntities(QStringView text)
{
    QString decoded;
    decoded.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype semicolon = text[i] == u'&' ? text.indexOf(u';', i) : -1;
        if (semicolon < 0 || semicolon - i > kLongestEntity) {
            decoded.append(text[i]);
            continue;
        }
        const QStringView name = text.sliced(i + 1, semicolon - i - 1);
        char32_t code = 0;
        if (name == u"amp")
            code = u'&';
        else if (name == u"lt")
            code = u'<';
        else if (name == u"gt")
            code = u'>';
        else if (name == u"quot")
            code = u'"';
        else if (name == u"apos")
            code = u'\'';
        else if (name.startsWith(u'#')) {
            bool ok = false;
            const bool hex = name.size() > 1 && (name[1] == u'x' || name[1] == u'X');
            const uint number = name.sliced(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
            if (ok && number > 0 && number <= 0x10FFFF && (number < 0xD800 || number > 0xDFFF))
                code = number;
        }
        if (code == 0) {
            decoded.append(text[i]);
            continue;
        }
        decoded.append(QString::fromUcs4(&code, 1));
        i = semicolon;
    }
    return decoded;
}

void BookmarkScan::take(const LinePiece &piece)
{
    const QStringView text = piece.text;
    qsizetype at = piece.from;
    while ((at = text.indexOf(kHref, at, Qt::CaseInsensitive)) >= 0 && at < piece.until) {
        qsizetype start = at + kHref.size();
        const QChar quote = start < text.size() ? text[start] : QChar();
        const bool quoted = quote == u'"' || quote == u'\'';
        if (quoted)
            ++start;
        qsizetype end = start;
        const qsizetype latest = std::min(text.size(), start + LineWindows::kAhead);
        while (end < latest && (quoted ? text[end] != quote : !text[end].isSpace() && text[end] != u'>'))
            ++end;
        const QString link = decodeEntities(text.sliced(start, end - start));
        if (youtubeID(link))
            found(FoundLink{link, piece.line, QString()});
        at = end;
    }
}

} // namespace clipvane
