#pragma once

#include <QString>
#include <QStringView>
#include <functional>

namespace clipvane {

// A part of one line of a file, as handed to a link scan.
struct LinePiece
{
    QStringView text;
    qint64 line = 0;     // 1-based number of the line the piece belongs to
    qsizetype from = 0;  // a scan starts what it finds in [from, until) of text; the rest is
    qsizetype until = 0; // context either side, so a link across a window's edge is seen whole
    bool lineEnds = true;
};

// Cuts decoded text into lines, and a line longer than a window into overlapping windows, so a
// file of one enormous line is scanned in bounded memory. Every character lies in exactly one
// piece's [from, until); a link shorter than the overlap is seen whole in the piece it starts in.
class LineWindows
{
public:
    static constexpr qsizetype kWindow = 64 * 1024; // characters reported per window
    static constexpr qsizetype kAhead = 4096;       // seen after it: longer than any video link
    static constexpr qsizetype kBehind = 256;       // seen before it: the start of a link's text

    using Sink = std::function<void(const LinePiece &)>;

    // joinSoftBreaks: a line ending in "=" goes on in the next (quoted-printable mail).
    explicit LineWindows(Sink sink, bool joinSoftBreaks = false);

    void feed(QStringView text);
    // The last line, when the file does not end with a line break.
    void finish();

private:
    void emitLine(qsizetype end);

    Sink m_sink;
    bool m_joinSoftBreaks;
    // Text not yet reported; lines are taken from it by position and the taken part is dropped
    // once per feed, so a chunk of many short lines is not moved once per line.
    QString m_buffer;
    qsizetype m_start = 0;   // where the current line (or its kBehind context) starts in m_buffer
    qsizetype m_from = 0;    // where its unreported part starts
    qsizetype m_scanned = 0; // the line holds no line break before this
    qint64 m_number = 1;
    qint64 m_pieceLine = 1; // the line a joined line began on
};

} // namespace clipvane
