#pragma once

#include <QtGlobal>
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

// What a selection of several videos holds, by what can be done with them.
struct Selection
{
    qsizetype included = 0; // the person's own, not excluded
    qsizetype excluded = 0; // the person's own, excluded
    qsizetype shared = 0;   // of libraries shared with the person: left as they are
};

// The menu of a row of several selected: the changes that apply to them all.
void fillMany(QMenu &menu, const Selection &selection, std::function<void()> exclude, std::function<void()> include,
              std::function<void()> remove);

} // namespace RowMenu

} // namespace clipvane
