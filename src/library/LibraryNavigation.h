#pragma once

#include <QList>
#include <QString>
#include <optional>
#include <vector>

namespace clipvane {

class Video;

// How the selection moves through the visible list. Records are named by youtubeID; a record
// whose ID begins with "x-" is not a YouTube video and is never played.
namespace LibraryNavigation {

// The detail pane's counter: among the playable records, 0-based.
struct Position
{
    int index = 0;
    int total = 0;
    bool operator==(const Position &) const = default;
};

bool isPlayable(const Video &video);

// The ID of the first playable record, or none.
std::optional<QString> firstPlayableID(const QList<const Video *> &visible);

// The ID the selection moves to by step rows, clamped at both ends; an unknown or missing
// selection counts as the first row. In browse mode only playable records are stepped through.
// None when there is nothing to step through.
std::optional<QString> stepTarget(const QList<const Video *> &visible, const std::optional<QString> &selected, int step,
                                  bool browsing);

// Up to five records after the selection; the first five when it is not in the list.
QList<const Video *> upNext(const QList<const Video *> &visible, const std::optional<QString> &selected);

// The first playable record after the selection, the one that plays when the selected video
// ends; none after the last playable row, or when the selection is not in the list.
const Video *nextPlayable(const QList<const Video *> &visible, const std::optional<QString> &selected);

Position position(const QList<const Video *> &visible, const std::optional<QString> &selected);

// The rows of the records that are not playable, ascending: with them at hand the counter is
// found without a pass over the list, which the pane asks for at every change of selection.
std::vector<int> unplayableRows(const QList<const Video *> &visible);
// The same as position(visible, selected), given unplayableRows(visible).
Position position(const QList<const Video *> &visible, const std::vector<int> &unplayable,
                  const std::optional<QString> &selected);

// The row of the record with that ID, or -1.
int rowOf(const QList<const Video *> &visible, const QString &youtubeID);

} // namespace LibraryNavigation

} // namespace clipvane
