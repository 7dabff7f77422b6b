#pragma once

#include <QList>
#include <QString>

namespace clipvane {

class Video;

// What one row of the library list says, apart from how it is painted.
namespace RowText {

// A marked stretch of a title, in UTF-16 units of the title.
struct Range
{
    qsizetype start = 0;
    qsizetype length = 0;
    bool operator==(const Range &) const = default;
};

// Where the words of the search text occur in the title, word by word in the order typed, each
// word's hits from the start without overlapping one another. Hits are found in the title as the
// search compares it (lower-cased, composed) and carried back by counting user-perceived
// characters, so a mark never splits a character and never reaches past the end of the title,
// even where lower-casing changed the title's length. No words: no ranges.
QList<Range> highlightRanges(const QString &title, const QString &highlight);

// The symbol of the facts line for where the video was added from.
QString sourceSymbolName(const QString &source);

// The texts of the facts line: the upload date as stored, and a middle dot with the length when
// there is one ("2021-03-04 · 4:05").
QString factsText(const Video &video);

// What a screen reader says for a row: the title and the facts line, the symbols in words.
QString accessibleText(const Video &video, bool isPlaying);

} // namespace RowText

} // namespace clipvane
