#include "Video.h"

#include "LinkParser.h"

#include <QTextBoundaryFinder>
#include <algorithm>
#include <limits>

namespace clipvane {

namespace {

// 128 bits hold every sum the 64-bit result can still be decided from (see durationSeconds).
__extension__ typedef __int128 Wide;

// Numbers are read up to this magnitude; longer ones count as this much.
constexpr Wide kNumberLimit = Wide(1) << 100;
// Once a running total passes this magnitude, pieces of at most kNumberLimit can no longer
// bring it back into the 64-bit range, nor change its sign.
constexpr Wide kTotalLimit = Wide(1) << 120;

Wide clamped(Wide value, Wide limit)
{
    return std::clamp(value, -limit, limit);
}

// A whole decimal number with an optional sign and nothing else.
std::optional<Wide> wholeNumber(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    Wide value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = std::min(value * 10 + (c.unicode() - u'0'), kNumberLimit);
    }
    return negative ? -value : value;
}

} // namespace

Video::Video(QString youtubeID, QString title, QString url, QString uploadDate, QString duration, bool excluded,
             QString source, qint64 createdAt, qint64 updatedAt, QString syncStateRaw)
    : youtubeID(std::move(youtubeID))
    , title(std::move(title))
    , url(std::move(url))
    , uploadDate(std::move(uploadDate))
    , duration(std::move(duration))
    , excluded(excluded)
    , source(std::move(source))
    , createdAt(createdAt)
    , updatedAt(updatedAt)
    , syncStateRaw(std::move(syncStateRaw))
{}

qint64 Video::durationSeconds() const
{
    // Horner's rule from the first number to the last: total = total * 60 + number. The sum
    // is exact while it stays within kTotalLimit; beyond that its sign is settled, and the
    // result saturates at the 64-bit limit of that sign.
    Wide total = 0;
    for (const QStringView piece : QStringView(duration).split(u':')) {
        for (const QStringView part : piece.split(u';')) {
            if (const std::optional<Wide> number = wholeNumber(part.trimmed()))
                total = clamped(total * 60 + *number, kTotalLimit);
        }
    }
    return qint64(
        std::clamp(total, Wide(std::numeric_limits<qint64>::min()), Wide(std::numeric_limits<qint64>::max())));
}

QString Video::yearText() const
{
    // Fast path: plain ASCII dates have one character per grapheme cluster.
    bool simple = true;
    for (qsizetype i = 0; i < uploadDate.size() && i < 5; ++i) {
        if (uploadDate.at(i).unicode() < 0x20 || uploadDate.at(i).unicode() >= 0x300) {
            simple = false;
            break;
        }
    }
    if (simple)
        return uploadDate.left(4);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, uploadDate);
    qsizetype end = 0;
    for (int clusters = 0; clusters < 4; ++clusters) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return uploadDate;
        end = next;
    }
    return uploadDate.left(end);
}

std::optional<QUrl> Video::thumbnailURL() const
{
    if (youtubeID.startsWith(QLatin1String("x-")))
        return std::nullopt;
    const QUrl url(QStringLiteral("https://") + QString::fromUtf16(Hosts::thumbnails) + QStringLiteral("/vi/") +
                       youtubeID + QStringLiteral("/mqdefault.jpg"),
                   QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

} // namespace clipvane
