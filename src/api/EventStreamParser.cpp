#include "EventStreamParser.h"

namespace clipvane {

namespace {

constexpr QByteArrayView kByteOrderMark("\xEF\xBB\xBF");

} // namespace

EventStreamParser::EventStreamParser(qsizetype maxLineBytes, qsizetype maxEventBytes)
    : m_maxLineBytes(maxLineBytes)
    , m_maxEventBytes(maxEventBytes)
{}

bool EventStreamParser::feed(QByteArrayView bytes, QList<Event> &events)
{
    if (m_failed)
        return false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c != '\n' && c != '\r')
            continue;
        // The LF of a CRLF whose CR ended the previous piece, or the line before.
        const bool secondHalf = c == '\n' && m_afterCR && i == start && m_line.isEmpty();
        m_afterCR = c == '\r';
        if (secondHalf) {
            start = i + 1;
            continue;
        }
        const QByteArrayView rest = bytes.sliced(start, i - start);
        if (m_line.size() + rest.size() > m_maxLineBytes) {
            m_failed = true;
            return false;
        }
        bool kept = true;
        if (m_line.isEmpty()) {
            kept = takeLine(rest, events);
        } else {
            m_line.append(rest);
            kept = takeLine(m_line, events);
            m_line.clear();
        }
        if (!kept) {
            m_failed = true;
            return false;
        }
        start = i + 1;
    }
    if (start < bytes.size()) {
        // A CR at the very end of a piece leaves m_afterCR for the next piece's first byte.
        m_afterCR = false;
        if (m_line.size() + (bytes.size() - start) > m_maxLineBytes) {
            m_failed = true;
            return false;
        }
        m_line.append(bytes.sliced(start));
    }
    return true;
}

bool EventStreamParser::takeLine(QByteArrayView line, QList<Event> &events)
{
    if (!m_started) {
        m_started = true;
        if (line.startsWith(kByteOrderMark))
            line = line.sliced(kByteOrderMark.size());
    }
    if (line.isEmpty()) {
        if (m_hasData)
            events.append({m_type.isEmpty() ? QByteArrayLiteral("message") : m_type, m_data});
        m_type.clear();
        m_data.clear();
        m_hasData = false;
        return true;
    }
    if (line.startsWith(':'))
        return true;
    const qsizetype colon = line.indexOf(':');
    const QByteArrayView field = colon < 0 ? line : line.first(colon);
    QByteArrayView value = colon < 0 ? QByteArrayView() : line.sliced(colon + 1);
    if (value.startsWith(' '))
        value = value.sliced(1);
    if (field == "event") {
        m_type = value.toByteArray();
    } else if (field == "data") {
        if (m_data.size() + value.size() + 1 > m_maxEventBytes)
            return false;
        if (m_hasData)
            m_data.append('\n');
        m_data.append(value);
        m_hasData = true;
    }
    // "id", "retry" and unknown fields: this client resumes with a pull, not with event IDs,
    // and keeps its own back-off.
    return true;
}

} // namespace clipvane
