#include "LibraryFilter.h"
#include "LibraryFixture.h"
#include "LibraryLists.h"
#include "SortMode.h"

#include <QFile>
#include <QTest>

using namespace clipvane;
using clipvane::test::LibraryFixture;
using clipvane::test::RecordSeed;
using Seeds = QList<clipvane::test::RecordSeed>;

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

LibraryFilter sortedBy(SortMode sort)
{
    return {.sort = sort};
}

QString ids(const QList<Video *> &videos)
{
    return LibraryFixture::ids(videos).join(u' ');
}

} // namespace

class LibraryFilterTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sortModes()
    {
        const QStringList raw{u"Newest"_qs, u"Oldest"_qs, u"Title"_qs, u"Longest"_qs};
        for (size_t i = 0; i < kAllSortModes.size(); ++i) {
            QCOMPARE(rawFromSortMode(kAllSortModes[i]), raw[qsizetype(i)]);
            QCOMPARE(sortModeFromRaw(raw[qsizetype(i)]), std::optional<SortMode>(kAllSortModes[i]));
            // Every mode's symbol is one of the bundled icons.
            const QString icon = QStringLiteral(CLIPVANE_ICONS_DIR "/%1.svg").arg(sortModeSymbolName(kAllSortModes[i]));
            QVERIFY2(QFile::exists(icon), qPrintable(icon));
        }
        for (const QString &other : {u"newest"_qs, u" Oldest"_qs, u"Longest "_qs, QString(), u"Shortest"_qs})
            QCOMPARE(sortModeFromRaw(other), std::nullopt);
    }

    void apply_data()
    {
        QTest::addColumn<Seeds>("records");
        QTest::addColumn<LibraryFilter>("filter");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const Seeds &records, const LibraryFilter &filter, const char *ids) {
            QTest::newRow(name) << records << filter << QString::fromUtf8(ids);
        };

        row("empty library", {}, {}, "");
        const Seeds states{{.id = u"synced"_qs, .syncState = u"synced"_qs},
                           {.id = u"add"_qs, .syncState = u"needsAdd"_qs},
                           {.id = u"patch"_qs, .syncState = u"needsPatch"_qs},
                           {.id = u"delete"_qs, .syncState = u"needsDelete"_qs},
                           {.id = u"odd"_qs, .syncState = u"NeedsDelete"_qs},
                           {.id = u"gone-excluded"_qs, .excluded = true, .syncState = u"needsDelete"_qs},
                           {.id = u"excluded"_qs, .excluded = true}};
        row("deletions dropped, any other state stays", states, {}, "synced add patch odd");
        row("only excluded shown, deletions still dropped", states, {.showExcluded = true}, "excluded");

        const Seeds owners{{.id = u"mine"_qs, .ownerEmail = u"mum@example.com"_qs},
                           shared(u"mums"_qs, u"mum@example.com"_qs),
                           shared(u"dads"_qs, u"dad@example.com"_qs),
                           shared(u"case"_qs, u"Mum@example.com"_qs)};
        row("hidden owner: only shared records hidden", owners, {.hiddenOwners = {u"mum@example.com"_qs}},
            "mine dads case");
        row("hidden owners: empty address hides shared records without owner",
            {shared(u"blank"_qs, {}), {.id = u"own"_qs}}, {.hiddenOwners = {QString()}}, "own");

        const Seeds years{
            dated(u"day"_qs, u"2021-01-01"_qs), dated(u"bare"_qs, u"2021"_qs),         dated(u"empty"_qs, {}),
            dated(u"short"_qs, u"21"_qs),       dated(u"before"_qs, u"2020-12-31"_qs), dated(u"space"_qs, u" 2021"_qs)};
        row("year by its first four characters", years, {.year = u"2021"_qs, .sort = SortMode::oldest}, "bare day");
        row("year: short dates are their own year", years, {.year = u"21"_qs}, "short");
        row("year counts characters, not code units",
            {dated(u"accent"_qs, u"2021\u0301-01"_qs), dated(u"plain"_qs, u"2021-01"_qs)}, {.year = u"2021\u0301"_qs},
            "accent");

        const Seeds ties{dated(u"ten"_qs, u"2024-05-01"_qs, 10), dated(u"twenty"_qs, u"2024-05-01"_qs, 20),
                         dated(u"older"_qs, u"2023-12-31"_qs, 99), dated(u"neg"_qs, u"2023-12-31"_qs, -5)};
        row("newest: ties by creation time", ties, sortedBy(SortMode::newest), "twenty ten older neg");
        row("oldest: ties by creation time", ties, sortedBy(SortMode::oldest), "neg older ten twenty");
        row("newest: full ties keep store order",
            {dated(u"a"_qs, u"2024"_qs, 1), dated(u"b"_qs, u"2024"_qs, 1), dated(u"c"_qs, u"2024"_qs, 1)},
            sortedBy(SortMode::newest), "a b c");
        const Seeds texts{dated(u"empty"_qs, {}), dated(u"day"_qs, u"2024-01-02"_qs), dated(u"year"_qs, u"2024"_qs),
                          dated(u"word"_qs, u"abcd"_qs)};
        row("newest: dates as plain text, empty last", texts, sortedBy(SortMode::newest), "word day year empty");
        row("oldest: empty first", texts, sortedBy(SortMode::oldest), "empty year day word");
        row("oldest: code-point order beyond the basic plane",
            {dated(u"astral"_qs, u"\U0001F600"_qs), dated(u"private"_qs, u"\uE000"_qs)}, sortedBy(SortMode::oldest),
            "private astral");

        row("longest",
            {lasting(u"4:05"_qs, u"4:05"_qs), lasting(u"45"_qs, u"45"_qs), lasting(u"none"_qs, {}),
             lasting(u"1:02:03"_qs, u"1:02:03"_qs), lasting(u"59:59"_qs, u"59:59"_qs)},
            sortedBy(SortMode::longest), "1:02:03 59:59 4:05 45 none");
        row("longest: equal lengths keep store order",
            {lasting(u"a"_qs, u"1:00"_qs), lasting(u"b"_qs, u"60"_qs), lasting(u"c"_qs, u"0:60"_qs)},
            sortedBy(SortMode::longest), "a b c");

        row("title: case ignored, empty first",
            {titled(u"cherry"_qs, u"cherry"_qs), titled(u"apple"_qs, u"apple"_qs), titled(u"Banana"_qs, u"Banana"_qs),
             titled(u"empty"_qs, {})},
            sortedBy(SortMode::title), "empty apple Banana cherry");
        row("title: same but for case keeps store order",
            {titled(u"upper"_qs, u"APPLE"_qs), titled(u"lower"_qs, u"apple"_qs), titled(u"mixed"_qs, u"Apple"_qs)},
            sortedBy(SortMode::title), "upper lower mixed");

        const auto live = [](const QString &id, const QString &date, const QString &title = u"Live Set"_qs) {
            return RecordSeed{.id = id, .title = title, .uploadDate = date};
        };
        Seeds every{live(u"keep2"_qs, u"2021-02-01"_qs),
                    live(u"gone"_qs, u"2021-03-01"_qs),
                    live(u"hidden"_qs, u"2021-04-01"_qs),
                    live(u"excluded"_qs, u"2021-05-01"_qs),
                    live(u"other-year"_qs, u"2022-01-01"_qs),
                    live(u"other-title"_qs, u"2021-06-01"_qs, u"Studio"_qs),
                    live(u"keep1"_qs, u"2021-07-01"_qs, u"set: LIVE"_qs)};
        every[1].syncState = SyncStateRaw::needsDelete;
        every[2].ownerEmail = u"x@y"_qs;
        every[2].readOnly = true;
        every[3].excluded = true;
        row("every step at once", every, {.search = u"set live"_qs, .year = u"2021"_qs, .hiddenOwners = {u"x@y"_qs}},
            "keep1 keep2");
    }

    void apply()
    {
        QFETCH(Seeds, records);
        QFETCH(LibraryFilter, filter);
        QTEST(ids(filter.apply(LibraryFixture(records).records())), "expected");
    }

    void applyIsPureAndSkipsNull()
    {
        LibraryFixture library({titled(u"b"_qs, u"B"_qs), titled(u"a"_qs, u"a"_qs)});
        const QList<Video *> before = library.records();
        const Video copy = *before[0];
        QList<Video *> withNull = before;
        withNull.insert(1, nullptr);
        const QList<Video *> visible = sortedBy(SortMode::title).apply(withNull);
        QCOMPARE(library.records(), before);
        QCOMPARE(*before[0], copy);
        QCOMPARE(visible, (QList<Video *>{before[1], before[0]}));
        QCOMPARE(LibraryLists::years(withNull), QStringList());
        QCOMPARE(LibraryLists::sharedOwners(withNull), QStringList());
        QCOMPARE(LibraryLists::byID(withNull).size(), 2);
    }

    // Every word the user typed must occur in the title, on whole user-perceived characters.
    void search_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("search");
        QTest::addColumn<bool>("found");

        QTest::newRow("word order free") << u"bar of foo"_qs << u"foo bar"_qs << true;
        QTest::newRow("every word needed") << u"foo"_qs << u"foo bar"_qs << false;
        QTest::newRow("a word inside a word") << u"FOOTBALL"_qs << u"ball"_qs << true;
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
        QTest::newRow("capital beyond the basic plane") << u"\U00010400"_qs << u"\U00010428"_qs << true;
        QTest::newRow("dotted capital I keeps its dot") << u"İSTANBUL"_qs << u"istanbul"_qs << false;
        QTest::newRow("sharp s is no ss") << u"Straße"_qs << u"strasse"_qs << false;
        QTest::newRow("title only, not other text") << u"Concert"_qs << u"2021"_qs << false;
        QTest::newRow("empty title") << QString() << u"a"_qs << false;
        QTest::newRow("leading and trailing spaces") << u"abc"_qs << u" abc "_qs << true;
        QTest::newRow("spaces only keep everything") << u"a b"_qs << u" "_qs << true;
        QTest::newRow("tab is no separator") << u"foo bar"_qs << u"foo\tbar"_qs << false;
        QTest::newRow("no-break space is part of a word") << u"a\u00A0b"_qs << u"a\u00A0b"_qs << true;
        QTest::newRow("no-break space is not a space") << u"a b"_qs << u"a\u00A0b"_qs << false;
    }

    void search()
    {
        QFETCH(QString, title);
        QFETCH(QString, search);
        QFETCH(bool, found);
        const LibraryFixture library({titled(u"x"_qs, title)});
        QCOMPARE(LibraryFilter{.search = search}.apply(library.records()).size(), found ? 1 : 0);
    }

    void years_data()
    {
        QTest::addColumn<QStringList>("uploadDates");
        QTest::addColumn<QStringList>("years");

        QTest::newRow("example") << QStringList{u"2019-01-01"_qs, u"2021-06-30"_qs, u"2021-01-01"_qs, QString(),
                                                u"abcd-xx"_qs}
                                 << QStringList{u"abcd"_qs, u"2021"_qs, u"2019"_qs};
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

    // The menus and the lookup by ID list what every record has, also excluded ones and those
    // pending deletion; of two records with one ID the first is found.
    void yearsOwnersAndLookupIncludeEveryRecord()
    {
        RecordSeed gone = shared(u"gone"_qs, u"b@x"_qs);
        gone.uploadDate = u"2001-01-01"_qs;
        gone.syncState = SyncStateRaw::needsDelete;
        RecordSeed excluded = shared(u"excluded"_qs, u"a@x"_qs);
        excluded.uploadDate = u"2002-01-01"_qs;
        excluded.excluded = true;
        const LibraryFixture library({gone,
                                      excluded,
                                      shared(u"blank"_qs, {}),
                                      shared(u"again"_qs, u"a@x"_qs),
                                      {.id = u"own"_qs, .ownerEmail = u"c@x"_qs},
                                      shared(u"gone"_qs, u"z@x"_qs)});
        QCOMPARE(ids(LibraryFilter().apply(library.records())), u"blank again own gone"_qs);
        QCOMPARE(LibraryLists::years(library.records()), (QStringList{u"2002"_qs, u"2001"_qs}));
        QCOMPARE(LibraryLists::sharedOwners(library.records()),
                 (QStringList{QString(), u"a@x"_qs, u"b@x"_qs, u"z@x"_qs}));
        const QHash<QString, Video *> lookup = LibraryLists::byID(library.records());
        QCOMPARE(lookup.size(), 5);
        QCOMPARE(lookup.value(u"gone"_qs), library.records()[0]);
    }
};

QTEST_GUILESS_MAIN(LibraryFilterTest)
#include "LibraryFilterTest.moc"
