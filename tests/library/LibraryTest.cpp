// The library's rules without a window: filtering and sorting, plain and kept in an index, the
// text rules beneath them, moving through the list, and what rows and status lines say.
#include "LibraryFilter.h"
#include "LibraryIndex.h"
#include "LibraryLists.h"
#include "LibraryNavigation.h"
#include "RowText.h"
#include "SortMode.h"
#include "StatusText.h"
#include "SyncState.h"
#include "TextRules.h"
#include "TitleCollation.h"
#include "TitleSearch.h"
#include "Video.h"
#include "VideoListModel.h"

#include <QAbstractItemModelTester>
#include <QCollator>
#include <QRandomGenerator>
#include <QTest>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <functional>
#include <list>

using namespace clipvane;
using Nav = std::optional<QString>;
using Ranges = QList<RowText::Range>;
using Sync = StatusText::Sync;

namespace clipvane::test {

// One record as a test describes it; fields not named keep these defaults.
struct RecordSeed
{
    QString id{};
    QString title{};
    QString uploadDate{};
    QString duration{};
    qint64 createdAt = 0;
    bool excluded = false;
    bool watched = false;
    QString syncState = SyncStateRaw::synced;
    QString ownerEmail{};
    bool readOnly = false;
};
using Seeds = QList<RecordSeed>;

// Owns records at stable addresses and hands them out as the store does: pointers in store order.
// Removing frees a record, as the store does: a later record may get its address.
struct Records
{
    std::list<Video> owned;
    QList<const Video *> records;

    Records(const Seeds &seeds = {})
    {
        for (const RecordSeed &seed : seeds)
            add(seed);
    }

    void add(const RecordSeed &seed)
    {
        Video &video = owned.emplace_back(seed.id, seed.title, QString(), seed.uploadDate, seed.duration, seed.excluded,
                                          QString(), seed.createdAt, 0, seed.syncState);
        video.ownerEmail = seed.ownerEmail;
        video.readOnly = seed.readOnly;
        video.watched = seed.watched;
        records.append(&video);
    }

    void remove(qsizetype position)
    {
        owned.remove_if([video = records.takeAt(position)](const Video &each) { return &each == video; });
    }
};

} // namespace clipvane::test

using namespace clipvane::test;

Q_DECLARE_METATYPE(clipvane::LibraryFilter)
Q_DECLARE_METATYPE(clipvane::SortMode)
Q_DECLARE_METATYPE(clipvane::test::Seeds)
Q_DECLARE_METATYPE(Ranges)
Q_DECLARE_METATYPE(Sync)

namespace {

QString ids(const QList<const Video *> &videos)
{
    QStringList result;
    for (const Video *video : videos)
        result.append(video->youtubeID);
    return result.join(u' ');
}

QStringList split(const QString &text, QChar separator = u' ')
{
    return text.split(separator, Qt::SkipEmptyParts);
}

// Records named by a spaced text, each titled with its ID; an ID starting with "x-" cannot be played.
Records named(const QString &spaced)
{
    Records library;
    for (const QString &id : split(spaced))
        library.add({id, id});
    return library;
}

Nav nav(const QString &id)
{
    return id.isEmpty() ? Nav() : Nav(id);
}

Sync syncState(bool syncing, std::optional<double> fraction = {}, int total = 0, std::optional<QString> error = {},
               bool synced = false)
{
    Sync sync;
    sync.syncing = syncing;
    sync.fraction = fraction;
    sync.total = total;
    sync.error = error;
    if (synced)
        sync.lastSync = QDateTime(QDate(2026, 3, 1), QTime(14, 5, 30));
    return sync;
}

template<typename T> const T &pick(QRandomGenerator &random, const QList<T> &from)
{
    return from[random.bounded(from.size())];
}

const QString kHighSurrogate(QChar(0xD800));
const QString kLowSurrogate(QChar(0xDC00));

// Pieces that exercise the grapheme rules: marks, CR LF, Hangul jamo, flags, emoji sequences,
// prepended signs, controls, lone surrogates.
const QStringList kPieces =
    u"2|0|-|a|é|\u0301|\u0308|\r|\n|\t|\u1100|\u1161|\u11A8|\uAC00|🇩|🇪|👍|\U0001F3FD|\u200D|"
    u"\u0600|\u0915|\u094D|\u0E33|\uFE0F|\u00AD|Ж|\u0D4E|\uFF9E| |\u0085|\u2028|\u0903"_qs.split(u'|') +
    QStringList{kHighSurrogate, kLowSurrogate};

QList<qsizetype> clusterEnds(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    QList<qsizetype> ends;
    for (qsizetype end = finder.toNextBoundary(); end >= 0; end = finder.toNextBoundary())
        ends.append(end);
    return ends;
}

QString randomText(QRandomGenerator &random, int maxPieces)
{
    QString text;
    for (int i = 0, pieces = random.bounded(maxPieces + 1); i < pieces; ++i)
        text += pick(random, kPieces);
    return text;
}

RecordSeed titled(const QString &id, const QString &title)
{
    return {.id = id, .title = title};
}

RecordSeed shared(const QString &id, const QString &owner)
{
    return {.id = id, .ownerEmail = owner, .readOnly = true};
}

// Records of one field each from "id=value|id=value@createdAt"; those at the positions in `excluded` are excluded.
Seeds seeds(const QString &text, QString RecordSeed::*field, const QList<int> &excluded = {})
{
    Seeds result;
    for (const QString &entry : text.split(u'|')) {
        const QString value = entry.section(u'=', 1);
        RecordSeed seed{.id = entry.section(u'=', 0, 0),
                        .createdAt = value.section(u'@', 1).toLongLong(),
                        .excluded = excluded.contains(result.size())};
        seed.*field = value.section(u'@', 0, 0);
        result.append(seed);
    }
    return result;
}

Seeds dates(const QString &text)
{
    return seeds(text, &RecordSeed::uploadDate);
}

const QString kFamily = u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_qs; // one cluster of three people
const QStringList kWords = u"live|Live|LIVE|set|café|Cafe\u0301|cafe|CAFÉ|football|Ball|straße|STRASSE|Москва|москва|"
                           u"Ωmega|ωmega|İstanbul|istanbul|👨|a|A|ä|a\u0308|z|öl|10|9|-|日本|\U00010400"_qs.split(u'|') +
                           QStringList{kFamily};
// Dates as the service may send them, also ones that are no dates at all.
const QStringList kDates =
    u"|2021-03-04|2021-03-04|2021-03-05|2020-12-31|2021|21|abcd-xx|2021\u0301-01|\uE000|"
    u"\U0001F600x|2019-01-01|2021-03-04\u0000|2021-03-04T10:00:00Z|2021-03-04T10:00:01Z"_qs.split(u'|');
const QStringList kDurations = u"|4:05|245|45|1:02:03|59:59|a:30|60|1:00|0:60|-5"_qs.split(u'|');
const QStringList kStates = u"synced|synced|needsAdd|needsPatch|needsDelete|odd"_qs.split(u'|');
const QStringList kOwners = u"|a@x|b@x|A@x"_qs.split(u'|');
const QStringList kYears = u"||2021|2020|21|abcd|2021\u0301|1999"_qs.split(u'|');

QString randomTitle(QRandomGenerator &random)
{
    QString title;
    for (int i = 0, words = random.bounded(5); i < words; ++i)
        title += (i == 0 ? u""_qs : random.bounded(4) == 0 ? u"  "_qs : u" "_qs) + pick(random, kWords);
    return title;
}

QString randomSearch(QRandomGenerator &random)
{
    const int kind = random.bounded(5);
    if (kind < 2)
        return kind == 0 ? QString() : u"   "_qs;
    QString search;
    for (int i = 0, words = 1 + random.bounded(2); i < words; ++i) {
        QString word = pick(random, kWords);
        if (random.bounded(3) == 0 && word.size() > 1)
            word = word.mid(random.bounded(word.size() - 1), 2);
        search += u' ' + (random.bounded(2) == 0 ? word.toUpper() : word);
    }
    return search;
}

RecordSeed randomSeed(QRandomGenerator &random, int serial)
{
    return {
        .id = QStringLiteral("v%1").arg(random.bounded(3) == 0 ? serial / 2 : serial), // some IDs repeat
        .title = randomTitle(random),
        .uploadDate = pick(random, kDates),
        .duration = pick(random, kDurations),
        .createdAt = qint64(random.bounded(4)) - 1,
        .excluded = random.bounded(4) == 0,
        .watched = random.bounded(3) == 0,
        .syncState = pick(random, kStates),
        .ownerEmail = pick(random, kOwners),
        .readOnly = random.bounded(3) == 0,
    };
}

// The test owns its records (they are not const objects): it changes them in place, as a sync
// changes the store's.
void changeInPlace(QRandomGenerator &random, const Video &record)
{
    Video &video = const_cast<Video &>(record);
    const std::function<void()> changes[] = {
        [&] { video.title = randomTitle(random); },
        [&] { video.title = video.title.toUpper(); }, // same collation key, other text
        [&] { video.uploadDate = pick(random, kDates); },
        [&] { video.createdAt = qint64(random.bounded(4)) - 1; },
        [&] { video.duration = pick(random, kDurations); },
        [&] { video.excluded = !video.excluded; },
        [&] { video.watched = !video.watched; },
        [&] { video.syncStateRaw = pick(random, kStates); },
        [&] {
            video.ownerEmail = pick(random, kOwners);
            video.readOnly = !video.readOnly;
        },
        [&] { video.youtubeID = QStringLiteral("renamed%1").arg(random.bounded(5)); },
    };
    changes[random.bounded(int(std::size(changes)))]();
}

// Between two queries: nothing (the revision still moves), a sync changing many records, some
// added, one removed, the store order changed, or a few records changed.
void mutate(QRandomGenerator &random, Records &library, int &serial)
{
    const QList<const Video *> &records = library.records;
    const int kind = random.bounded(10);
    for (const Video *video : records) {
        if (kind == 1 && random.bounded(2) == 0)
            changeInPlace(random, *video);
    }
    for (int i = 0, added = kind == 2 ? 1 + random.bounded(8) : 0; i < added; ++i)
        library.add(randomSeed(random, serial++));
    if (kind == 3 && !records.isEmpty())
        library.remove(random.bounded(records.size()));
    if (kind == 4 && records.size() > 1)
        library.records.move(random.bounded(records.size()), random.bounded(records.size()));
    for (int i = 0, changes = kind > 4 ? 1 + random.bounded(3) : 0; i < changes && !records.isEmpty(); ++i)
        changeInPlace(random, *records[random.bounded(records.size())]);
}

LibraryFilter randomFilter(QRandomGenerator &random)
{
    LibraryFilter filter;
    filter.search = randomSearch(random);
    filter.year = pick(random, kYears);
    filter.sort = kAllSortModes[size_t(random.bounded(int(kAllSortModes.size())))];
    filter.showExcluded = random.bounded(4) == 0;
    filter.hideWatched = random.bounded(2) == 0;
    for (const QString &owner : kOwners + QStringList{u"nobody@x"_qs}) {
        if (random.bounded(3) == 0)
            filter.hiddenOwners.insert(owner);
    }
    return filter;
}

QString describe(const LibraryFilter &filter)
{
    return QStringList{filter.search,
                       filter.year,
                       rawFromSortMode(filter.sort),
                       filter.showExcluded ? u"excluded"_qs : u""_qs,
                       filter.hideWatched ? u"unwatched"_qs : u""_qs,
                       QStringList(filter.hiddenOwners.cbegin(), filter.hiddenOwners.cend()).join(u',')}
        .join(u'|');
}

} // namespace

class LibraryTest : public QObject
{
    Q_OBJECT

    QStringList m_modelSignals;
    // What the model tells from now on, in order: "+first-last", "-first-last", "~first-last", "reset".
    const QStringList &modelSignals(VideoListModel &model)
    {
        m_modelSignals.clear();
        const auto rows = [this](const char *sign) {
            return [this, sign](const QModelIndex &, int first, int last) {
                m_modelSignals << QString::fromLatin1(sign) + u"%1-%2"_qs.arg(first).arg(last);
            };
        };
        connect(&model, &QAbstractItemModel::rowsInserted, this, rows("+"));
        connect(&model, &QAbstractItemModel::rowsRemoved, this, rows("-"));
        connect(&model, &QAbstractItemModel::modelReset, this, [this] { m_modelSignals << u"reset"_qs; });
        connect(&model, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex &a, const QModelIndex &b) {
            m_modelSignals << u"~%1-%2"_qs.arg(a.row()).arg(b.row());
        });
        return m_modelSignals;
    }

private Q_SLOTS:
    void apply_data()
    {
        QTest::addColumn<Seeds>("records");
        QTest::addColumn<LibraryFilter>("filter");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, const Seeds &records, const LibraryFilter &filter, const char *ids) {
            QTest::newRow(name) << records << filter << QString::fromUtf8(ids);
        };
        row("empty library", {}, {}, "");
        const Seeds states = seeds(u"synced=synced|add=needsAdd|patch=needsPatch|delete=needsDelete|odd=NeedsDelete|"
                                   u"gone-excluded=needsDelete|excluded=synced"_qs,
                                   &RecordSeed::syncState, {5, 6});
        row("deletions dropped, any other state stays", states, {}, "synced add patch odd");
        row("only excluded shown, deletions still dropped", states, {.showExcluded = true}, "excluded");
        const Seeds viewing{{.id = u"seen"_qs, .watched = true},
                            {.id = u"fresh"_qs},
                            {.id = u"seen-excluded"_qs, .excluded = true, .watched = true},
                            {.id = u"excluded"_qs, .excluded = true}};
        row("watched shown unless hidden", viewing, {}, "seen fresh");
        row("watched hidden", viewing, {.hideWatched = true}, "fresh");
        row("watched hidden among the excluded too", viewing, {.showExcluded = true, .hideWatched = true}, "excluded");
        const Seeds owners{{.id = u"mine"_qs, .ownerEmail = u"mum@example.com"_qs},
                           shared(u"mums"_qs, u"mum@example.com"_qs),
                           shared(u"dads"_qs, u"dad@example.com"_qs),
                           shared(u"case"_qs, u"Mum@example.com"_qs)};
        row("hidden owner: only shared records hidden", owners, {.hiddenOwners = {u"mum@example.com"_qs}},
            "mine dads case");
        row("hidden owners: empty address hides shared records without owner",
            {shared(u"blank"_qs, {}), {.id = u"own"_qs}}, {.hiddenOwners = {QString()}}, "own");
        const Seeds years = dates(u"day=2021-01-01|bare=2021|empty=|short=21|before=2020-12-31|space= 2021"_qs);
        row("year by its first four characters", years, {.year = u"2021"_qs, .sort = SortMode::oldest}, "bare day");
        row("year: short dates are their own year", years, {.year = u"21"_qs}, "short");
        row("year counts characters, not code units", dates(u"accent=2021\u0301-01|plain=2021-01"_qs),
            {.year = u"2021\u0301"_qs}, "accent");
        const auto sorted = [&row](const char *name, const Seeds &records, SortMode sort, const char *ids) {
            row(name, records, {.sort = sort}, ids);
        };
        const Seeds ties = dates(u"ten=2024-05-01@10|twenty=2024-05-01@20|older=2023-12-31@99|neg=2023-12-31@-5"_qs);
        sorted("newest: ties by creation time", ties, SortMode::newest, "twenty ten older neg");
        sorted("oldest: ties by creation time", ties, SortMode::oldest, "neg older ten twenty");
        sorted("newest: full ties keep store order", dates(u"a=2024@1|b=2024@1|c=2024@1"_qs), SortMode::newest,
               "a b c");
        const Seeds texts = dates(u"empty=|day=2024-01-02|year=2024|word=abcd"_qs);
        sorted("newest: dates as plain text, empty last", texts, SortMode::newest, "word day year empty");
        sorted("oldest: empty first", texts, SortMode::oldest, "empty year day word");
        sorted("oldest: code-point order beyond the basic plane", dates(u"astral=\U0001F600|private=\uE000"_qs),
               SortMode::oldest, "private astral");
        const auto lengths = [](const QString &text) { return seeds(text, &RecordSeed::duration); };
        sorted("longest", lengths(u"4:05=4:05|45=45|none=|1:02:03=1:02:03|59:59=59:59"_qs), SortMode::longest,
               "1:02:03 59:59 4:05 45 none");
        sorted("longest: equal lengths keep store order", lengths(u"a=1:00|b=60|c=0:60"_qs), SortMode::longest,
               "a b c");
        const auto titles = [](const QString &text) { return seeds(text, &RecordSeed::title); };
        sorted("title: case ignored, empty first", titles(u"cherry=cherry|apple=apple|Banana=Banana|empty="_qs),
               SortMode::title, "empty apple Banana cherry");
        sorted("title: same but for case keeps store order", titles(u"upper=APPLE|lower=apple|mixed=Apple"_qs),
               SortMode::title, "upper lower mixed");
        Seeds every = dates(u"keep2=2021-02-01|gone=2021-03-01|hidden=2021-04-01|excluded=2021-05-01|"
                            u"other-year=2022-01-01|other-title=2021-06-01|keep1=2021-07-01"_qs);
        for (RecordSeed &seed : every)
            seed.title = u"Live Set"_qs;
        every[1].syncState = SyncStateRaw::needsDelete;
        every[2].ownerEmail = u"x@y"_qs;
        every[2].readOnly = true;
        every[3].excluded = true;
        every[5].title = u"Studio"_qs;
        every[6].title = u"set: LIVE"_qs;
        row("every step at once", every, {.search = u"set live"_qs, .year = u"2021"_qs, .hiddenOwners = {u"x@y"_qs}},
            "keep1 keep2");
    }
    void apply()
    {
        QFETCH(Seeds, records);
        QFETCH(LibraryFilter, filter);
        QTEST(ids(filter.apply(Records(records).records)), "expected");
    }

    void applyIsPureAndSkipsNull()
    {
        Records library({titled(u"b"_qs, u"B"_qs), titled(u"a"_qs, u"a"_qs)});
        const QList<const Video *> before = library.records;
        const Video copy = *before[0];
        QList<const Video *> withNull = before;
        withNull.insert(1, nullptr);
        const QList<const Video *> visible = LibraryFilter{.sort = SortMode::title}.apply(withNull);
        QCOMPARE(library.records, before);
        QCOMPARE(*before[0], copy);
        QCOMPARE(visible, (QList<const Video *>{before[1], before[0]}));
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
        const auto row = [](const char *name, const QString &title, const QString &search, bool found) {
            QTest::newRow(name) << title << search << found;
        };
        row("word order free", u"bar of foo"_qs, u"foo bar"_qs, true);
        row("every word needed", u"foo"_qs, u"foo bar"_qs, false);
        row("a word inside a word", u"FOOTBALL"_qs, u"ball"_qs, true);
        row("case ignored both ways", u"MiXeD"_qs, u"mIxEd"_qs, true);
        row("accent matters", u"Café"_qs, u"cafe"_qs, false);
        row("decomposed accent matters", u"Cafe\u0301"_qs, u"cafe"_qs, false);
        row("accented word finds decomposed title", u"CAFE\u0301"_qs, u"café"_qs, true);
        row("decomposed word finds composed title", u"café"_qs, u"cafe\u0301"_qs, true);
        row("accent on capital folds", u"ÉCOLE"_qs, u"école"_qs, true);
        row("the accent alone is no word", u"Café"_qs, u"\u0301"_qs, false);
        row("letter before an accent is not the letter", u"re\u0301sume\u0301 resume"_qs, u"resume"_qs, true);
        row("emoji sequence not cut", u"family 👨‍👩‍👧 day"_qs, u"👨"_qs, false);
        row("whole emoji sequence found", u"family 👨‍👩‍👧 day"_qs, u"👨‍👩‍👧"_qs, true);
        row("capital beyond the basic plane", u"\U00010400"_qs, u"\U00010428"_qs, true);
        row("dotted capital I keeps its dot", u"İSTANBUL"_qs, u"istanbul"_qs, false);
        row("sharp s is no ss", u"Straße"_qs, u"strasse"_qs, false);
        row("title only, not other text", u"Concert"_qs, u"2021"_qs, false);
        row("empty title", QString(), u"a"_qs, false);
        row("leading and trailing spaces", u"abc"_qs, u" abc "_qs, true);
        row("spaces only keep everything", u"a b"_qs, u" "_qs, true);
        row("tab is no separator", u"foo bar"_qs, u"foo\tbar"_qs, false);
        row("no-break space is part of a word", u"a\u00A0b"_qs, u"a\u00A0b"_qs, true);
        row("no-break space is not a space", u"a b"_qs, u"a\u00A0b"_qs, false);
    }
    void search()
    {
        QFETCH(QString, title);
        QFETCH(QString, search);
        QFETCH(bool, found);
        const Records library({titled(u"x"_qs, title)});
        QCOMPARE(LibraryFilter{.search = search}.apply(library.records).size(), found ? 1 : 0);
    }

    // Upload dates, "|" between them, and the years their menu lists.
    void years_data()
    {
        QTest::addColumn<QString>("uploadDates");
        QTest::addColumn<QString>("years");
        QTest::newRow("example") << u"2019-01-01|2021-06-30|2021-01-01||abcd-xx"_qs << u"abcd|2021|2019"_qs;
        QTest::newRow("short texts left out") << u"21|202|2020"_qs << u"2020"_qs;
        QTest::newRow("four characters with an accent") << u"2021\u0301-01|e\u0301e\u0301"_qs << u"2021\u0301"_qs;
        QTest::newRow("code-point order") << u"\uE000abc|\U0001F600abc|zzzz"_qs << u"\U0001F600abc|\uE000abc|zzzz"_qs;
    }
    void years()
    {
        QFETCH(QString, uploadDates);
        Records library;
        for (const QString &date : uploadDates.split(u'|'))
            library.add({.id = u"id"_qs, .uploadDate = date});
        QTEST(LibraryLists::years(library.records).join(u'|'), "years");
    }

    // The menus and the lookup by ID list what every record has, also excluded ones and those
    // pending deletion; of two records with one ID the first is found.
    void yearsOwnersAndLookupIncludeEveryRecord()
    {
        Seeds seeds{
            shared(u"gone"_qs, u"b@x"_qs),  shared(u"excluded"_qs, u"a@x"_qs),          shared(u"blank"_qs, {}),
            shared(u"again"_qs, u"a@x"_qs), {.id = u"own"_qs, .ownerEmail = u"c@x"_qs}, shared(u"gone"_qs, u"z@x"_qs)};
        seeds[0].uploadDate = u"2001-01-01"_qs;
        seeds[0].syncState = SyncStateRaw::needsDelete;
        seeds[1].uploadDate = u"2002-01-01"_qs;
        seeds[1].excluded = true;
        const Records library(seeds);
        QCOMPARE(ids(LibraryFilter().apply(library.records)), u"blank again own gone"_qs);
        QCOMPARE(LibraryLists::years(library.records), (QStringList{u"2002"_qs, u"2001"_qs}));
        QCOMPARE(LibraryLists::sharedOwners(library.records),
                 (QStringList{QString(), u"a@x"_qs, u"b@x"_qs, u"z@x"_qs}));
        const QHash<QString, const Video *> lookup = LibraryLists::byID(library.records);
        QCOMPARE(lookup.size(), 5);
        QCOMPARE(lookup.value(u"gone"_qs), library.records[0]);
    }

    // The kept orders must give exactly what the plain filter gives, for random libraries and
    // filters, while records are changed in place, added, removed and moved.
    void sameAsApply_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<quint32>("seed");
        for (const QString &locale : {u"C"_qs, u"en_US"_qs, u"sv_SE"_qs}) {
            for (quint32 seed = 1; seed <= 3; ++seed)
                QTest::addRow("%s seed %u", qPrintable(locale), seed) << locale << seed;
        }
    }
    void sameAsApply()
    {
        QFETCH(QString, locale);
        QFETCH(quint32, seed);
        const QLocale previous;
        QLocale::setDefault(QLocale(locale));
        const auto restore = qScopeGuard([&previous] { QLocale::setDefault(previous); });
        QRandomGenerator random(seed);
        Records library;
        int serial = 0;
        for (const int initial = random.bounded(120); serial < initial;)
            library.add(randomSeed(random, serial++));
        LibraryIndex index;
        quint64 revision = 1;
        for (int round = 0; round < 150; ++round) {
            for (int query = 0; query < 6; ++query) {
                const LibraryFilter filter = randomFilter(random);
                const QList<const Video *> expected = filter.apply(library.records);
                const QList<const Video *> actual = index.visible(library.records, revision, filter);
                if (actual != expected)
                    QFAIL(qPrintable(QStringLiteral("round %1, %2:\n  index %3\n  apply %4")
                                         .arg(QString::number(round), describe(filter), ids(actual), ids(expected))));
            }
            QCOMPARE(index.years(library.records, revision), LibraryLists::years(library.records));
            QCOMPARE(index.sharedOwners(library.records, revision), LibraryLists::sharedOwners(library.records));
            QCOMPARE(index.byID(library.records, revision), LibraryLists::byID(library.records));
            if (random.bounded(4) == 0)
                index.prepare(library.records, revision, kAllSortModes[size_t(random.bounded(4))]);
            mutate(random, library, serial);
            ++revision;
        }
    }

    // Swedish puts "ö" after "z"; German sorts it with "o". The filter and the kept title
    // order both follow the locale of the moment.
    void titleOrderFollowsLocale()
    {
        const Records library({{.id = u"z"_qs, .title = u"zebra"_qs}, {.id = u"o"_qs, .title = u"öl"_qs}});
        const QLocale previous;
        const auto restore = qScopeGuard([&previous] { QLocale::setDefault(previous); });
        const LibraryFilter byTitle{.sort = SortMode::title};
        LibraryIndex index;
        for (const auto &[language, expected] :
             {std::pair{QLocale::Swedish, u"z o"_qs}, std::pair{QLocale::German, u"o z"_qs}}) {
            QLocale::setDefault(QLocale(language));
            QCOMPARE(ids(index.visible(library.records, 1, byTitle)), expected);
            QCOMPARE(ids(byTitle.apply(library.records)), expected);
        }
    }

    // One edit after the list has been shown: the kept order is mended, not sorted again, so
    // the work is a search per changed record and grows with the logarithm of the library.
    void oneEditCostsTheSameAtAnySize_data()
    {
        QTest::addColumn<SortMode>("sort");
        QTest::addColumn<int>("field"); // 0 title, 1 upload date, 2 duration
        for (const SortMode sort : kAllSortModes) {
            for (int field = 0; field < 3; ++field)
                QTest::addRow("%s, field %d", qPrintable(rawFromSortMode(sort)), field) << sort << field;
        }
    }
    void oneEditCostsTheSameAtAnySize()
    {
        QFETCH(SortMode, sort);
        QFETCH(int, field);
        const auto costAfterOneEdit = [&](int size) {
            Records library;
            for (int i = 0; i < size; ++i) {
                const int mixed = int((qint64(i) * 7919) % size);
                library.add(
                    {.id = u"v%1"_qs.arg(i),
                     .title = u"Title %1"_qs.arg(mixed),
                     .uploadDate = QString::asprintf("20%02d-%02d-%02d", mixed % 25, 1 + mixed % 12, 1 + i % 28),
                     .duration = u"%1:%2"_qs.arg(mixed % 90).arg(i % 50 + 10),
                     .createdAt = i});
            }
            const LibraryFilter filter{.sort = sort};
            LibraryIndex index;
            index.visible(library.records, 1, filter);
            Video &edited = const_cast<Video &>(*library.records[size / 2]);
            const QString changes[] = {u"Retitled"_qs, u"2030-01-01"_qs, u"5:00:00"_qs};
            QString *const fields[] = {&edited.title, &edited.uploadDate, &edited.duration};
            *fields[field] = changes[field];
            index.resetWork();
            const QList<const Video *> shown = index.visible(library.records, 2, filter);
            [&] { QCOMPARE(shown, filter.apply(library.records)); }();
            return index.work();
        };
        const LibraryIndex::Work small = costAfterOneEdit(2000);
        const LibraryIndex::Work large = costAfterOneEdit(20000);
        QCOMPARE(small.derived, 1u);
        QCOMPARE(large.derived, 1u);
        QCOMPARE(large.fullSorts, 0u);
        // Ten times the records: a binary search a few steps longer, nothing proportional.
        QVERIFY2(large.comparisons <= small.comparisons + 8,
                 qPrintable(u"%1 comparisons at 2,000, %2 at 20,000"_qs.arg(small.comparisons).arg(large.comparisons)));
    }

    // A caller that hands over other records under an unchanged revision still gets them.
    void otherRecordsUnderSameRevision()
    {
        const Records first({{.id = u"a"_qs}, {.id = u"b"_qs}});
        const Records second({{.id = u"c"_qs}});
        LibraryIndex index;
        QCOMPARE(ids(index.visible(first.records, 7, {})), u"a b"_qs);
        QCOMPARE(ids(index.visible(second.records, 7, {})), u"c"_qs);
        QList<const Video *> withNull = first.records;
        withNull.insert(1, nullptr);
        QCOMPARE(ids(index.visible(withNull, 7, {})), u"a b"_qs);
        QCOMPARE(index.visible({}, 7, {}), QList<const Video *>());
    }

    // A boundary taken as certain between two free-standing units must be one for the full
    // segmentation, for every unit of the basic plane next to each kind of neighbour.
    void freeStandingUnitsAlwaysBreak()
    {
        const QList<char16_t> neighbours{u'a', u' ', 0x00E9, 0x00A9, 0x2600, 0xAC00, 0xAC01, 0x0416, 0x4E2D, 0x0085};
        for (const char16_t neighbour : neighbours)
            QVERIFY(TextRules::isFreeStanding(neighbour));
        int freeStanding = 0;
        for (char32_t code = 0; code <= 0xFFFF; ++code) {
            const char16_t unit = char16_t(code);
            if (!TextRules::isFreeStanding(unit))
                continue;
            ++freeStanding;
            for (const char16_t neighbour : neighbours) {
                const QChar text[] = {QChar(neighbour), QChar(unit), QChar(neighbour)};
                QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text, 3);
                finder.setPosition(1);
                const bool before = finder.isAtBoundary();
                finder.setPosition(2);
                if (!before || !finder.isAtBoundary())
                    QFAIL(qPrintable(
                        QStringLiteral("U+%1 beside U+%2").arg(int(unit), 4, 16).arg(int(neighbour), 4, 16)));
            }
        }
        QVERIFY(freeStanding > 50000); // the quick path covers most scripts
    }

    // Counting clusters, and the year text of a record (its upload date's first four grapheme
    // clusters), agree with the full segmentation (the pieces reach both sides of the quick path
    // for plain dates).
    void clustersMatchSegmentation()
    {
        QRandomGenerator random(11);
        for (int round = 0; round < 5000; ++round) {
            const QString text = randomText(random, 9);
            const QList<qsizetype> ends = clusterEnds(text);
            QCOMPARE(TextRules::graphemeCount(text), ends.size());
            const QString expected = ends.size() <= 4 ? text : text.left(ends[3]);
            const Video video(u"id"_qs, {}, {}, text, {}, false, {}, 0, 0, {});
            if (video.yearText() != expected)
                QFAIL(qPrintable(QStringLiteral("upload date %1").arg(QString::fromLatin1(text.toUtf8().toHex(' ')))));
        }
    }

    // The quick lower-casing of Latin-1 titles gives what the general one gives.
    void foldLatin1()
    {
        for (char16_t first = 0; first < 0x100; ++first) {
            for (char16_t second = 0; second < 0x100; ++second) {
                const QString text = QString(QChar(first)) + QChar(second);
                QCOMPARE(TitleSearch::fold(text), text.toLower().normalized(QString::NormalizationForm_C));
            }
        }
    }

    // Title keys order exactly as QCollator::compare, in every locale and without one.
    void collationKeys_data()
    {
        QTest::addColumn<QString>("locale");
        for (const QString &name :
             {u"C"_qs, u"en_US"_qs, u"de_DE"_qs, u"sv_SE"_qs, u"tr_TR"_qs, u"ja_JP"_qs, u"fr_CA"_qs})
            QTest::newRow(qPrintable(name)) << name;
    }
    void collationKeys()
    {
        QFETCH(QString, locale);
        const QStringList titles =
            u"|\u0001|\u0002|a|A|b|B|ab|a b|a-b|ä|a\u0308|Ä|z|ö|o|ı|I|i|İ|ß|ss|SS|10|9|\U00010400|"
            u"\U00010428|\uE000|\uFFFF|Ω|ω|日本|にほん|ニホン|Ǆ|ǅ|ǆ|côte|coté|cote|Côté|\u00A0a|é|e\u0301"_qs.split(
                u'|') +
            QStringList{kHighSurrogate, kLowSurrogate};
        const QLocale previous;
        QLocale::setDefault(QLocale(locale));
        const TitleCollation collation;
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        QList<TitleCollation::Key> keys;
        for (const QString &title : titles)
            keys.append(collation.key(title));
        QLocale::setDefault(previous);
        for (qsizetype i = 0; i < titles.size(); ++i) {
            for (qsizetype j = 0; j < titles.size(); ++j) {
                const int expected = std::clamp(collator.compare(titles[i], titles[j]), -1, 1);
                if (std::clamp(TitleCollation::compare(keys[i], keys[j]), -1, 1) != expected)
                    QFAIL(qPrintable(QStringLiteral("%1 vs %2").arg(titles[i], titles[j])));
            }
        }
    }

    // The list model tells each change as what it is, and keeps Qt's contract throughout (the
    // model tester checks every signal): rows that left or came in runs, a reset for a new order
    // or too many changes, nothing for the same list; changed records in runs of rows.
    void listModelTellsChangesAsTheyAre_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("signals");
        const auto row = [](const char *name, const char *from, const char *to, const char *signals) {
            QTest::newRow(name) << QString::fromLatin1(from) << QString::fromLatin1(to) << QString::fromLatin1(signals);
        };
        row("same list", "abcdef", "abcdef", "");
        row("one added at the top", "abcdef", "xabcdef", "+0-0");
        row("runs leave", "abcdef", "adf", "-4-4 -1-2");
        row("leave and come", "abcdef", "xybcfz", "-3-4 -0-0 +0-1 +5-5");
        row("new order", "abcdef", "fedcba", "reset");
        row("from nothing", "", "abc", "+0-2");
    }
    void listModelTellsChangesAsTheyAre()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        Records library(Seeds{});
        for (const QChar id : u"abcdefxyz"_qs)
            library.add({.id = id});
        const auto rows = [&](const QString &ids) {
            QList<const Video *> list;
            for (const QChar id : ids)
                list.append(*std::find_if(library.records.cbegin(), library.records.cend(),
                                          [&](const Video *v) { return v->youtubeID == id; }));
            return list;
        };
        VideoListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setVisible(rows(from));
        const QStringList &seen = modelSignals(model);
        model.setVisible(rows(to));
        QTEST(seen.join(u' '), "signals");
        QCOMPARE(model.visible(), rows(to));
    }

    void listModelForgetsAndChangesInRuns()
    {
        Records library(Seeds{});
        for (int i = 0; i < 10; ++i)
            library.add({.id = QString::number(i)});
        VideoListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setVisible(library.records);
        const QStringList &seen = modelSignals(model);
        model.forget({library.records[2], library.records[3], library.records[7]});
        for (const int i : {9, 5, 4, 0})
            model.recordChanged(library.records[i]);
        QCOMPARE(seen.join(u' '), u"-7-7 -2-3"_qs);
        QTest::qWait(0);
        QCOMPARE(seen.join(u' '), u"-7-7 -2-3 ~0-0 ~2-3 ~6-6"_qs);
        QCOMPARE(model.data(model.index(2), VideoListModel::videoRole).value<const Video *>(), library.records[4]);
    }

    void stepTarget_data()
    {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("selected"); // empty: none
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("browsing");
        QTest::addColumn<QString>("target"); // empty: none
        const auto row = [](const char *name, const char *rows, const char *selected, int step, bool browsing,
                            const char *target) {
            QTest::newRow(name) << QString::fromUtf8(rows) << QString::fromUtf8(selected) << step << browsing
                                << QString::fromUtf8(target);
        };
        const char *rows = "a1 x-2 a3 x-4";
        row("stays on the first row", rows, "a1", -1, false, "a1");
        row("nothing selected, next is the second", rows, "", 1, false, "x-2");
        row("nothing selected, previous is the first", rows, "", -1, false, "a1");
        row("selection not listed counts as first", rows, "gone", 2, false, "a3");
        row("one row", "a1", "", 1, false, "a1");
        row("big steps clamp", rows, "a3", -100, false, "a1");
        row("browse mode skips what cannot play", rows, "a1", 1, true, "a3");
        row("browse mode at the end", rows, "a3", 1, true, "a3");
        row("browse mode from a link record", rows, "x-2", 1, true, "a3");
        row("empty list", "", "a1", 1, false, "");
        row("browse mode, nothing playable", "x-1", "", 1, true, "");
    }
    void stepTarget()
    {
        QFETCH(QString, rows);
        QFETCH(QString, selected);
        QFETCH(int, step);
        QFETCH(bool, browsing);
        QFETCH(QString, target);
        QCOMPARE(LibraryNavigation::stepTarget(named(rows).records, nav(selected), step, browsing), nav(target));
    }

    void upNextAndPosition_data()
    {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("upNext");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("total");
        const auto row = [](const char *name, const char *rows, const char *selected, const char *upNext, int index,
                            int total) {
            QTest::newRow(name) << QString::fromUtf8(rows) << QString::fromUtf8(selected) << QString::fromUtf8(upNext)
                                << index << total;
        };
        const char *ten = "a0 x-1 a2 a3 x-4 a5 a6 a7 a8 a9";
        row("unselected: the first five", ten, "", "a0 x-1 a2 a3 x-4", 0, 8);
        row("five after the selection, link records kept", ten, "a0", "x-1 a2 a3 x-4 a5", 0, 8);
        row("fewer at the end", ten, "a7", "a8 a9", 5, 8);
        row("the last row", ten, "a9", "", 7, 8);
        row("a link record has no place among the playable", ten, "x-4", "a5 a6 a7 a8 a9", 0, 8);
        row("short list", "a0 a1", "zz", "a0 a1", 0, 2);
    }
    void upNextAndPosition()
    {
        QFETCH(QString, rows);
        QFETCH(QString, selected);
        QFETCH(int, index);
        QFETCH(int, total);
        const Records library = named(rows);
        QTEST(ids(LibraryNavigation::upNext(library.records, nav(selected))), "upNext");
        QCOMPARE(LibraryNavigation::position(library.records, nav(selected)),
                 (LibraryNavigation::Position{index, total}));
        QCOMPARE(LibraryNavigation::position(library.records, LibraryNavigation::unplayableRows(library.records),
                                             nav(selected)),
                 (LibraryNavigation::Position{index, total}));
    }

    void syncLine_data()
    {
        QTest::addColumn<Sync>("sync");
        QTest::addColumn<QString>("text"); // an error only when not syncing
        const QString failed = u"Server error (500)"_qs;
        QTest::newRow("syncing without a fraction") << syncState(true) << u"Syncing…"_qs;
        QTest::newRow("syncing before a total") << syncState(true, 0.5) << u"Syncing…"_qs;
        QTest::newRow("downloading, truncated") << syncState(true, 0.429, 3400, {}, true) << u"Downloading 42%"_qs;
        QTest::newRow("downloading, all") << syncState(true, 1.0, 10) << u"Downloading 100%"_qs;
        QTest::newRow("a syncing cycle hides the old error") << syncState(true, {}, 0, failed, true) << u"Syncing…"_qs;
        QTest::newRow("the error") << syncState(false, {}, 0, failed, true) << failed;
        QTest::newRow("synced") << syncState(false, {}, 0, {}, true) << u"Synced 14:05"_qs;
        QTest::newRow("never synced") << syncState(false) << QString();
    }
    void syncLine()
    {
        QFETCH(Sync, sync);
        for (const QLocale &locale : {QLocale(QLocale::German, QLocale::Germany), QLocale::c()}) {
            const StatusText::Line line = StatusText::syncLine(sync, locale);
            QTEST(line.text, "text");
            QCOMPARE(line.isError, !sync.syncing && sync.error.has_value());
        }
    }

    // The plain forms of these texts are read by the window suite; here the locale's grouping and clock.
    void textsFollowTheLocale()
    {
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(StatusText::searchPlaceholder(100000, english), u"Search 100,000 videos"_qs);
        QCOMPARE(StatusText::downloadText(1250, 3400, english), u"1,250 of 3,400 videos"_qs);
        QCOMPARE(StatusText::downloadText(0, 0, english), u"Downloading your library…"_qs);
        QCOMPARE(StatusText::countText(0, 1234, QLocale(QLocale::German, QLocale::Germany)), u"0 of 1.234 videos"_qs);
        StatusText::Sync sync;
        sync.lastSync = QDateTime(QDate(2026, 3, 1), QTime(14, 5, 30));
        const QString synced = StatusText::syncLine(sync, english).text;
        QVERIFY2(synced.startsWith(u"Synced 2:05"_qs) && synced.contains(u"PM"_qs) && !synced.contains(u"30"_qs),
                 qPrintable(synced));
    }

    void highlightRanges_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("highlight");
        QTest::addColumn<Ranges>("ranges");
        QTest::newRow("every occurrence of a word")
            << u"Foo fighters: foo live"_qs << u"FOO"_qs << Ranges{{0, 3}, {14, 3}};
        QTest::newRow("two words may mark one title twice")
            << u"Abba"_qs << u"a b"_qs << Ranges{{0, 1}, {3, 1}, {1, 1}, {2, 1}};
        QTest::newRow("no words") << u"Abba"_qs << u"   "_qs << Ranges{};
        QTest::newRow("hits of one word do not overlap") << u"aaaa"_qs << u"aa"_qs << Ranges{{0, 2}, {2, 2}};
        QTest::newRow("no hit") << u"Football"_qs << u"basket"_qs << Ranges{};
        QTest::newRow("inside another word") << u"Football"_qs << u"ball"_qs << Ranges{{4, 4}};
        // An emoji of four UTF-16 units is one character: the mark after it starts after it.
        QTest::newRow("characters of several units") << u"👍🏽 great"_qs << u"great"_qs << Ranges{{5, 5}};
        // A decomposed accent is one character with its letter: "e" alone does not hit "é".
        QTest::newRow("accent never split") << u"Cafe\u0301 e"_qs << u"e"_qs << Ranges{{6, 1}};
        QTest::newRow("composed and decomposed accents meet") << u"Cafe\u0301"_qs << u"café"_qs << Ranges{{0, 5}};
        // "İ" lower-cases to two units ("i" and a combining dot), one character either way.
        QTest::newRow("lower-casing that lengthens the title") << u"İİ ab"_qs << u"ab"_qs << Ranges{{3, 2}};
        QTest::newRow("a hit at the very end") << u"abc"_qs << u"c"_qs << Ranges{{2, 1}};
    }
    void highlightRanges()
    {
        QFETCH(QString, title);
        QFETCH(QString, highlight);
        const Ranges found = RowText::highlightRanges(title, highlight);
        QTEST(found, "ranges");
        for (const RowText::Range &range : found)
            QVERIFY(range.start >= 0 && range.start + range.length <= title.size());
    }

    void factsAndSource_data()
    {
        QTest::addColumn<QString>("record"); // upload date|length|source
        QTest::addColumn<QString>("facts");
        QTest::addColumn<QString>("symbol");
        QTest::newRow("both") << u"2021-03-04|12:34|telegram"_qs << u"2021-03-04 · 12:34"_qs << u"paperplane.fill"_qs;
        QTest::newRow("no length, no dot") << u"2021-03-04||ios"_qs << u"2021-03-04"_qs << u"iphone"_qs;
        QTest::newRow("no date") << u"|4:05|web"_qs << u" · 4:05"_qs << u"globe"_qs;
        QTest::newRow("unknown source") << u"2020||Web"_qs << u"2020"_qs << u"tray.full"_qs;
        QTest::newRow("empty source") << u"||"_qs << QString() << u"tray.full"_qs;
    }
    void factsAndSource()
    {
        QFETCH(QString, record);
        const QStringList fields = record.split(u'|');
        const Video video(u"abcdefghijk"_qs, u"T"_qs, {}, fields[0], fields[1], false, fields[2], 0, 0, {});
        QTEST(RowText::factsText(video), "facts");
        QTEST(RowText::sourceSymbolName(fields[2]), "symbol");
    }

    void accessibleTextNamesTheStates()
    {
        Video video(u"abcdefghijk"_qs, u"Talk"_qs, {}, u"2021-03-04"_qs, u"4:05"_qs, true, {}, 0, 0,
                    SyncStateRaw::needsAdd);
        QCOMPARE(RowText::accessibleText(video, false), u"Talk, 2021-03-04 · 4:05, excluded, waiting to sync"_qs);
        video.excluded = false;
        video.syncStateRaw = u"strange"_qs;
        video.readOnly = true;
        video.ownerEmail = u"ann@example.com"_qs;
        QCOMPARE(RowText::accessibleText(video, true),
                 u"Talk, 2021-03-04 · 4:05, playing, shared by ann@example.com"_qs);
    }
};

QTEST_GUILESS_MAIN(LibraryTest)
#include "LibraryTest.moc"
