#include "Video.h"

#include "Duration.h"
#include "ForeignID.h"
#include "LinkParser.h"

#include <QTextBoundaryFinder>

namespace clipvane {

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
    return Duration::seconds(duration).value_or(0);
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
    if (isForeignID(youtubeID))
        return std::nullopt;
    const QUrl url(QStringLiteral("https://") + QString::fromUtf16(Hosts::thumbnails) + QStringLiteral("/vi/") +
                       youtubeID + QStringLiteral("/mqdefault.jpg"),
                   QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

} // namespace clipvane
