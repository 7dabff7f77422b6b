#include "TextLinkScan.h"

#include "LinkParser.h"

namespace clipvane {

namespace {

// Both hosts of a video link begin so; a line without it needs no closer look.
constexpr QStringView kHostStart = u"youtu";

} // namespace

TextLinkScan::TextLinkScan(Sink sink, bool quotedPrintable)
    : LinkScan(std::move(sink))
    , m_quotedPrintable(quotedPrintable)
{}

bool TextLinkScan::endsLink(QChar c)
{
    switch (c.unicode()) {
    case u'"':
    case u'\'':
    case u'<':
    case u'>':
    case u'(':
    case u')':
    case u'[':
    case u']':
    case u'{':
    case u'}':
    case u'|':
    case u',':
    case u'`':
        return true;
    default:
        return c.isSpace();
    }
}

void TextLinkScan::take(const LinePiece &piece)
{
    const QStringView text = piece.text;
    qsizetype at = piece.from;
    while ((at = text.indexOf(kHostStart, at)) >= 0 && at < piece.until) {
        // The link's text around the host, within the piece's context on either side.
        qsizetype start = at;
        const qsizetype earliest = std::max<qsizetype>(0, at - LineWindows::kBehind);
        while (start > earliest && !endsLink(text[start - 1]))
            --start;
        qsizetype end = at;
        const qsizetype latest = std::min(text.size(), at + LineWindows::kAhead);
        while (end < latest && !endsLink(text[end]))
            ++end;
        QString link = text.sliced(start, end - start).toString();
        if (m_quotedPrintable)
            link.replace(u"=3D"_qs, u"="_qs, Qt::CaseInsensitive);
        if (youtubeID(link))
            found(FoundLink{link, piece.line, QString()});
        at = end;
    }
}

} // namespace clipvane
