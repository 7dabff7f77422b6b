#include "LineWindows.h"

namespace clipvane {

LineWindows::LineWindows(Sink sink, bool joinSoftBreaks)
    : m_sink(std::move(sink))
    , m_joinSoftBreaks(joinSoftBreaks)
{}

void LineWindows::feed(QStringView text)
{
    m_buffer.append(text);
    for (;;) {
        const qsizetype lineBreak = m_buffer.indexOf(u'\n', m_scanned);
        if (lineBreak >= 0) {
            qsizetype end = lineBreak;
            if (end > m_from && m_buffer.at(end - 1) == u'\r')
                --end;
            if (m_joinSoftBreaks && end > m_from && m_buffer.at(end - 1) == u'=') {
                // The break and its "=" never were part of the text.
                m_buffer.remove(end - 1, lineBreak + 1 - (end - 1));
                m_scanned = end - 1;
                ++m_number;
                continue;
            }
            emitLine(end);
            m_start = m_from = m_scanned = lineBreak + 1;
            m_pieceLine = ++m_number;
            continue;
        }
        m_scanned = m_buffer.size();
        if (m_buffer.size() - m_from < kWindow + kAhead)
            break;
        // A window of a long line: reported up to kWindow, seen kAhead further.
        const qsizetype until = m_from + kWindow;
        m_sink(LinePiece{QStringView(m_buffer).sliced(m_start, until + kAhead - m_start), m_pieceLine, m_from - m_start,
                         until - m_start, false});
        m_start = until - kBehind;
        m_from = until;
    }
    m_buffer.remove(0, m_start);
    m_from -= m_start;
    m_scanned -= m_start;
    m_start = 0;
}

void LineWindows::finish()
{
    if (m_buffer.size() > m_from || m_from > 0) {
        qsizetype end = m_buffer.size();
        if (end > m_from && m_buffer.at(end - 1) == u'\r')
            --end;
        emitLine(end);
    }
    m_buffer.clear();
    m_start = m_from = m_scanned = 0;
}

void LineWindows::emitLine(qsizetype end)
{
    m_sink(LinePiece{QStringView(m_buffer).sliced(m_start, end - m_start), m_pieceLine, m_from - m_start, end - m_start,
                     true});
}

} // namespace clipvane
