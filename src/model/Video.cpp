#include "Video.h"

#include "LinkParser.h"

#include <QTextBoundaryFinder>
#include <limits>

namespace clipvane {

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();
constexpr qint64 kMin = std::numeric_limits<qint64>::min();

qint64 saturatingAdd(qint64 a, qint64 b)
{
    qint64 sum = 0;
    if (__builtin_add_overflow(a, b, &sum))
        return b > 0 ? kMax : kMin;
    return sum;
}

qint64 saturatingMul(qint64 a, qint64 b)
{
    qint64 product = 0;
    if (__builtin_mul_overflow(a, b, &product))
        return (a < 0) != (b < 0) ? kMin : kMax;
    return product;
}

// A whole decimal number with an optional sign and nothing else, saturated to 64 bits.
std::optional<qint64> wholeNumber(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    qint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        const int digit = c.unicode() - u'0';
        value = saturatingAdd(saturatingMul(value, 10), negative ? -digit : digit);
    }
    return value;
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
{
}

qint64 Video::durationSeconds() const
{
    qint64 total = 0;
    qint64 weight = 1;
    const QList<QStringView> pieces = QStringView(duration).split(u':');
    // Walk from the last piece (seconds) to the first, splitting each at ';' too.
    for (auto piece = pieces.crbegin(); piece != pieces.crend(); ++piece) {
        const QList<QStringView> parts = piece->split(u';');
        for (auto part = parts.crbegin(); part != parts.crend(); ++part) {
            const std::optional<qint64> number = wholeNumber(part->trimmed());
            if (!number)
                continue;
            total = saturatingAdd(total, saturatingMul(*number, weight));
            weight = saturatingMul(weight, 60);
        }
    }
    return total;
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
