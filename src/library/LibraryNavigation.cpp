#include "LibraryNavigation.h"

#include "ForeignID.h"
#include "Video.h"

#include <algorithm>

namespace clipvane::LibraryNavigation {

namespace {

constexpr int kUpNextCount = 5;

QList<const Video *> playableOnly(const QList<const Video *> &visible)
{
    QList<const Video *> playable;
    for (const Video *video : visible) {
        if (isPlayable(*video))
            playable.append(video);
    }
    return playable;
}

} // namespace

bool isPlayable(const Video &video)
{
    return !isForeignID(video.youtubeID);
}

std::optional<QString> firstPlayableID(const QList<const Video *> &visible)
{
    for (const Video *video : visible) {
        if (isPlayable(*video))
            return video->youtubeID;
    }
    return std::nullopt;
}

int rowOf(const QList<const Video *> &visible, const QString &youtubeID)
{
    for (int row = 0; row < visible.size(); ++row) {
        if (visible[row]->youtubeID == youtubeID)
            return row;
    }
    return -1;
}

std::optional<QString> stepTarget(const QList<const Video *> &visible, const std::optional<QString> &selected, int step,
                                  bool browsing)
{
    const QList<const Video *> list = browsing ? playableOnly(visible) : visible;
    if (list.isEmpty())
        return std::nullopt;
    const int found = selected ? rowOf(list, *selected) : -1;
    const qint64 from = std::max(found, 0);
    const qint64 to = std::clamp<qint64>(from + step, 0, list.size() - 1);
    return list[to]->youtubeID;
}

QList<const Video *> upNext(const QList<const Video *> &visible, const std::optional<QString> &selected)
{
    const int found = selected ? rowOf(visible, *selected) : -1;
    if (found < 0)
        return visible.mid(0, kUpNextCount);
    return visible.mid(found + 1, kUpNextCount);
}

const Video *nextPlayable(const QList<const Video *> &visible, const std::optional<QString> &selected)
{
    const int found = selected ? rowOf(visible, *selected) : -1;
    if (found < 0)
        return nullptr;
    for (int row = found + 1; row < visible.size(); ++row) {
        if (isPlayable(*visible[row]))
            return visible[row];
    }
    return nullptr;
}

Position position(const QList<const Video *> &visible, const std::optional<QString> &selected)
{
    const QList<const Video *> playable = playableOnly(visible);
    const int found = selected ? rowOf(playable, *selected) : -1;
    return {std::max(found, 0), int(playable.size())};
}

std::vector<int> unplayableRows(const QList<const Video *> &visible)
{
    std::vector<int> rows;
    for (int row = 0; row < visible.size(); ++row) {
        if (!isPlayable(*visible[row]))
            rows.push_back(row);
    }
    return rows;
}

Position position(const QList<const Video *> &visible, const std::vector<int> &unplayable,
                  const std::optional<QString> &selected)
{
    const int total = int(visible.size() - qsizetype(unplayable.size()));
    const int row = selected ? rowOf(visible, *selected) : -1;
    if (row < 0 || std::binary_search(unplayable.cbegin(), unplayable.cend(), row))
        return {0, total};
    const auto before = std::lower_bound(unplayable.cbegin(), unplayable.cend(), row) - unplayable.cbegin();
    return {row - int(before), total};
}

} // namespace clipvane::LibraryNavigation
