#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

namespace clipvane {

// Reads a stream of server-sent events as its bytes arrive, in pieces of any size: lines end
// with CRLF, LF or CR (a CRLF may be split between two pieces), comments and unknown fields are
// skipped, data lines are joined with LF. A line or an event larger than its bound stops the
// parser for good: a hostile service sending an endless line must not grow memory without end,
// so the caller drops the stream and starts a new parser with the next one.
class EventStreamParser
{
public:
    struct Event
    {
        QByteArray type; // "message" when the event names none
        QByteArray data;
    };

    static constexpr qsizetype kMaxLineBytes = 16 * 1024;
    static constexpr qsizetype kMaxEventBytes = 64 * 1024;

    explicit EventStreamParser(qsizetype maxLineBytes = kMaxLineBytes, qsizetype maxEventBytes = kMaxEventBytes);

    // Appends the events the bytes complete to events. False once a bound was exceeded; every
    // later call is then false too.
    bool feed(QByteArrayView bytes, QList<Event> &events);
    bool failed() const { return m_failed; }

private:
    // One complete line (without its end); false when it broke the event's bound.
    bool takeLine(QByteArrayView line, QList<Event> &events);

    qsizetype m_maxLineBytes;
    qsizetype m_maxEventBytes;
    QByteArray m_line;
    QByteArray m_type;
    QByteArray m_data;
    bool m_hasData = false;
    bool m_afterCR = false;
    bool m_started = false;
    bool m_failed = false;
};

} // namespace clipvane
