#pragma once

#include <QByteArrayView>
#include <QStringConverter>

namespace clipvane {

// What a file handed to an import holds, told by its first bytes rather than by its name: a
// file called .txt may be a bookmarks export, and a playlist export may have lost its suffix.
namespace ImportFormat {

enum class Kind {
    text,         // any text: every link anywhere in each line
    playlistCsv,  // a video site's playlist export: a "Video ID" column, one video per row
    json,         // a JSON document: every link in its strings
    watchHistory, // a watch-history JSON: the watch link of each entry ("titleUrl")
    bookmarks,    // a browser's bookmarks in the Netscape bookmark format
};

struct Sniffed
{
    Kind kind = Kind::text;
    QStringConverter::Encoding encoding = QStringConverter::Utf8;
    bool binary = false;          // not text at all: refused before reading further
    bool quotedPrintable = false; // an e-mail whose lines are broken with "=" at their ends
};

// How many bytes sniff() wants to see (fewer when the file is shorter).
inline constexpr qsizetype kSniffBytes = 8192;

// head: the file's first bytes; atEnd: the file holds no more than these.
Sniffed sniff(QByteArrayView head, bool atEnd);

} // namespace ImportFormat

} // namespace clipvane
