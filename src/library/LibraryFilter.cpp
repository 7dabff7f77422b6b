#include "LibraryFilter.h"

#include "TextRules.h"
#include "TitleSearch.h"
#include "Video.h"

#include <QCollator>
#include <algorithm>

namespace clipvane {

namespace {

bool passesFields(const LibraryFilter &filter, const Video &video)
{
    if (video.syncStateRaw == SyncStateRaw::needsDelete)
        return false;
    // Only shared records can be hidden by owner: the user's own always stay.
    if (!filter.hiddenOwners.isEmpty() && video.readOnly && filter.hiddenOwners.contains(video.ownerEmail))
        return false;
    if (video.excluded != filter.showExcluded)
        return false;
    if (filter.hideWatched && video.watched)
        return false;
    return filter.year.isEmpty() || video.yearText() == filter.year;
}

// Upload dates are texts compared by code point, never parsed; the creation time breaks ties.
int compareDates(const Video &a, const Video &b)
{
    const int byDate = TextRules::compareCodePoints(a.uploadDate, b.uploadDate);
    if (byDate != 0)
        return byDate;
    return a.createdAt < b.createdAt ? -1 : (a.createdAt > b.createdAt ? 1 : 0);
}

void sortRecords(QList<const Video *> &records, SortMode sort)
{
    switch (sort) {
    case SortMode::newest:
        std::stable_sort(records.begin(), records.end(),
                         [](const Video *a, const Video *b) { return compareDates(*a, *b) > 0; });
        return;
    case SortMode::oldest:
        std::stable_sort(records.begin(), records.end(),
                         [](const Video *a, const Video *b) { return compareDates(*a, *b) < 0; });
        return;
    case SortMode::title: {
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::stable_sort(records.begin(), records.end(), [&collator](const Video *a, const Video *b) {
            return collator.compare(a->title, b->title) < 0;
        });
        return;
    }
    case SortMode::longest: {
        // durationSeconds() parses text: work it out once per record, not once per comparison.
        QList<std::pair<qint64, const Video *>> keyed;
        keyed.reserve(records.size());
        for (const Video *video : records)
            keyed.append({video->durationSeconds(), video});
        std::stable_sort(keyed.begin(), keyed.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
        for (qsizetype i = 0; i < keyed.size(); ++i)
            records[i] = keyed[i].second;
        return;
    }
    }
}

} // namespace

QList<const Video *> LibraryFilter::apply(const QList<const Video *> &records) const
{
    const TitleSearch words(search);
    QList<const Video *> visible;
    for (const Video *video : records) {
        if (video == nullptr || !passesFields(*this, *video))
            continue;
        if (!words.isEmpty() && !words.matches(TitleSearch::fold(video->title)))
            continue;
        visible.append(video);
    }
    sortRecords(visible, sort);
    return visible;
}

} // namespace clipvane
