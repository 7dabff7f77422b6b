#pragma once

#include "LinkScan.h"

#include <QCoreApplication>
#include <functional>

namespace clipvane {

// Reads one file of links of whatever format its content tells, in chunks, in bounded memory,
// whatever its size or the length of its lines. Used off the window's thread: it touches
// nothing but the file and the hooks.
class LinkFileReader
{
    Q_DECLARE_TR_FUNCTIONS(LinkFileReader)

public:
    static constexpr qint64 kChunk = 256 * 1024;

    struct Hooks
    {
        LinkScan::Sink found;
        std::function<void(qint64 bytes)> read; // bytes read since the last call
        std::function<bool()> cancelled;        // asked between chunks
    };

    // Reads every video link of the file. Empty when the file was read (or the read cancelled),
    // else why it could not be: not found, not a text file, no video link in it.
    static QString read(const QString &path, const Hooks &hooks);
};

} // namespace clipvane
