#include "SortMode.h"

#include <QCoreApplication>

namespace clipvane {

QString rawFromSortMode(SortMode mode)
{
    switch (mode) {
    case SortMode::newest:
        return QCoreApplication::translate("SortMode", "Newest");
    case SortMode::oldest:
        return QCoreApplication::translate("SortMode", "Oldest");
    case SortMode::title:
        return QCoreApplication::translate("SortMode", "Title");
    case SortMode::longest:
        return QCoreApplication::translate("SortMode", "Longest");
    }
    return QCoreApplication::translate("SortMode", "Newest");
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
