#include "ImportFormat.h"

#include <QList>
#include <QString>
#include <QStringDecoder>

namespace clipvane::ImportFormat {

namespace {

// The number of bytes at the end of head that may begin a UTF-8 sequence cut off by the end of
// the sniffed part, rather than a broken one.
qsizetype cutSequence(QByteArrayView head)
{
    for (qsizetype back = 1; back <= 3 && back <= head.size(); ++back) {
        const auto byte = static_cast<unsigned char>(head[head.size() - back]);
        if ((byte & 0xC0) != 0x80) // a lead byte (or ASCII): the sequence starts here
            return (byte & 0xC0) == 0xC0 ? back : 0;
    }
    return 0;
}

bool isUtf8(QByteArrayView bytes)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    return !decoder.hasError();
}

// The first line of the playlist export's video list names the ID column first; older exports
// put a few lines about the playlist above it.
bool hasPlaylistHeader(QStringView text)
{
    for (QStringView line : text.split(u'\n')) {
        line = line.trimmed();
        if (line.startsWith(u'"'))
            line = line.mid(1);
        if (line.startsWith(u"video id", Qt::CaseInsensitive)) {
            const QStringView rest = line.mid(8);
            if (rest.isEmpty() || rest.startsWith(u',') || rest.startsWith(u'"'))
                return true;
        }
    }
    return false;
}

bool looksLikeJson(QStringView text)
{
    text = text.trimmed();
    if (!text.startsWith(u'[') && !text.startsWith(u'{'))
        return false;
    // "[title](address)" opens many a Markdown file; a JSON document goes on with a string,
    // an object, an array or its end.
    const QStringView next = text.mid(1).trimmed();
    return next.isEmpty() || next.startsWith(u'"') || next.startsWith(u'{') || next.startsWith(u'[') ||
           next.startsWith(u']') || next.startsWith(u'}');
}

} // namespace

Sniffed sniff(QByteArrayView head, bool atEnd)
{
    Sniffed sniffed;
    QByteArrayView body = head;
    if (head.startsWith("\xEF\xBB\xBF")) {
        body = head.sliced(3);
    } else if (head.startsWith("\xFF\xFE")) {
        sniffed.encoding = QStringConverter::Utf16LE;
    } else if (head.startsWith("\xFE\xFF")) {
        sniffed.encoding = QStringConverter::Utf16BE;
    }
    if (sniffed.encoding == QStringConverter::Utf8 && body.contains('\0')) {
        sniffed.binary = true;
        return sniffed;
    }

    QString text;
    if (sniffed.encoding == QStringConverter::Utf8) {
        const QByteArrayView whole = atEnd ? body : body.first(body.size() - cutSequence(body));
        if (!isUtf8(whole)) {
            sniffed.binary = true;
            return sniffed;
        }
        text = QString::fromUtf8(whole);
    } else {
        QStringDecoder decoder(sniffed.encoding);
        text = decoder.decode(head.first(head.size() & ~qsizetype(1)));
        // Control characters other than line breaks and tabs say it is no text after all.
        const qsizetype controls = std::count_if(text.cbegin(), text.cend(), [](QChar c) {
            return c.unicode() < 0x20 && c != u'\n' && c != u'\r' && c != u'\t';
        });
        if (controls > 0) {
            sniffed.binary = true;
            return sniffed;
        }
    }

    if (text.contains(u"<!DOCTYPE NETSCAPE-Bookmark-file-1>", Qt::CaseInsensitive))
        sniffed.kind = Kind::bookmarks;
    else if (looksLikeJson(text))
        sniffed.kind = text.contains(u"\"titleUrl\"") ? Kind::watchHistory : Kind::json;
    else if (hasPlaylistHeader(text))
        sniffed.kind = Kind::playlistCsv;
    sniffed.quotedPrintable = sniffed.kind == Kind::text &&
                              text.contains(u"Content-Transfer-Encoding: quoted-printable", Qt::CaseInsensitive);
    return sniffed;
}

} // namespace clipvane::ImportFormat
