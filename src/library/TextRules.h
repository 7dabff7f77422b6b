#pragma once

#include <QStringView>

namespace clipvane {

// Plain-text rules the library list shares between its filter and its kept orders.
namespace TextRules {

// A UTF-16 unit remapped so that comparing remapped units one by one orders texts by code
// point. QString's own comparison orders raw units, which puts U+E000–U+FFFF after every
// character outside the Basic Multilingual Plane.
constexpr char16_t codePointOrderUnit(char16_t unit)
{
    constexpr char16_t kSurrogateStart = 0xD800;
    constexpr char16_t kPrivateUseStart = 0xE000;
    constexpr char16_t kSurrogateLift = 0x2000;
    constexpr char16_t kPrivateUseDrop = 0x800;
    if (unit < kSurrogateStart)
        return unit;
    return unit < kPrivateUseStart ? char16_t(unit + kSurrogateLift) : char16_t(unit - kPrivateUseDrop);
}

// Negative, zero or positive as a sorts before, with or after b in code-point order.
int compareCodePoints(QStringView a, QStringView b);

// True when no grapheme-cluster rule can join the unit to a neighbour that is also free
// standing, so a boundary between two such units is certain without looking further.
// Conservative: false sends the caller to the full segmentation.
bool isFreeStanding(char16_t unit);

// Number of grapheme clusters (user-perceived characters) of text.
qsizetype graphemeCount(QStringView text);

} // namespace TextRules

} // namespace clipvane
