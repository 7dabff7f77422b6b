#include "SortMode.h"

namespace clipvane {

QString rawFromSortMode(SortMode mode)
{
    switch (mode) {
    case SortMode::newest:
        return QStringLiteral("Newest");
    case SortMode::oldest:
        return QStringLiteral("Oldest");
    case SortMode::title:
        return QStringLiteral("Title");
    case SortMode::longest:
        return QStringLiteral("Longest");
    }
    return QStringLiteral("Newest");
}

QString sortModeSymbolName(SortMode mode)
{
    switch (mode) {
    case SortMode::newest:
        return QStringLiteral("arrow.down.circle");
    case SortMode::oldest:
        return QStringLiteral("arrow.up.circle");
    case SortMode::title:
        return QStringLiteral("textformat.abc");
    case SortMode::longest:
        return QStringLiteral("clock");
    }
    return QStringLiteral("arrow.down.circle");
}

} // namespace clipvane
