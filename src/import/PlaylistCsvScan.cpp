#include "PlaylistCsvScan.h"

#include "LinkParser.h"
#include "VideoLimits.h"

namespace clipvane {

QString PlaylistCsvScan::firstColumn(QStringView row)
{
    row = row.trimmed();
    if (row.startsWith(u'"')) {
        const qsizetype close = row.indexOf(u'"', 1);
        return row.sliced(1, (close < 0 ? row.size() : close) - 1).trimmed().toString();
    }
    const qsizetype comma = row.indexOf(u',');
    return (comma < 0 ? row : row.first(comma)).trimmed().toString();
}

bool PlaylistCsvScan::isHeader(QStringView firstColumn)
{
    return firstColumn.compare(u"video id", Qt::CaseInsensitive) == 0;
}

void PlaylistCsvScan::take(const LinePiece &piece)
{
    // A row longer than a window is only read for its first column.
    if (piece.from > 0)
        return;
    const QString id = firstColumn(piece.text.first(std::min(piece.until, kMaxVideoUrlLength)));
    if (!m_header) {
        m_header = isHeader(id);
        return;
    }
    if (id.isEmpty())
        return;
    if (isYouTubeIDText(id))
        found(FoundLink{QStringLiteral("https://www.youtube.com/watch?v=") + id, piece.line, QString()});
    else
        found(FoundLink{id, piece.line, tr("“%1” is not a video ID.").arg(id.left(kMaxVideoDetailLength))});
}

} // namespace clipvane
