#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace clipvane::service {

// What a question about the library asks for, read from its words: title words, upload years,
// when the videos were added, their length, an order, and whether only a count is wanted.
struct AssistantQuery
{
    enum class Period {
        None,
        Today,
        Yesterday,
        ThisWeek,
        LastWeek,
        ThisMonth,
        LastMonth,
        ThisYear,
        LastYear,
        LastDays
    };
    enum class Order { Relevance, Longest, Shortest, Newest, Oldest };

    QStringList words;                            // folded title words, in the question's order
    QList<int> years;                             // upload years, any of them
    std::optional<int> yearFrom, yearTo;          // an inclusive range of upload years
    Period period = Period::None;                 // when added (the server's clock, UTC)
    int lastDays = 0;                             // for Period::LastDays
    std::optional<qint64> minSeconds, maxSeconds; // inclusive length bounds
    bool minStrict = false, maxStrict = false;    // said as "longer than" / "shorter than"
    Order order = Order::Relevance;
    bool single = false; // "the longest video": one answer, not a list
    bool count = false;  // "how many …"
    bool followUp = false;

    bool hasYears() const { return !years.isEmpty() || yearFrom || yearTo; }
    bool hasLength() const { return minSeconds || maxSeconds; }
    bool hasFilters() const { return !words.isEmpty() || hasYears() || period != Period::None || hasLength(); }
    bool hasCriteria() const { return hasFilters() || order != Order::Relevance; }

    // nowYear stands for "this year" and "last year" when they speak of upload years.
    static AssistantQuery parse(const QString &question, int nowYear);
    // The earlier question's topic, narrowed or changed by this follow-up's own criteria.
    AssistantQuery refinedBy(const AssistantQuery &followUp) const;

    // The criteria as words for an answer: " about “paris” from 2019, shorter than 5 minutes".
    QString describe() const;

    // Lower case, accents removed: the form both question words and titles are compared in.
    static QString fold(const QString &text);
    static QStringList tokens(const QString &foldedText);
    // True when a folded title holds the folded question word (plural and prefix tolerant).
    static bool titleHasWord(const QStringList &titleTokens, const QString &foldedTitle, const QString &word);
    static QString spokenLength(qint64 seconds);
};

} // namespace clipvane::service
