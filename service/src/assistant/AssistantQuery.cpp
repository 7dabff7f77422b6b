#include "assistant/AssistantQuery.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace clipvane::service {

namespace {

constexpr qint64 kSecondsPerMinute = 60;
constexpr qint64 kSecondsPerHour = 3600;
constexpr int kDaysPerWeek = 7;
constexpr int kDaysPerMonth = 30;
constexpr int kDaysPerYear = 365;
constexpr int kMaxDays = 36500;
// "short videos" and "long videos" without a number.
constexpr qint64 kShortVideoSeconds = 5 * kSecondsPerMinute;
constexpr qint64 kLongVideoSeconds = 20 * kSecondsPerMinute;
constexpr qsizetype kMinWordLength = 2;
// A title word matches a question word that begins it only when the question word is this long,
// so "cat" does not find "category" while "cook" finds "cooking".
constexpr qsizetype kMinPrefixLength = 4;
// Titles in scripts without spaces are searched as plain text for words at least this long.
constexpr qsizetype kMinInfixLength = 5;

const QString kNumber =
    QStringLiteral("(\\d{1,6}(?:[.,]\\d{1,3})?|an?|one|two|three|four|five|six|seven|eight|nine|"
                   "ten|eleven|twelve|fifteen|twenty|thirty|forty|fifty|sixty|ninety|half an?|half)");
const QString kUnit = QStringLiteral("(seconds?|secs?|s|minutes?|mins?|m|hours?|hrs?|h)");
const QString kYear = QStringLiteral("((?:19|20)\\d{2})");

QRegularExpression pattern(const QString &text)
{
    return QRegularExpression(text, QRegularExpression::UseUnicodePropertiesOption);
}

const QSet<QString> &stopWords()
{
    static const QSet<QString> words = [] {
        const QString list = QStringLiteral(
            "a about above after again all also am an and any anything are aren as at be been before being below "
            "between both but by can could count did didn do does doesn doing don down during each either ever few "
            "find for from get give got had has have haven having he her here hers hey hi hello him his how i if "
            "in into is isn it its itself just kind know let lets like list look looking many may me mine more "
            "most much my need no nor not now number of off ok okay on once one ones only or other our out over "
            "own please recall remember same saved say see show she should so some something sort stuff tell "
            "than thank thanks that the their them then there these they thing things this those through titled "
            "title called named to too total up us very vid vids video videos clip clips want wanna was wasn we "
            "were what when where which while who whom why will with would yes you your yours add added adding "
            "save library collection watch watched watching have got been ago");
        const QStringList split = list.split(u' ', Qt::SkipEmptyParts);
        return QSet<QString>(split.begin(), split.end());
    }();
    return words;
}

std::optional<double> numberValue(const QString &text)
{
    static const QHash<QString, double> words = {
        {u"a"_qs, 1},       {u"an"_qs, 1},      {u"one"_qs, 1},      {u"two"_qs, 2},      {u"three"_qs, 3},
        {u"four"_qs, 4},    {u"five"_qs, 5},    {u"six"_qs, 6},      {u"seven"_qs, 7},    {u"eight"_qs, 8},
        {u"nine"_qs, 9},    {u"ten"_qs, 10},    {u"eleven"_qs, 11},  {u"twelve"_qs, 12},  {u"fifteen"_qs, 15},
        {u"twenty"_qs, 20}, {u"thirty"_qs, 30}, {u"forty"_qs, 40},   {u"fifty"_qs, 50},   {u"sixty"_qs, 60},
        {u"ninety"_qs, 90}, {u"half"_qs, 0.5},  {u"half a"_qs, 0.5}, {u"half an"_qs, 0.5}};
    if (const auto found = words.constFind(text.simplified()); found != words.constEnd())
        return *found;
    bool ok = false;
    QString digits = text;
    const double value = digits.replace(u',', u'.').toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return value;
}

qint64 unitSeconds(const QString &unit)
{
    if (unit.startsWith(u'h'))
        return kSecondsPerHour;
    if (unit.startsWith(u'm'))
        return kSecondsPerMinute;
    return 1;
}

std::optional<qint64> lengthOf(const QString &number, const QString &unit)
{
    const auto value = numberValue(number);
    if (!value || *value < 0)
        return std::nullopt;
    return static_cast<qint64>(*value * static_cast<double>(unitSeconds(unit)) + 0.5);
}

// Blanks out what a pattern matched, so its words are not read again as title words.
void blank(QString &text, const QRegularExpressionMatch &match)
{
    text.replace(match.capturedStart(), match.capturedLength(), QString(match.capturedLength(), u' '));
}

bool take(QString &text, const QRegularExpression &re, QRegularExpressionMatch *out = nullptr)
{
    const QRegularExpressionMatch match = re.match(text);
    if (!match.hasMatch())
        return false;
    if (out != nullptr)
        *out = match;
    blank(text, match);
    return true;
}

QString stem(const QString &word)
{
    if (word.size() > kMinPrefixLength && word.endsWith(u"ies"))
        return word.left(word.size() - 3) + u'y';
    if (word.size() > kMinPrefixLength && word.endsWith(u"es")) {
        const QChar before = word.at(word.size() - 3);
        if (before == u's' || before == u'x' || before == u'z' || before == u'h')
            return word.left(word.size() - 2);
    }
    if (word.size() > 3 && word.endsWith(u's') && !word.endsWith(u"ss"))
        return word.chopped(1);
    return word;
}

void readLength(QString &text, AssistantQuery &query)
{
    static const QRegularExpression between =
        pattern(u"\\bbetween\\s+"_qs + kNumber + u"\\s*(?:"_qs + kUnit + u")?\\s+and\\s+"_qs + kNumber +
                u"\\s*-?\\s*"_qs + kUnit + u"\\b"_qs);
    static const QRegularExpression bound =
        pattern(u"\\b(shorter|less|under|below|at most|no longer|no more|longer|more|over|above|at least)"
                u"(?:\\s+than)?\\s+"_qs +
                kNumber + u"\\s*-?\\s*"_qs + kUnit + u"\\b"_qs);
    static const QRegularExpression shortOrLong = pattern(u"\\b(short|long)\\s+(?:videos?|ones?|clips?|vids?)\\b"_qs);

    QRegularExpressionMatch match;
    if (take(text, between, &match)) {
        const auto low =
            lengthOf(match.captured(1), match.captured(2).isEmpty() ? match.captured(4) : match.captured(2));
        const auto high = lengthOf(match.captured(3), match.captured(4));
        if (low && high) {
            query.minSeconds = std::min(*low, *high);
            query.maxSeconds = std::max(*low, *high);
        }
        return;
    }
    // Several bounds may be given ("longer than 5 minutes but under 10 minutes").
    while (take(text, bound, &match)) {
        const auto seconds = lengthOf(match.captured(2), match.captured(3));
        if (!seconds)
            continue;
        const QString word = match.captured(1);
        const bool inclusive = word.startsWith(u"at ") || word.startsWith(u"no ");
        const bool upper = word == u"shorter" || word == u"less" || word == u"under" || word == u"below" ||
                           word == u"at most" || word.startsWith(u"no ");
        if (upper) {
            query.maxSeconds = inclusive ? *seconds : std::max<qint64>(0, *seconds - 1);
            query.maxStrict = !inclusive;
        } else {
            query.minSeconds = inclusive ? *seconds : *seconds + 1;
            query.minStrict = !inclusive;
        }
    }
    if (!query.hasLength() && take(text, shortOrLong, &match)) {
        if (match.captured(1) == u"short") {
            query.maxSeconds = kShortVideoSeconds - 1;
            query.maxStrict = true;
        } else
            query.minSeconds = kLongVideoSeconds;
        // The noun stays: it still says whether one video or a list is meant.
        text.insert(match.capturedStart(), QStringLiteral(" videos "));
    }
}

void readPeriod(QString &text, AssistantQuery &query, bool speaksOfAdding, int nowYear)
{
    static const QRegularExpression lastDays = pattern(
        u"\\b(?:in\\s+the\\s+|over\\s+the\\s+|during\\s+the\\s+)?(?:last|past)\\s+(\\d{1,5}|two|three|four|five|six|"
        u"seven|eight|nine|ten|twelve|fifteen|twenty|thirty)\\s+(days?|weeks?|months?)\\b"_qs);
    static const QRegularExpression pastUnit =
        pattern(u"\\b(?:in\\s+the\\s+|over\\s+the\\s+|during\\s+the\\s+)?past\\s+(day|week|month|year)\\b"_qs);
    static const QList<std::pair<QRegularExpression, AssistantQuery::Period>> fixed = {
        {pattern(u"\\btoday\\b"_qs), AssistantQuery::Period::Today},
        {pattern(u"\\byesterday\\b"_qs), AssistantQuery::Period::Yesterday},
        {pattern(u"\\bthis\\s+week\\b"_qs), AssistantQuery::Period::ThisWeek},
        {pattern(u"\\blast\\s+week\\b"_qs), AssistantQuery::Period::LastWeek},
        {pattern(u"\\bthis\\s+month\\b"_qs), AssistantQuery::Period::ThisMonth},
        {pattern(u"\\blast\\s+month\\b"_qs), AssistantQuery::Period::LastMonth},
    };
    static const QRegularExpression thisYear = pattern(u"\\bthis\\s+year\\b"_qs);
    static const QRegularExpression lastYear = pattern(u"\\blast\\s+year\\b"_qs);

    QRegularExpressionMatch match;
    if (take(text, lastDays, &match)) {
        const int amount = static_cast<int>(numberValue(match.captured(1)).value_or(1));
        const QString unit = match.captured(2);
        const int perUnit = unit.startsWith(u'w') ? kDaysPerWeek : unit.startsWith(u'm') ? kDaysPerMonth : 1;
        query.period = AssistantQuery::Period::LastDays;
        query.lastDays = std::clamp(amount * perUnit, 1, kMaxDays);
        return;
    }
    if (take(text, pastUnit, &match)) {
        const QString unit = match.captured(1);
        query.period = AssistantQuery::Period::LastDays;
        query.lastDays = unit == u"day"     ? 1
                         : unit == u"week"  ? kDaysPerWeek
                         : unit == u"month" ? kDaysPerMonth
                                            : kDaysPerYear;
        return;
    }
    for (const auto &[re, period] : fixed) {
        if (take(text, re)) {
            query.period = period;
            return;
        }
    }
    // "added this year" speaks of adding; "videos from this year" of when they were made.
    if (take(text, thisYear)) {
        if (speaksOfAdding)
            query.period = AssistantQuery::Period::ThisYear;
        else
            query.years = {nowYear};
    } else if (take(text, lastYear)) {
        if (speaksOfAdding)
            query.period = AssistantQuery::Period::LastYear;
        else
            query.years = {nowYear - 1};
    }
}

void readYears(QString &text, AssistantQuery &query)
{
    static const QRegularExpression between =
        pattern(u"\\bbetween\\s+"_qs + kYear + u"\\s+and\\s+"_qs + kYear + u"\\b"_qs);
    static const QRegularExpression span =
        pattern(u"\\b"_qs + kYear + u"\\s*(?:-|–|to|until|till|through)\\s*"_qs + kYear + u"\\b"_qs);
    static const QRegularExpression decade = pattern(u"\\b((?:19|20)\\d)0\\s*'?s\\b"_qs);
    static const QRegularExpression upTo =
        pattern(u"\\b(before|until|till|up to|prior to|older than)\\s+"_qs + kYear + u"\\b"_qs);
    static const QRegularExpression onwards = pattern(u"\\b(after|since|newer than)\\s+"_qs + kYear + u"\\b"_qs);
    static const QRegularExpression single = pattern(u"\\b"_qs + kYear + u"\\b"_qs);

    QRegularExpressionMatch match;
    if (take(text, between, &match) || take(text, span, &match)) {
        const int a = match.captured(1).toInt();
        const int b = match.captured(2).toInt();
        query.yearFrom = std::min(a, b);
        query.yearTo = std::max(a, b);
    } else if (take(text, decade, &match)) {
        const int start = match.captured(1).toInt() * 10;
        query.yearFrom = start;
        query.yearTo = start + 9;
    }
    if (take(text, upTo, &match)) {
        const int year = match.captured(2).toInt();
        const QString word = match.captured(1);
        query.yearTo = (word == u"until" || word == u"till" || word == u"up to") ? year : year - 1;
    }
    if (take(text, onwards, &match)) {
        const int year = match.captured(2).toInt();
        query.yearFrom = match.captured(1) == u"since" ? year : year + 1;
    }
    while (take(text, single, &match)) {
        const int year = match.captured(1).toInt();
        if (!query.years.contains(year))
            query.years.append(year);
    }
}

void readOrder(QString &text, AssistantQuery &query)
{
    static const QRegularExpression longest = pattern(u"\\b(?:longest|lengthiest)\\b"_qs);
    static const QRegularExpression shortest = pattern(u"\\bshortest\\b"_qs);
    static const QRegularExpression newest = pattern(
        u"\\b(?:newest|latest|most\\s+recent(?:ly\\s+added)?|last\\s+added|added\\s+last|recently\\s+added)\\b"_qs);
    static const QRegularExpression recent = pattern(u"\\b(?:recently|recent|lately)\\b"_qs);
    static const QRegularExpression oldest = pattern(u"\\b(?:oldest|earliest|first\\s+added|added\\s+first)\\b"_qs);

    if (take(text, longest)) {
        query.order = AssistantQuery::Order::Longest;
        query.single = true;
    } else if (take(text, shortest)) {
        query.order = AssistantQuery::Order::Shortest;
        query.single = true;
    } else if (take(text, newest)) {
        query.order = AssistantQuery::Order::Newest;
        query.single = true;
    } else if (take(text, oldest)) {
        query.order = AssistantQuery::Order::Oldest;
        query.single = true;
    } else if (take(text, recent)) {
        query.order = AssistantQuery::Order::Newest;
    }
}

QString yearPhrase(const AssistantQuery &query)
{
    QStringList parts;
    if (!query.years.isEmpty()) {
        QStringList years;
        for (const int year : query.years)
            years.append(QString::number(year));
        const QString last = years.takeLast();
        parts.append(u"from "_qs + (years.isEmpty() ? last : years.join(u", "_qs) + u" or "_qs + last));
    }
    if (query.yearFrom && query.yearTo)
        parts.append(u"from "_qs + QString::number(*query.yearFrom) + u" to "_qs + QString::number(*query.yearTo));
    else if (query.yearFrom)
        parts.append(u"from "_qs + QString::number(*query.yearFrom) + u" on"_qs);
    else if (query.yearTo)
        parts.append(u"from "_qs + QString::number(*query.yearTo) + u" or earlier"_qs);
    return parts.join(u", "_qs);
}

QString periodPhrase(const AssistantQuery &query)
{
    switch (query.period) {
    case AssistantQuery::Period::None:
        return {};
    case AssistantQuery::Period::Today:
        return u"added today"_qs;
    case AssistantQuery::Period::Yesterday:
        return u"added yesterday"_qs;
    case AssistantQuery::Period::ThisWeek:
        return u"added this week"_qs;
    case AssistantQuery::Period::LastWeek:
        return u"added last week"_qs;
    case AssistantQuery::Period::ThisMonth:
        return u"added this month"_qs;
    case AssistantQuery::Period::LastMonth:
        return u"added last month"_qs;
    case AssistantQuery::Period::ThisYear:
        return u"added this year"_qs;
    case AssistantQuery::Period::LastYear:
        return u"added last year"_qs;
    case AssistantQuery::Period::LastDays:
        return query.lastDays == 1 ? u"added in the last day"_qs
                                   : u"added in the last "_qs + QString::number(query.lastDays) + u" days"_qs;
    }
    return {};
}

QString lengthPhrase(const AssistantQuery &query)
{
    if (query.minSeconds && query.maxSeconds && !query.minStrict && !query.maxStrict)
        return u"between "_qs + AssistantQuery::spokenLength(*query.minSeconds) + u" and "_qs +
               AssistantQuery::spokenLength(*query.maxSeconds) + u" long"_qs;
    QStringList parts;
    if (query.minSeconds) {
        parts.append(query.minStrict ? u"longer than "_qs + AssistantQuery::spokenLength(*query.minSeconds - 1)
                                     : u"at least "_qs + AssistantQuery::spokenLength(*query.minSeconds) + u" long"_qs);
    }
    if (query.maxSeconds) {
        parts.append(query.maxStrict ? u"shorter than "_qs + AssistantQuery::spokenLength(*query.maxSeconds + 1)
                                     : u"at most "_qs + AssistantQuery::spokenLength(*query.maxSeconds) + u" long"_qs);
    }
    return parts.join(u" and "_qs);
}

} // namespace

QString AssistantQuery::fold(const QString &text)
{
    // Most titles are plain ASCII; they need no decomposition (asked for every title of a library).
    const bool ascii = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    if (ascii)
        return text.toLower();
    const QString decomposed = text.normalized(QString::NormalizationForm_KD);
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar c : decomposed) {
        if (c.category() != QChar::Mark_NonSpacing)
            folded.append(c);
    }
    return folded.toCaseFolded();
}

QStringList AssistantQuery::tokens(const QString &foldedText)
{
    QStringList result;
    qsizetype start = -1;
    qsizetype i = 0;
    const qsizetype size = foldedText.size();
    while (i <= size) {
        char32_t code = 0;
        qsizetype width = 1;
        if (i < size) {
            code = foldedText.at(i).unicode();
            if (QChar::isHighSurrogate(code) && i + 1 < size && foldedText.at(i + 1).isLowSurrogate()) {
                code = QChar::surrogateToUcs4(foldedText.at(i), foldedText.at(i + 1));
                width = 2;
            }
        }
        const bool wordChar = i < size && QChar::isLetterOrNumber(code);
        if (wordChar && start < 0) {
            start = i;
        } else if (!wordChar && start >= 0) {
            result.append(foldedText.mid(start, i - start));
            start = -1;
        }
        i += width;
    }
    return result;
}

bool AssistantQuery::titleHasWord(const QStringList &titleTokens, const QString &foldedTitle, const QString &word)
{
    const QString wanted = stem(word);
    for (const QString &token : titleTokens) {
        // Every way of matching needs the same first letter; this spares most stemming.
        if (token.isEmpty() || word.isEmpty() || token.front() != word.front())
            continue;
        if (token == word || stem(token) == wanted)
            return true;
        if (wanted.size() >= kMinPrefixLength && token.startsWith(wanted))
            return true;
    }
    return word.size() >= kMinInfixLength && foldedTitle.contains(word);
}

QString AssistantQuery::spokenLength(qint64 seconds)
{
    const qint64 hours = seconds / kSecondsPerHour;
    const qint64 minutes = (seconds % kSecondsPerHour) / kSecondsPerMinute;
    const qint64 rest = seconds % kSecondsPerMinute;
    const auto unit = [](qint64 value, const QString &name) {
        return value == 1 ? (name == u"hour" ? u"an hour"_qs : u"1 "_qs + name)
                          : QString::number(value) + u' ' + name + u's';
    };
    QStringList parts;
    if (hours > 0)
        parts.append(unit(hours, u"hour"_qs));
    if (minutes > 0)
        parts.append(unit(minutes, u"minute"_qs));
    if (rest > 0 || parts.isEmpty())
        parts.append(unit(rest, u"second"_qs));
    return parts.join(u' ');
}

AssistantQuery AssistantQuery::parse(const QString &question, int nowYear)
{
    static const QRegularExpression followUpStart =
        pattern(u"^\\s*(?:and|but|also|only|just|now|then|so|ok|okay|what about|how about|same|from|in|since|before|"
                u"after|under|over|shorter|longer|less|more|older|newer|which of|of (?:them|those|these))\\b"_qs);
    static const QRegularExpression followUpReference = pattern(u"\\b(?:those|them|these|ones)\\b"_qs);
    static const QRegularExpression counting = pattern(u"\\b(?:how\\s+many|number\\s+of|count)\\b"_qs);
    static const QRegularExpression adding = pattern(u"\\b(?:add|added|adding|saved|save|put)\\b"_qs);
    static const QRegularExpression plural = pattern(u"\\b(?:videos|ones|clips|vids|all)\\b"_qs);

    AssistantQuery query;
    QString text = fold(question);
    query.followUp = followUpStart.match(text).hasMatch() || followUpReference.match(text).hasMatch();
    query.count = take(text, counting);
    const bool speaksOfAdding = adding.match(text).hasMatch();

    readLength(text, query);
    readPeriod(text, query, speaksOfAdding, nowYear);
    readYears(text, query);
    readOrder(text, query);
    if (query.single && (query.count || plural.match(text).hasMatch()))
        query.single = false;

    const QSet<QString> &stop = stopWords();
    for (const QString &token : tokens(text)) {
        if (token.size() >= kMinWordLength && !stop.contains(token) && !query.words.contains(token))
            query.words.append(token);
    }
    return query;
}

AssistantQuery AssistantQuery::refinedBy(const AssistantQuery &followUp) const
{
    AssistantQuery merged = *this;
    if (!followUp.words.isEmpty())
        merged.words = followUp.words;
    if (followUp.hasYears()) {
        merged.years = followUp.years;
        merged.yearFrom = followUp.yearFrom;
        merged.yearTo = followUp.yearTo;
    }
    if (followUp.period != Period::None) {
        merged.period = followUp.period;
        merged.lastDays = followUp.lastDays;
    }
    if (followUp.hasLength()) {
        merged.minSeconds = followUp.minSeconds;
        merged.maxSeconds = followUp.maxSeconds;
        merged.minStrict = followUp.minStrict;
        merged.maxStrict = followUp.maxStrict;
    }
    if (followUp.order != Order::Relevance) {
        merged.order = followUp.order;
        merged.single = followUp.single;
        merged.count = followUp.count;
    } else {
        // "and from 2020?" after "how many …?" still wants a number.
        merged.count = followUp.count || count;
        merged.single = single && !followUp.count;
    }
    merged.followUp = followUp.followUp;
    return merged;
}

QString AssistantQuery::describe() const
{
    QString text;
    if (!words.isEmpty())
        text += u" about “"_qs + words.join(u' ') + u"”"_qs;
    bool firstFilter = true;
    for (const QString &part : {yearPhrase(*this), periodPhrase(*this), lengthPhrase(*this)}) {
        if (part.isEmpty())
            continue;
        text += firstFilter ? u" "_qs : u", "_qs;
        text += part;
        firstFilter = false;
    }
    return text;
}

} // namespace clipvane::service
