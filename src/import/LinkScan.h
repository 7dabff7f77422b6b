#pragma once

#include "LineWindows.h"

#include <QString>
#include <functional>

namespace clipvane {

// A video link (or a video ID the reader already refuses) found in a file.
struct FoundLink
{
    QString text;    // what is handed to the library: the link as written, or one made of an ID
    qint64 line = 0; // 1-based
    QString refusal; // not empty: no video of this row can be added, and why
};

// Finds the video links of one file format in the pieces of a file, in order.
class LinkScan
{
public:
    using Sink = std::function<void(FoundLink)>;

    explicit LinkScan(Sink sink)
        : m_sink(std::move(sink))
    {}
    virtual ~LinkScan() = default;
    LinkScan(const LinkScan &) = delete;
    LinkScan &operator=(const LinkScan &) = delete;

    virtual void take(const LinePiece &piece) = 0;
    // The file ended (perhaps in the middle of something).
    virtual void finish() {}

protected:
    void found(FoundLink link) { m_sink(std::move(link)); }

private:
    Sink m_sink;
};

} // namespace clipvane
