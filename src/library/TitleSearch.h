#pragma once

#include <QString>
#include <QStringList>

namespace clipvane {

// The search field of the library list: every word the user typed must occur in a title.
// Case never matters, accents always do: "cafe" does not find "Café", however the accent is
// encoded, because a word only matches whole user-perceived characters of the title.
class TitleSearch
{
public:
    // Lower-cases the text and splits it at U+0020 only; empty pieces are dropped.
    explicit TitleSearch(const QString &search);

    // No words: every title matches.
    bool isEmpty() const { return m_words.isEmpty(); }
    const QStringList &words() const { return m_words; }

    // True when every word occurs in foldedTitle (a title passed through fold()), starting and
    // ending on grapheme-cluster boundaries. A word may sit inside another word.
    bool matches(QStringView foldedTitle) const;

    // Text as the search compares it: Unicode default lower-casing (no locale), then the
    // composed normal form, so precomposed and decomposed accents are the same text.
    static QString fold(const QString &text);

private:
    QStringList m_words;
};

} // namespace clipvane
