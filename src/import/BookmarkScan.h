#pragma once

#include "LinkScan.h"

namespace clipvane {

// A browser's bookmarks in the Netscape bookmark format: the address of each bookmark
// (<DT><A HREF="...">) that is a video link, with its HTML entities decoded.
class BookmarkScan : public LinkScan
{
public:
    using LinkScan::LinkScan;

    void take(const LinePiece &piece) override;

    // &amp; &lt; &gt; &quot; &apos; and numeric references; anything else stays as written.
    static QString decodeEntities(QStringView text);
};

} // namespace clipvane
