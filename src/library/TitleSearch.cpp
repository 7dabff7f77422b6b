#include "TitleSearch.h"

#include "TextRules.h"

#include <QTextBoundaryFinder>
#include <optional>
#include <string_view>

namespace clipvane {

namespace {

constexpr char16_t kLatin1End = 0x100;
constexpr char16_t kLowerCaseOffset = 0x20;

// Capital letters of Latin-1 whose lower case is 0x20 above them (not the multiplication sign).
constexpr bool isLatin1Capital(char16_t unit)
{
    return (unit >= u'A' && unit <= u'Z') || (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7);
}

bool isBoundary(QStringView text, qsizetype at, std::optional<QTextBoundaryFinder> &finder)
{
    if (at == 0 || at == text.size())
        return true;
    if (TextRules::isFreeStanding(text[at - 1].unicode()) && TextRules::isFreeStanding(text[at].unicode()))
        return true;
    if (!finder)
        finder.emplace(QTextBoundaryFinder::Grapheme, text.data(), text.size());
    finder->setPosition(at);
    return finder->isAtBoundary();
}

bool containsWord(QStringView title, QStringView word, std::optional<QTextBoundaryFinder> &finder)
{
    const std::u16string_view haystack(title.utf16(), size_t(title.size()));
    const std::u16string_view needle(word.utf16(), size_t(word.size()));
    for (size_t at = haystack.find(needle); at != std::u16string_view::npos; at = haystack.find(needle, at + 1)) {
        if (isBoundary(title, qsizetype(at), finder) && isBoundary(title, qsizetype(at + needle.size()), finder))
            return true;
    }
    return false;
}

} // namespace

TitleSearch::TitleSearch(const QString &search)
    : m_words(fold(search).split(u' ', Qt::SkipEmptyParts))
{}

bool TitleSearch::matches(QStringView foldedTitle) const
{
    std::optional<QTextBoundaryFinder> finder;
    for (const QString &word : m_words) {
        if (!containsWord(foldedTitle, word, finder))
            return false;
    }
    return true;
}

QString TitleSearch::fold(const QString &text)
{
    // Most titles are Latin-1: already composed, and lower-cased by one offset. The general
    // lower-casing costs several times more, and this runs once per title.
    bool capitals = false;
    for (const QChar c : text) {
        if (c.unicode() >= kLatin1End)
            return text.toLower().normalized(QString::NormalizationForm_C);
        capitals = capitals || isLatin1Capital(c.unicode());
    }
    if (!capitals)
        return text;
    QString lowered = text;
    for (QChar &c : lowered) {
        if (isLatin1Capital(c.unicode()))
            c = QChar(char16_t(c.unicode() + kLowerCaseOffset));
    }
    return lowered;
}

} // namespace clipvane
