#include "TextRules.h"

#include <QChar>
#include <QTextBoundaryFinder>
#include <algorithm>

namespace clipvane::TextRules {

namespace {

constexpr char16_t kFirstPrintableAscii = 0x20;
constexpr char16_t kLastAscii = 0x7F;
constexpr char16_t kFirstCombiningMark = 0x300;

// Hangul jamo join each other and the syllables before them.
bool isHangulJamo(char16_t unit)
{
    return (unit >= 0x1100 && unit < 0x1200) || (unit >= 0xA960 && unit < 0xA980) || (unit >= 0xD7B0 && unit < 0xD800);
}

// Letters that attach to a neighbour although their category says otherwise: Thai and Lao
// SARA AM (spacing marks), Malayalam dot reph (prepended), half-width voiced sound marks.
bool isJoiningLetter(char16_t unit)
{
    return unit == 0x0E33 || unit == 0x0EB3 || unit == 0x0D4E || unit == 0xFF9E || unit == 0xFF9F;
}

} // namespace

int compareCodePoints(QStringView a, QStringView b)
{
    const auto [left, right] = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    if (left == a.end())
        return right == b.end() ? 0 : -1;
    if (right == b.end())
        return 1;
    return int(codePointOrderUnit(left->unicode())) - int(codePointOrderUnit(right->unicode()));
}

bool isFreeStanding(char16_t unit)
{
    if (unit >= kFirstPrintableAscii && unit < kLastAscii)
        return true;
    // CR LF is one cluster; every other control is cut from both neighbours.
    if (unit == u'\r' || unit == u'\n' || QChar::isSurrogate(unit))
        return false;
    if (unit < kFirstCombiningMark)
        return true;
    if (isHangulJamo(unit) || isJoiningLetter(unit))
        return false;
    switch (QChar::category(char32_t(unit))) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_SpacingCombining:
    case QChar::Mark_Enclosing:
    case QChar::Other_Control:
    case QChar::Other_Format: // joiners and prepended signs
    case QChar::Other_Surrogate:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return false;
    default:
        return true;
    }
}

qsizetype graphemeCount(QStringView text)
{
    if (std::all_of(text.begin(), text.end(), [](QChar c) { return isFreeStanding(c.unicode()); }))
        return text.size();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    qsizetype clusters = 0;
    while (finder.toNextBoundary() >= 0)
        ++clusters;
    return clusters;
}

} // namespace clipvane::TextRules
