#include "LibraryLists.h"

#include "TextRules.h"
#include "Video.h"

#include <QSet>
#include <algorithm>

namespace clipvane::LibraryLists {

namespace {

constexpr qsizetype kYearCharacters = 4;

// Plain text order (code points), as the menus list their entries.
QStringList sortedByCodePoint(const QSet<QString> &texts, bool descending)
{
    QStringList sorted(texts.cbegin(), texts.cend());
    std::sort(sorted.begin(), sorted.end(), [descending](const QString &a, const QString &b) {
        const int order = TextRules::compareCodePoints(a, b);
        return descending ? order > 0 : order < 0;
    });
    return sorted;
}

} // namespace

QStringList years(const QList<const Video *> &records)
{
    QSet<QString> seen;
    for (const Video *video : records) {
        if (video == nullptr)
            continue;
        QString year = video->yearText();
        // Four code units can still be fewer than four characters (an accent, an emoji).
        if (year.size() >= kYearCharacters && TextRules::graphemeCount(year) == kYearCharacters)
            seen.insert(std::move(year));
    }
    return sortedByCodePoint(seen, true);
}

QStringList sharedOwners(const QList<const Video *> &records)
{
    QSet<QString> seen;
    for (const Video *video : records) {
        if (video != nullptr && video->readOnly)
            seen.insert(video->ownerEmail);
    }
    return sortedByCodePoint(seen, false);
}

QHash<QString, const Video *> byID(const QList<const Video *> &records)
{
    QHash<QString, const Video *> lookup;
    lookup.reserve(records.size());
    for (const Video *video : records) {
        if (video != nullptr && !lookup.contains(video->youtubeID))
            lookup.insert(video->youtubeID, video);
    }
    return lookup;
}

} // namespace clipvane::LibraryLists
