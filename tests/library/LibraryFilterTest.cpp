#include "LibraryFilter.h"
#include "LibraryFixture.h"
#include "LibraryLists.h"
#include "SortMode.h"

#include <QLocale>
#include <QTest>

using namespace clipvane;
using clipvane::test::LibraryFixture;
using clipvane::test::RecordSeed;

Q_DECLARE_METATYPE(clipvane::LibraryFilter)
Q_DECLARE_METATYPE(QList<clipvane::test::RecordSeed>)

namespace {

RecordSeed titled(const QString &id, const QString &title)
{
    return {.id = id, .title = title};
}

RecordSeed dated(const QString &id, const QString &uploadDate, qint64 createdAt = 0)
{
    return {.id = id, .uploadDate = uploadDate, .createdAt = createdAt};
}

RecordSeed lasting(const QString &id, const QString &duration)
{
    return {.id = id, .duration = duration};
}

RecordSeed shared(const QString &id, const QString &owner)
{
    return {.id = id, .ownerEmail = owner, .readOnly = true};
}

LibraryFilter searching(const QString &search, SortMode sort = SortMode::newest)
{
    return {.search = search, .sort = sort};
}

LibraryFilter sortedBy(SortMode sort)
{
    return {.sort = sort};
}

} // namespace

class LibraryFilterTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sortModes()
    {
        const QStringList raw{u"Newest"_qs, u"Oldest"_qs, u"Title"_qs, u"Longest"_qs};
        const QStringList symbols{u"arrow.down.circle"_qs, u"arrow.up.circle"_qs, u"textformat.abc"_qs, u"clock"_qs};
        for (size_t i = 0; i < kAllSortModes.size(); ++i) {
            const SortMode mode = kAllSortModes[i];
            QCOMPARE(rawFromSortMode(mode), raw[qsizetype(i)]);
            QCOMPARE(sortModeSymbolName(mode), symbols[qsizetype(i)]);
            QCOMPARE(sortModeFromRaw(raw[qsizetype(i)]), std::optional<SortMode>(mode));
        }
        for (const QString &other :
             {u"newest"_qs, u"TITLE"_qs, u" Oldest"_qs, u"Longest "_qs, QString(), u"Shortest"_qs})
            QCOMPARE(sortModeFromRaw(other), std::nullopt);
    }

    void apply_data()
    {
        QTest::addColumn<QList<RecordSeed>>("records");
        QTest::addColumn<LibraryFilter>("filter");
        QTest::addColumn<QStringList>("expected");

        const QList<RecordSeed> states{
            {.id = u"synced"_qs, .syncState = u"synced"_qs},
            {.id = u"add"_qs, .syncState = u"needsAdd"_qs},
            {.id = u"patch"_qs, .syncState = u"needsPatch"_qs},
            {.id = u"delete"_qs, .syncState = u"needsDelete"_qs},
            {.id = u"odd"_qs, .syncState = u"NeedsDelete"_qs},
            {.id = u"gone excluded"_qs, .excluded = true, .syncState = u"needsDelete"_qs},
        };
        QTest::newRow("empty library") << QList<RecordSeed>() << LibraryFilter() << QStringList();
        QTest::newRow("deletions dropped, any other state stays")
            << states << LibraryFilter() << QStringList{u"synced"_qs, u"add"_qs, u"patch"_qs, u"odd"_qs};
        QTest::newRow("deletions dropped among excluded too")
            << states << LibraryFilter{.showExcluded = true} << QStringList();

        const QList<RecordSeed> someExcluded{{.id = u"in"_qs}, {.id = u"out"_qs, .excluded = true}, {.id = u"in2"_qs}};
        QTest::newRow("excluded hidden") << someExcluded << LibraryFilter() << QStringList{u"in"_qs, u"in2"_qs};
        QTest::newRow("only excluded shown")
            << someExcluded << LibraryFilter{.showExcluded = true} << QStringList{u"out"_qs};
        QTest::newRow("no excluded records: nothing shown") << QList<RecordSeed>{{.id = u"a"_qs}, {.id = u"b"_qs}}
                                                            << LibraryFilter{.showExcluded = true} << QStringList();

        const QList<RecordSeed> owners{
            {.id = u"mine"_qs, .ownerEmail = u"mum@example.com"_qs},
            shared(u"mums"_qs, u"mum@example.com"_qs),
            shared(u"dads"_qs, u"dad@example.com"_qs),
            shared(u"case"_qs, u"Mum@example.com"_qs),
        };
        QTest::newRow("hidden owner: only shared records hidden")
            << owners << LibraryFilter{.hiddenOwners = {u"mum@example.com"_qs}}
            << QStringList{u"mine"_qs, u"dads"_qs, u"case"_qs};
        QTest::newRow("hidden owners: unknown address changes nothing")
            << owners << LibraryFilter{.hiddenOwners = {u"nobody@example.com"_qs}}
            << QStringList{u"mine"_qs, u"mums"_qs, u"dads"_qs, u"case"_qs};
        QTest::newRow("hidden owners: empty address hides shared records without owner")
            << QList<RecordSeed>{shared(u"blank"_qs, {}), {.id = u"own"_qs}}
            << LibraryFilter{.hiddenOwners = {QString()}} << QStringList{u"own"_qs};

        const QList<RecordSeed> years{
            dated(u"day"_qs, u"2021-01-01"_qs), dated(u"bare"_qs, u"2021"_qs),         dated(u"empty"_qs, {}),
            dated(u"short"_qs, u"21"_qs),       dated(u"before"_qs, u"2020-12-31"_qs), dated(u"space"_qs, u" 2021"_qs)};
        QTest::newRow("year by its first four characters")
            << years << LibraryFilter{.year = u"2021"_qs, .sort = SortMode::oldest}
            << QStringList{u"bare"_qs, u"day"_qs};
        QTest::newRow("year: short dates are their own year")
            << years << LibraryFilter{.year = u"21"_qs} << QStringList{u"short"_qs};
        QTest::newRow("year counts characters, not code units")
            << QList<RecordSeed>{dated(u"accent"_qs, u"2021\u0301-01"_qs), dated(u"plain"_qs, u"2021-01"_qs)}
            << LibraryFilter{.year = u"2021\u0301"_qs} << QStringList{u"accent"_qs};

        const QList<RecordSeed> words{titled(u"both"_qs, u"bar of foo"_qs), titled(u"one"_qs, u"foo"_qs),
                                      titled(u"sport"_qs, u"FOOTBALL Bar"_qs)};
        QTest::newRow("runs of spaces make no empty words")
            << words << searching(u"  Foo   BAR "_qs) << QStringList{u"both"_qs, u"sport"_qs};
        QTest::newRow("spaces only keep everything")
            << words << searching(u"   "_qs) << QStringList{u"both"_qs, u"one"_qs, u"sport"_qs};
        QTest::newRow("empty search keeps everything")
            << words << searching({}) << QStringList{u"both"_qs, u"one"_qs, u"sport"_qs};
        QTest::newRow("a word inside a word") << words << searching(u"ball"_qs) << QStringList{u"sport"_qs};
        QTest::newRow("tab is no separator") << words << searching(u"foo\tbar"_qs) << QStringList();

        QTest::newRow("newest: ties by creation time")
            << QList<RecordSeed>{dated(u"ten"_qs, u"2024-05-01"_qs, 10), dated(u"twenty"_qs, u"2024-05-01"_qs, 20),
                                 dated(u"older"_qs, u"2023-12-31"_qs, 99)}
            << sortedBy(SortMode::newest) << QStringList{u"twenty"_qs, u"ten"_qs, u"older"_qs};
        QTest::newRow("oldest: ties by creation time")
            << QList<RecordSeed>{dated(u"twenty"_qs, u"2024-05-01"_qs, 20), dated(u"ten"_qs, u"2024-05-01"_qs, 10),
                                 dated(u"older"_qs, u"2023-12-31"_qs, 99)}
            << sortedBy(SortMode::oldest) << QStringList{u"older"_qs, u"ten"_qs, u"twenty"_qs};
        QTest::newRow("newest: negative creation times are older")
            << QList<RecordSeed>{dated(u"neg"_qs, u"2024"_qs, -5), dated(u"zero"_qs, u"2024"_qs, 0)}
            << sortedBy(SortMode::newest) << QStringList{u"zero"_qs, u"neg"_qs};
        QTest::newRow("newest: full ties keep store order")
            << QList<RecordSeed>{dated(u"a"_qs, u"2024"_qs, 1), dated(u"b"_qs, u"2024"_qs, 1),
                                 dated(u"c"_qs, u"2024"_qs, 1)}
            << sortedBy(SortMode::newest) << QStringList{u"a"_qs, u"b"_qs, u"c"_qs};

        const QList<RecordSeed> texts{dated(u"empty"_qs, {}), dated(u"day"_qs, u"2024-01-02"_qs),
                                      dated(u"year"_qs, u"2024"_qs), dated(u"word"_qs, u"abcd"_qs)};
        QTest::newRow("newest: dates as plain text, empty last")
            << texts << sortedBy(SortMode::newest) << QStringList{u"word"_qs, u"day"_qs, u"year"_qs, u"empty"_qs};
        QTest::newRow("oldest: empty first")
            << texts << sortedBy(SortMode::oldest) << QStringList{u"empty"_qs, u"year"_qs, u"day"_qs, u"word"_qs};
        QTest::newRow("oldest: code-point order beyond the basic plane")
            << QList<RecordSeed>{dated(u"astral"_qs, u"\U0001F600"_qs), dated(u"private"_qs, u"\uE000"_qs)}
            << sortedBy(SortMode::oldest) << QStringList{u"private"_qs, u"astral"_qs};

        QTest::newRow("longest") << QList<RecordSeed>{lasting(u"4:05"_qs, u"4:05"_qs), lasting(u"45"_qs, u"45"_qs),
                                                      lasting(u"none"_qs, {}), lasting(u"1:02:03"_qs, u"1:02:03"_qs),
                                                      lasting(u"59:59"_qs, u"59:59"_qs)}
                                 << sortedBy(SortMode::longest)
                                 << QStringList{u"1:02:03"_qs, u"59:59"_qs, u"4:05"_qs, u"45"_qs, u"none"_qs};
        QTest::newRow("longest: equal lengths keep store order")
            << QList<RecordSeed>{lasting(u"a"_qs, u"1:00"_qs), lasting(u"b"_qs, u"60"_qs), lasting(u"c"_qs, u"0:60"_qs)}
            << sortedBy(SortMode::longest) << QStringList{u"a"_qs, u"b"_qs, u"c"_qs};

        QTest::newRow("title: case ignored")
            << QList<RecordSeed>{titled(u"cherry"_qs, u"cherry"_qs), titled(u"apple"_qs, u"apple"_qs),
                                 titled(u"Banana"_qs, u"Banana"_qs)}
            << sortedBy(SortMode::title) << QStringList{u"apple"_qs, u"Banana"_qs, u"cherry"_qs};
        QTest::newRow("title: same but for case keeps store order")
            << QList<RecordSeed>{titled(u"upper"_qs, u"APPLE"_qs), titled(u"lower"_qs, u"apple"_qs),
                                 titled(u"mixed"_qs, u"Apple"_qs)}
            << sortedBy(SortMode::title) << QStringList{u"upper"_qs, u"lower"_qs, u"mixed"_qs};
        QTest::newRow("title: empty title first")
            << QList<RecordSeed>{titled(u"a"_qs, u"a"_qs), titled(u"empty"_qs, {})} << sortedBy(SortMode::title)
            << QStringList{u"empty"_qs, u"a"_qs};

        QTest::newRow("every step at once")
            << QList<RecordSeed>{
                   {.id = u"keep2"_qs, .title = u"Live Set"_qs, .uploadDate = u"2021-02-01"_qs},
                   {.id = u"gone"_qs, .title = u"Live Set"_qs, .uploadDate = u"2021-03-01"_qs,
                    .syncState = u"needsDelete"_qs},
                   {.id = u"hidden"_qs, .title = u"Live Set"_qs, .uploadDate = u"2021-04-01"_qs,
                    .ownerEmail = u"x@y"_qs, .readOnly = true},
                   {.id = u"excluded"_qs, .title = u"Live Set"_qs, .uploadDate = u"2021-05-01"_qs, .excluded = true},
                   {.id = u"other year"_qs, .title = u"Live Set"_qs, .uploadDate = u"2022-01-01"_qs},
                   {.id = u"other title"_qs, .title = u"Studio"_qs, .uploadDate = u"2021-06-01"_qs},
                   {.id = u"keep1"_qs, .title = u"set: LIVE"_qs, .uploadDate = u"2021-07-01"_qs},
               }
            << LibraryFilter{.search = u"set live"_qs, .year = u"2021"_qs, .hiddenOwners = {u"x@y"_qs}}
            << QStringList{u"keep1"_qs, u"keep2"_qs};
    }

    void apply()
    {
        QFETCH(QList<RecordSeed>, records);
        QFETCH(LibraryFilter, filter);
        QFETCH(QStringList, expected);
        const LibraryFixture library(records);
        QCOMPARE(LibraryFixture::ids(filter.apply(library.records())), expected);
    }

    void applyIsPure()
    {
        LibraryFixture library({titled(u"b"_qs, u"B"_qs), titled(u"a"_qs, u"a"_qs)});
        const QList<Video *> before = library.records();
        const Video copy = *before[0];
        const QList<Video *> visible = LibraryFilter{.sort = SortMode::title}.apply(library.records());
        QCOMPARE(library.records(), before);
        QCOMPARE(*before[0], copy);
        QCOMPARE(visible, (QList<Video *>{before[1], before[0]}));
    }

    void nullRecordsSkipped()
    {
        LibraryFixture library({titled(u"a"_qs, u"a"_qs)});
        QList<Video *> records = library.records();
        records.prepend(nullptr);
        records.append(nullptr);
        QCOMPARE(LibraryFixture::ids(LibraryFilter().apply(records)), QStringList{u"a"_qs});
        QCOMPARE(LibraryLists::years(records), QStringList());
        QCOMPARE(LibraryLists::byID(records).size(), 1);
    }

    void titleOrderFollowsLocale()
    {
        // Swedish puts "ö" after "z"; German sorts it with "o".
        const LibraryFixture library({titled(u"z"_qs, u"zebra"_qs), titled(u"o"_qs, u"öl"_qs)});
        const QLocale previous;
        QLocale::setDefault(QLocale(QLocale::Swedish, QLocale::Sweden));
        const QStringList swedish = LibraryFixture::ids(sortedBy(SortMode::title).apply(library.records()));
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        const QStringList german = LibraryFixture::ids(sortedBy(SortMode::title).apply(library.records()));
        QLocale::setDefault(previous);
        QCOMPARE(swedish, (QStringList{u"z"_qs, u"o"_qs}));
        QCOMPARE(german, (QStringList{u"o"_qs, u"z"_qs}));
    }

    void search_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("search");
        QTest::addColumn<bool>("found");

        QTest::newRow("word order free") << u"bar of foo"_qs << u"foo bar"_qs << true;
        QTest::newRow("every word needed") << u"foo"_qs << u"foo bar"_qs << false;
        QTest::newRow("case ignored both ways") << u"MiXeD"_qs << u"mIxEd"_qs << true;
        QTest::newRow("accent matters") << u"Café"_qs << u"cafe"_qs << false;
        QTest::newRow("decomposed accent matters") << u"Cafe\u0301"_qs << u"cafe"_qs << false;
        QTest::newRow("accented word finds decomposed title") << u"CAFE\u0301"_qs << u"café"_qs << true;
        QTest::newRow("decomposed word finds composed title") << u"café"_qs << u"cafe\u0301"_qs << true;
        QTest::newRow("accent on capital folds") << u"ÉCOLE"_qs << u"école"_qs << true;
        QTest::newRow("the accent alone is no word") << u"Café"_qs << u"\u0301"_qs << false;
        QTest::newRow("letter before an accent is not the letter")
            << u"re\u0301sume\u0301 resume"_qs << u"resume"_qs << true;
        QTest::newRow("emoji sequence not cut") << u"family 👨‍👩‍👧 day"_qs << u"👨"_qs << false;
        QTest::newRow("whole emoji sequence found")
            << u"family 👨‍👩‍👧 day"_qs << u"👨‍👩‍👧"_qs << true;
        QTest::newRow("greek capitals") << u"ΟΔΥΣΣΕΙΑ"_qs << u"οδυσσεια"_qs << true;
        QTest::newRow("cyrillic") << u"Москва Live"_qs << u"москва"_qs << true;
        QTest::newRow("dotted capital I keeps its dot") << u"İSTANBUL"_qs << u"istanbul"_qs << false;
        QTest::newRow("sharp s is no ss") << u"Straße"_qs << u"strasse"_qs << false;
        QTest::newRow("title only, not other text") << u"Concert"_qs << u"2021"_qs << false;
        QTest::newRow("leading and trailing spaces") << u"abc"_qs << u" abc "_qs << true;
        QTest::newRow("space inside a title needs no word") << u"a b"_qs << u" "_qs << true;
        QTest::newRow("no-break space is part of a word") << u"a\u00A0b"_qs << u"a\u00A0b"_qs << true;
        QTest::newRow("no-break space is not a space") << u"a b"_qs << u"a\u00A0b"_qs << false;
    }

    void search()
    {
        QFETCH(QString, title);
        QFETCH(QString, search);
        QFETCH(bool, found);
        const LibraryFixture library({titled(u"x"_qs, title)});
        QCOMPARE(searching(search).apply(library.records()).size(), found ? 1 : 0);
    }

    void years_data()
    {
        QTest::addColumn<QStringList>("uploadDates");
        QTest::addColumn<QStringList>("years");

        QTest::newRow("example") << QStringList{u"2019-01-01"_qs, u"2021-06-30"_qs, u"2021-01-01"_qs, QString(),
                                                u"abcd-xx"_qs}
                                 << QStringList{u"abcd"_qs, u"2021"_qs, u"2019"_qs};
        QTest::newRow("empty library") << QStringList() << QStringList();
        QTest::newRow("short texts left out")
            << QStringList{u"21"_qs, u"202"_qs, u"2020"_qs} << QStringList{u"2020"_qs};
        QTest::newRow("four characters with an accent")
            << QStringList{u"2021\u0301-01"_qs, u"e\u0301e\u0301"_qs} << QStringList{u"2021\u0301"_qs};
        QTest::newRow("code-point order") << QStringList{u"\uE000abc"_qs, u"\U0001F600abc"_qs, u"zzzz"_qs}
                                          << QStringList{u"\U0001F600abc"_qs, u"\uE000abc"_qs, u"zzzz"_qs};
    }

    void years()
    {
        QFETCH(QStringList, uploadDates);
        QFETCH(QStringList, years);
        LibraryFixture library;
        for (const QString &date : uploadDates)
            library.add(dated(u"id"_qs, date));
        QCOMPARE(LibraryLists::years(library.records()), years);
    }

    void yearsAndOwnersIncludeEveryRecord()
    {
        const LibraryFixture library({
            {.id = u"gone"_qs,
             .uploadDate = u"2001-01-01"_qs,
             .syncState = u"needsDelete"_qs,
             .ownerEmail = u"b@x"_qs,
             .readOnly = true},
            {.id = u"excluded"_qs,
             .uploadDate = u"2002-01-01"_qs,
             .excluded = true,
             .ownerEmail = u"a@x"_qs,
             .readOnly = true},
            shared(u"blank"_qs, {}),
            shared(u"again"_qs, u"a@x"_qs),
            {.id = u"own"_qs, .ownerEmail = u"c@x"_qs},
        });
        QCOMPARE(LibraryFixture::ids(LibraryFilter().apply(library.records())),
                 (QStringList{u"blank"_qs, u"again"_qs, u"own"_qs}));
        QCOMPARE(LibraryLists::years(library.records()), (QStringList{u"2002"_qs, u"2001"_qs}));
        QCOMPARE(LibraryLists::sharedOwners(library.records()), (QStringList{QString(), u"a@x"_qs, u"b@x"_qs}));
    }

    void byIDFirstWins()
    {
        const LibraryFixture library(
            {titled(u"a"_qs, u"first"_qs), titled(u"b"_qs, u"other"_qs), titled(u"a"_qs, u"second"_qs)});
        const QHash<QString, Video *> lookup = LibraryLists::byID(library.records());
        QCOMPARE(lookup.size(), 2);
        QCOMPARE(lookup.value(u"a"_qs), library.records()[0]);
        QCOMPARE(lookup.value(u"b"_qs), library.records()[1]);
        QVERIFY(LibraryLists::byID({}).isEmpty());
        QVERIFY(LibraryLists::sharedOwners({}).isEmpty());
    }
};

QTEST_GUILESS_MAIN(LibraryFilterTest)
#include "LibraryFilterTest.moc"
