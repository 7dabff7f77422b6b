#include "LinkFileReader.h"

#include "BookmarkScan.h"
#include "ImportFormat.h"
#include "JsonLinkScan.h"
#include "PlaylistCsvScan.h"
#include "TextLinkScan.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <memory>

namespace clipvane {

namespace {

std::unique_ptr<LinkScan> scanFor(const ImportFormat::Sniffed &sniffed, LinkScan::Sink sink)
{
    switch (sniffed.kind) {
    case ImportFormat::Kind::playlistCsv:
        return std::make_unique<PlaylistCsvScan>(std::move(sink));
    case ImportFormat::Kind::json:
    case ImportFormat::Kind::watchHistory:
        return std::make_unique<JsonLinkScan>(std::move(sink), sniffed.kind == ImportFormat::Kind::watchHistory);
    case ImportFormat::Kind::bookmarks:
        return std::make_unique<BookmarkScan>(std::move(sink));
    case ImportFormat::Kind::text:
        break;
    }
    return std::make_unique<TextLinkScan>(std::move(sink), sniffed.quotedPrintable);
}

} // namespace

QString LinkFileReader::read(const QString &path, const Hooks &hooks)
{
    if (QFileInfo(path).isDir())
        return tr("%1 is a folder, not a file.").arg(path);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return tr("Couldn't open %1: %2").arg(path, file.errorString());

    const QByteArray head = file.read(ImportFormat::kSniffBytes);
    if (head.isEmpty() && file.error() != QFileDevice::NoError)
        return tr("Couldn't read %1: %2").arg(path, file.errorString());
    const ImportFormat::Sniffed sniffed = ImportFormat::sniff(head, file.atEnd());
    if (sniffed.binary)
        return tr("%1 is not a text file.").arg(path);

    qint64 count = 0;
    const std::unique_ptr<LinkScan> scan = scanFor(sniffed, [&](FoundLink link) {
        ++count;
        hooks.found(std::move(link));
    });
    LineWindows windows([&](const LinePiece &piece) { scan->take(piece); }, sniffed.quotedPrintable);
    QStringDecoder decoder(sniffed.encoding);
    windows.feed(QString(decoder.decode(head)));
    hooks.read(head.size());

    QByteArray chunk(kChunk, Qt::Uninitialized);
    while (!hooks.cancelled()) {
        const qint64 size = file.read(chunk.data(), chunk.size());
        if (size < 0)
            return tr("Couldn't read %1: %2").arg(path, file.errorString());
        if (size == 0)
            break;
        windows.feed(QString(decoder.decode(QByteArrayView(chunk.constData(), size))));
        hooks.read(size);
    }
    if (hooks.cancelled())
        return {};
    windows.finish();
    scan->finish();
    if (count == 0)
        return tr("No video links in %1.").arg(path);
    return {};
}

} // namespace clipvane
