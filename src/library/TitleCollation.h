#pragma once

#include <QCollator>
#include <QLocale>
#include <QString>
#include <optional>
#include <string>

namespace clipvane {

// Sort keys that order titles exactly as QCollator::compare does for the user's locale with
// case ignored, so a kept title order can be built and merged without the collator's cost
// per comparison. Keys of one TitleCollation are only compared with each other.
class TitleCollation
{
public:
    class Key
    {
    public:
        Key() = default;

    private:
        friend class TitleCollation;
        bool m_empty = true;
        std::optional<QCollatorSortKey> m_collated;
        std::u32string m_folded;
    };

    // For the default locale (QLocale()).
    TitleCollation();

    const QLocale &locale() const { return m_locale; }

    Key key(const QString &title) const;
    // Negative, zero or positive as QCollator::compare on the two titles.
    static int compare(const Key &a, const Key &b);

private:
    QLocale m_locale;
    QCollator m_collator;
    bool m_useCollatorKeys = false;
};

} // namespace clipvane
