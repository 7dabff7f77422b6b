// Feeds arbitrary bytes to the readers of imported files as a file would reach them: sniffed,
// decoded and cut into lines and windows at chunk edges taken from the input itself. Every link
// a reader hands over must name a video, and a refused row must say why.
#include "BookmarkScan.h"
#include "ImportFormat.h"
#include "JsonLinkScan.h"
#include "LineWindows.h"
#include "LinkParser.h"
#include "PlaylistCsvScan.h"
#include "TextLinkScan.h"

#include <QStringDecoder>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

using namespace clipvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the chunk size, so links fall across every kind of edge.
    const qsizetype chunk = 1 + data[0] % 64;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    const ImportFormat::Sniffed sniffed = ImportFormat::sniff(
        bytes.first(std::min(bytes.size(), ImportFormat::kSniffBytes)), bytes.size() <= ImportFormat::kSniffBytes);
    if (sniffed.binary)
        return 0;
    const LinkScan::Sink check = [](FoundLink link) {
        if (link.line < 1)
            std::abort();
        if (link.refusal.isEmpty() ? !youtubeID(link.text) : link.text.isEmpty())
            std::abort();
    };
    std::unique_ptr<LinkScan> scan;
    switch (sniffed.kind) {
    case ImportFormat::Kind::playlistCsv:
        scan = std::make_unique<PlaylistCsvScan>(check);
        break;
    case ImportFormat::Kind::json:
    case ImportFormat::Kind::watchHistory:
        scan = std::make_unique<JsonLinkScan>(check, sniffed.kind == ImportFormat::Kind::watchHistory);
        break;
    case ImportFormat::Kind::bookmarks:
        scan = std::make_unique<BookmarkScan>(check);
        break;
    case ImportFormat::Kind::text:
        scan = std::make_unique<TextLinkScan>(check, sniffed.quotedPrintable);
        break;
    }
    LineWindows windows(
        [&](const LinePiece &piece) {
            if (piece.from < 0 || piece.from > piece.until || piece.until > piece.text.size())
                std::abort();
            scan->take(piece);
        },
        sniffed.quotedPrintable);
    QStringDecoder decoder(sniffed.encoding);
    for (qsizetype at = 0; at < bytes.size(); at += chunk)
        windows.feed(QString(decoder.decode(bytes.sliced(at, std::min(chunk, bytes.size() - at)))));
    windows.finish();
    scan->finish();
    return 0;
}
