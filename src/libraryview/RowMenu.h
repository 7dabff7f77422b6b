#pragma once

#include <functional>

class QMenu;

namespace clipvane {

class AppState;
class Video;

// The context menu of one row. A shared library's record offers nothing but who shares it;
// the user's own records can be marked watched or unwatched, excluded or included, edited,
// copied, opened and deleted.
namespace RowMenu {

// toggleWatched, toggleExcluded: the library's watched and exclude toggles for the record.
void fill(QMenu &menu, const Video &video, AppState &state, std::function<void()> toggleWatched,
          std::function<void()> toggleExcluded);

} // namespace RowMenu

} // namespace clipvane
