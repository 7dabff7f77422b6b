#pragma once

#include "LinkScan.h"

namespace clipvane {

// Every video link anywhere in text of any kind: notes, Markdown, CSV, mail.
class TextLinkScan : public LinkScan
{
public:
    // quotedPrintable: "=3D" in a link stands for "=" (its soft line breaks are joined before).
    TextLinkScan(Sink sink, bool quotedPrintable = false);

    void take(const LinePiece &piece) override;

    // Characters no link is written with, which end a link in running text, CSV, Markdown or HTML.
    static bool endsLink(QChar c);

private:
    bool m_quotedPrintable;
};

} // namespace clipvane
