#include "JsonLinkScan.h"

#include "LinkParser.h"

namespace clipvane {

JsonLinkScan::JsonLinkScan(Sink sink, bool watchHistory)
    : LinkScan(std::move(sink))
    , m_watchHistory(watchHistory)
{}

void JsonLinkScan::take(const LinePiece &piece)
{
    for (qsizetype i = piece.from; i < piece.until; ++i)
        character(piece.text[i], piece.line);
    // A string never holds a raw line break; one that does is broken, and taken as it is.
    if (piece.lineEnds && m_inString)
        character(u'\n', piece.line);
}

void JsonLinkScan::finish()
{
    if (m_closed)
        value(m_string, m_stringLine);
    m_closed = false;
}

void JsonLinkScan::character(QChar c, qint64 line)
{
    if (m_inString) {
        if (m_inHex) {
            m_hex.append(c);
            if (m_hex.size() == 4) {
                bool ok = false;
                const ushort unit = m_hex.toUShort(&ok, 16);
                append(ok ? QChar(unit) : QChar(QChar::ReplacementCharacter));
                m_hex.clear();
                m_inHex = false;
            }
        } else if (m_escape) {
            m_escape = false;
            switch (c.unicode()) {
            case u'u':
                m_inHex = true;
                break;
            case u'n':
                append(u'\n');
                break;
            case u't':
                append(u'\t');
                break;
            case u'r':
            case u'b':
            case u'f':
                append(u' ');
                break;
            default: // \" \\ \/ and anything else stands for itself
                append(c);
            }
        } else if (c == u'\\') {
            m_escape = true;
        } else if (c == u'"' || c == u'\n') {
            m_inString = false;
            m_closed = true;
        } else {
            append(c);
        }
        return;
    }
    if (c.isSpace())
        return;
    if (m_closed) {
        m_closed = false;
        if (c == u':')
            m_key = m_string;
        else
            value(m_string, m_stringLine);
    }
    if (c == u'"') {
        m_inString = true;
        m_string.clear();
        m_stringLine = line;
    }
}

void JsonLinkScan::append(QChar c)
{
    if (m_string.size() < kMaxString)
        m_string.append(c);
}

void JsonLinkScan::value(const QString &text, qint64 line)
{
    if (m_watchHistory) {
        if (m_key == u"titleUrl" && youtubeID(text))
            found(FoundLink{text, line, QString()});
        return;
    }
    for (const QString &link : linkTexts(text))
        found(FoundLink{link, line, QString()});
}

} // namespace clipvane
