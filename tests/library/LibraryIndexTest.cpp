#include "LibraryIndex.h"
#include "LibraryFilter.h"
#include "LibraryFixture.h"
#include "LibraryLists.h"

#include <QLocale>
#include <QRandomGenerator>
#include <QTest>
#include <functional>

using namespace clipvane;
using clipvane::test::LibraryFixture;
using clipvane::test::RecordSeed;

namespace {

const QString kFamily = u"\U0001F468\u200D\U0001F469\u200D\U0001F467"_qs; // one cluster of three people
const QStringList kWords{u"live"_qs,      u"Live"_qs,   u"LIVE"_qs,     u"set"_qs,   u"café"_qs,     u"Cafe\u0301"_qs,
                         u"cafe"_qs,      u"CAFÉ"_qs,   u"football"_qs, u"Ball"_qs,  u"straße"_qs,   u"STRASSE"_qs,
                         u"Москва"_qs,    u"москва"_qs, u"Ωmega"_qs,    u"ωmega"_qs, u"İstanbul"_qs, u"istanbul"_qs,
                         kFamily,         u"👨"_qs,      u"a"_qs,        u"A"_qs,     u"ä"_qs,        u"a\u0308"_qs,
                         u"z"_qs,         u"öl"_qs,     u"10"_qs,       u"9"_qs,     u"-"_qs,        u"日本"_qs,
                         u"\U00010400"_qs};
// Dates as the service may send them, also ones that are no dates at all.
const QStringList kDates =
    u"|2021-03-04|2021-03-04|2021-03-05|2020-12-31|2021|21|abcd-xx|2021\u0301-01|\uE000|"
    u"\U0001F600x|2019-01-01|2021-03-04\u0000|2021-03-04T10:00:00Z|2021-03-04T10:00:01Z"_qs.split(u'|');
const QStringList kDurations{QString(),  u"4:05"_qs, u"245"_qs,  u"45"_qs,   u"1:02:03"_qs, u"59:59"_qs,
                             u"a:30"_qs, u"60"_qs,   u"1:00"_qs, u"0:60"_qs, u"-5"_qs};
const QStringList kStates{u"synced"_qs, u"synced"_qs, u"needsAdd"_qs, u"needsPatch"_qs, u"needsDelete"_qs, u"odd"_qs};
const QStringList kOwners{QString(), u"a@x"_qs, u"b@x"_qs, u"A@x"_qs};
const QStringList kYears{QString(), QString(),  u"2021"_qs,       u"2020"_qs,
                         u"21"_qs,  u"abcd"_qs, u"2021\u0301"_qs, u"1999"_qs};

template<typename T> const T &pick(QRandomGenerator &random, const QList<T> &from)
{
    return from[random.bounded(from.size())];
}

QString randomTitle(QRandomGenerator &random)
{
    QString title;
    const int words = random.bounded(5);
    for (int i = 0; i < words; ++i) {
        if (i > 0)
            title += random.bounded(4) == 0 ? u"  "_qs : u" "_qs;
        title += pick(random, kWords);
    }
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
        .syncState = pick(random, kStates),
        .ownerEmail = pick(random, kOwners),
        .readOnly = random.bounded(3) == 0,
    };
}

void changeInPlace(QRandomGenerator &random, Video &video)
{
    const std::function<void()> changes[] = {
        [&] { video.title = randomTitle(random); },
        [&] { video.title = video.title.toUpper(); }, // same collation key, other text
        [&] { video.uploadDate = pick(random, kDates); },
        [&] { video.createdAt = qint64(random.bounded(4)) - 1; },
        [&] { video.duration = pick(random, kDurations); },
        [&] { video.excluded = !video.excluded; },
        [&] { video.syncStateRaw = pick(random, kStates); },
        [&] {
            video.ownerEmail = pick(random, kOwners);
            video.readOnly = !video.readOnly;
        },
        [&] { video.youtubeID = QStringLiteral("renamed%1").arg(random.bounded(5)); },
    };
    changes[random.bounded(int(std::size(changes)))]();
}

LibraryFilter randomFilter(QRandomGenerator &random)
{
    LibraryFilter filter;
    filter.search = randomSearch(random);
    filter.year = pick(random, kYears);
    filter.sort = kAllSortModes[size_t(random.bounded(int(kAllSortModes.size())))];
    filter.showExcluded = random.bounded(4) == 0;
    for (const QString &owner : kOwners) {
        if (random.bounded(3) == 0)
            filter.hiddenOwners.insert(owner);
    }
    if (random.bounded(5) == 0)
        filter.hiddenOwners.insert(u"nobody@x"_qs);
    return filter;
}

QString describe(const LibraryFilter &filter)
{
    return QStringLiteral("search \"%1\" year \"%2\" sort %3 excluded %4 hidden %5")
        .arg(filter.search, filter.year, rawFromSortMode(filter.sort))
        .arg(filter.showExcluded)
        .arg(QStringList(filter.hiddenOwners.cbegin(), filter.hiddenOwners.cend()).join(u','));
}

} // namespace

class LibraryIndexTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
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
        LibraryFixture library;
        int serial = 0;
        const int initial = random.bounded(120);
        for (int i = 0; i < initial; ++i)
            library.add(randomSeed(random, serial++));

        LibraryIndex index;
        quint64 revision = 1;
        for (int round = 0; round < 150; ++round) {
            for (int query = 0; query < 6; ++query) {
                const LibraryFilter filter = randomFilter(random);
                const QList<Video *> expected = filter.apply(library.records());
                const QList<Video *> actual = index.visible(library.records(), revision, filter);
                if (actual != expected) {
                    QFAIL(qPrintable(QStringLiteral("round %1, %2 records, %3:\n  index %4\n  apply %5")
                                         .arg(round)
                                         .arg(library.records().size())
                                         .arg(describe(filter), LibraryFixture::ids(actual).join(u' '),
                                              LibraryFixture::ids(expected).join(u' '))));
                }
            }
            QCOMPARE(index.years(library.records(), revision), LibraryLists::years(library.records()));
            QCOMPARE(index.sharedOwners(library.records(), revision), LibraryLists::sharedOwners(library.records()));
            QCOMPARE(index.byID(library.records(), revision), LibraryLists::byID(library.records()));
            if (random.bounded(4) == 0)
                index.prepare(library.records(), revision, kAllSortModes[size_t(random.bounded(4))]);

            mutate(random, library, serial);
            ++revision;
        }
    }

    // Swedish puts "ö" after "z"; German sorts it with "o". The filter and the kept title
    // order both follow the locale of the moment.
    void titleOrderFollowsLocale()
    {
        const LibraryFixture library({{.id = u"z"_qs, .title = u"zebra"_qs}, {.id = u"o"_qs, .title = u"öl"_qs}});
        const QLocale previous;
        const auto restore = qScopeGuard([&previous] { QLocale::setDefault(previous); });
        const LibraryFilter byTitle{.sort = SortMode::title};
        LibraryIndex index;
        for (const auto &[language, expected] :
             {std::pair{QLocale::Swedish, u"z o"_qs}, std::pair{QLocale::German, u"o z"_qs}}) {
            QLocale::setDefault(QLocale(language));
            QCOMPARE(LibraryFixture::ids(index.visible(library.records(), 1, byTitle)).join(u' '), expected);
            QCOMPARE(LibraryFixture::ids(byTitle.apply(library.records())).join(u' '), expected);
        }
    }

    // A caller that hands over other records under an unchanged revision still gets them.
    void otherRecordsUnderSameRevision()
    {
        const LibraryFixture first({{.id = u"a"_qs}, {.id = u"b"_qs}});
        const LibraryFixture second({{.id = u"c"_qs}});
        LibraryIndex index;
        QCOMPARE(LibraryFixture::ids(index.visible(first.records(), 7, {})), (QStringList{u"a"_qs, u"b"_qs}));
        QCOMPARE(LibraryFixture::ids(index.visible(second.records(), 7, {})), QStringList{u"c"_qs});
        QList<Video *> withNull = first.records();
        withNull.insert(1, nullptr);
        QCOMPARE(LibraryFixture::ids(index.visible(withNull, 7, {})), (QStringList{u"a"_qs, u"b"_qs}));
        QCOMPARE(index.visible({}, 7, {}), QList<Video *>());
    }

private:
    static void mutate(QRandomGenerator &random, LibraryFixture &library, int &serial)
    {
        const QList<Video *> &records = library.records();
        switch (random.bounded(10)) {
        case 0: // nothing changed, the revision still moves
            break;
        case 1: // a sync: many records at once
            for (Video *video : records) {
                if (random.bounded(2) == 0)
                    changeInPlace(random, *video);
            }
            break;
        case 2: {
            const int added = 1 + random.bounded(8);
            for (int i = 0; i < added; ++i)
                library.add(randomSeed(random, serial++));
            break;
        }
        case 3:
            if (!records.isEmpty())
                library.remove(random.bounded(records.size()));
            break;
        case 4: // store order itself changes
            if (records.size() > 1)
                library.move(random.bounded(records.size()), random.bounded(records.size()));
            break;
        default: {
            const int changes = 1 + random.bounded(3);
            for (int i = 0; i < changes && !records.isEmpty(); ++i)
                changeInPlace(random, *records[random.bounded(records.size())]);
            break;
        }
        }
    }
};

QTEST_GUILESS_MAIN(LibraryIndexTest)
#include "LibraryIndexTest.moc"
