#include "TitleCollation.h"

#include <QChar>

namespace clipvane {

namespace {

// Without a working collation (the C locale, or no collation data for the locale) QCollator
// compares UTF-16 units case-folded one by one, a low surrogate as its whole character.
// Its own sort key would then disagree with it (it keeps case), so the key is built here.
std::u32string foldedUnits(QStringView text)
{
    std::u32string folded(size_t(text.size()), U'\0');
    char16_t previous = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        char32_t character = unit;
        if (QChar::isLowSurrogate(unit) && QChar::isHighSurrogate(previous))
            character = QChar::surrogateToUcs4(previous, unit);
        folded[size_t(i)] = QChar::toCaseFolded(character);
        previous = unit;
    }
    return folded;
}

} // namespace

TitleCollation::TitleCollation()
    : m_locale()
    , m_collator(m_locale)
{
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    if (m_locale.language() == QLocale::C)
        return;
    // The collator's keys stand in for it only when it really collates: a locale without
    // collation data falls back to the unit comparison above, while its keys stay empty.
    const QCollatorSortKey lowerA = m_collator.sortKey(QStringLiteral("a"));
    const QCollatorSortKey upperA = m_collator.sortKey(QStringLiteral("A"));
    const QCollatorSortKey upperB = m_collator.sortKey(QStringLiteral("B"));
    m_useCollatorKeys = lowerA.compare(upperA) == 0 && lowerA.compare(upperB) < 0 && upperB.compare(lowerA) > 0 &&
                        m_collator.compare(QStringLiteral("a"), QStringLiteral("B")) < 0;
}

TitleCollation::Key TitleCollation::key(const QString &title) const
{
    Key key;
    // QCollator puts an empty text before every other one, even before texts the collation
    // ignores entirely (its key would tie them).
    key.m_empty = title.isEmpty();
    if (key.m_empty)
        return key;
    if (m_useCollatorKeys)
        key.m_collated = m_collator.sortKey(title);
    else
        key.m_folded = foldedUnits(title);
    return key;
}

int TitleCollation::compare(const Key &a, const Key &b)
{
    if (a.m_empty || b.m_empty)
        return int(b.m_empty) - int(a.m_empty);
    if (a.m_collated && b.m_collated)
        return a.m_collated->compare(*b.m_collated);
    return a.m_folded.compare(b.m_folded);
}

} // namespace clipvane
