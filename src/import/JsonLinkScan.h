#pragma once

#include "LinkScan.h"

namespace clipvane {

// The video links in the strings of a JSON document, read as it streams past: a file of any
// size (or cut short) is read without holding it whole. In a watch history only each entry's
// "titleUrl" counts; its other links name channels and posts.
class JsonLinkScan : public LinkScan
{
public:
    // watchHistory: only the values of "titleUrl"; otherwise every link in every string value.
    JsonLinkScan(Sink sink, bool watchHistory);

    void take(const LinePiece &piece) override;
    void finish() override;

    // Longer strings are cut: no link is this long, and memory stays bounded.
    static constexpr qsizetype kMaxString = 16 * 1024;

private:
    void character(QChar c, qint64 line);
    void append(QChar c);
    void value(const QString &text, qint64 line);

    bool m_watchHistory;
    bool m_inString = false;
    bool m_escape = false;
    bool m_inHex = false;
    QString m_hex; // the digits of a \u escape so far
    QString m_string;
    qint64 m_stringLine = 0;
    // A string just closed: a key when ":" follows, else a value.
    bool m_closed = false;
    QString m_key;
};

} // namespace clipvane
