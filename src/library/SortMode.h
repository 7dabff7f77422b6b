#pragma once

#include <QString>
#include <array>
#include <optional>

namespace clipvane {

// The four orders of the library list. The declaration order is the order of the sort menu.
enum class SortMode { newest, oldest, title, longest };

inline constexpr std::array<SortMode, 4> kAllSortModes{SortMode::newest, SortMode::oldest, SortMode::title,
                                                       SortMode::longest};

// "Newest", "Oldest", "Title", "Longest" in the user's language: the label of the menu entry and of
// its button.
QString rawFromSortMode(SortMode mode);
// Symbol name of the mode's menu icon.
QString sortModeSymbolName(SortMode mode);

} // namespace clipvane
