// Moving the selection through the visible list, the rows after it, the counter, and the texts
// of the status line and the empty library.
#include "LibraryNavigation.h"
#include "LibraryFixture.h"
#include "StatusText.h"

#include <QTest>

using namespace clipvane;
using namespace clipvane::test;
using Nav = std::optional<QString>;

class LibraryNavigationTest : public QObject
{
    Q_OBJECT

    // Rows "a1"…; a name starting with "x-" is a record that cannot be played.
    static LibraryFixture fixture(const QStringList &ids)
    {
        LibraryFixture library;
        for (const QString &id : ids)
            library.add({id, id});
        return library;
    }

private Q_SLOTS:
    void stepTarget_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<Nav>("selected");
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("browsing");
        QTest::addColumn<Nav>("target");
        const QStringList rows{u"a1"_qs, u"x-2"_qs, u"a3"_qs, u"x-4"_qs};
        QTest::newRow("next") << rows << Nav(u"a1"_qs) << 1 << false << Nav(u"x-2"_qs);
        QTest::newRow("stays on the last row") << rows << Nav(u"x-4"_qs) << 1 << false << Nav(u"x-4"_qs);
        QTest::newRow("stays on the first row") << rows << Nav(u"a1"_qs) << -1 << false << Nav(u"a1"_qs);
        QTest::newRow("nothing selected, next is the second") << rows << Nav() << 1 << false << Nav(u"x-2"_qs);
        QTest::newRow("nothing selected, previous is the first") << rows << Nav() << -1 << false << Nav(u"a1"_qs);
        QTest::newRow("selection not listed counts as first") << rows << Nav(u"gone"_qs) << 2 << false << Nav(u"a3"_qs);
        QTest::newRow("one row") << QStringList{u"a1"_qs} << Nav() << 1 << false << Nav(u"a1"_qs);
        QTest::newRow("big steps clamp") << rows << Nav(u"a3"_qs) << -100 << false << Nav(u"a1"_qs);
        QTest::newRow("browse mode skips what cannot play") << rows << Nav(u"a1"_qs) << 1 << true << Nav(u"a3"_qs);
        QTest::newRow("browse mode at the end") << rows << Nav(u"a3"_qs) << 1 << true << Nav(u"a3"_qs);
        QTest::newRow("browse mode from a link record") << rows << Nav(u"x-2"_qs) << 1 << true << Nav(u"a3"_qs);
        QTest::newRow("empty list") << QStringList() << Nav(u"a1"_qs) << 1 << false << Nav();
        QTest::newRow("browse mode, nothing playable") << QStringList{u"x-1"_qs} << Nav() << 1 << true << Nav();
    }
    void stepTarget()
    {
        QFETCH(QStringList, rows);
        QFETCH(Nav, selected);
        QFETCH(int, step);
        QFETCH(bool, browsing);
        const LibraryFixture library = fixture(rows);
        QTEST(LibraryNavigation::stepTarget(library.records(), selected, step, browsing), "target");
    }

    void upNextAndPosition_data()
    {
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<Nav>("selected");
        QTest::addColumn<QStringList>("upNext");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("total");
        const QStringList ten{u"a0"_qs, u"x-1"_qs, u"a2"_qs, u"a3"_qs, u"x-4"_qs,
                              u"a5"_qs, u"a6"_qs,  u"a7"_qs, u"a8"_qs, u"a9"_qs};
        QTest::newRow("unselected: the first five") << ten << Nav() << ten.mid(0, 5) << 0 << 8;
        QTest::newRow("five after the selection, link records kept") << ten << Nav(u"a0"_qs) << ten.mid(1, 5) << 0 << 8;
        QTest::newRow("fewer at the end") << ten << Nav(u"a7"_qs) << ten.mid(8) << 5 << 8;
        QTest::newRow("the last row") << ten << Nav(u"a9"_qs) << QStringList() << 7 << 8;
        QTest::newRow("a link record has no place among the playable")
            << ten << Nav(u"x-4"_qs) << ten.mid(5, 5) << 0 << 8;
        QTest::newRow("short list") << QStringList{u"a0"_qs, u"a1"_qs} << Nav(u"zz"_qs)
                                    << QStringList{u"a0"_qs, u"a1"_qs} << 0 << 2;
    }
    void upNextAndPosition()
    {
        QFETCH(QStringList, rows);
        QFETCH(Nav, selected);
        QFETCH(int, index);
        QFETCH(int, total);
        const LibraryFixture library = fixture(rows);
        QTEST(LibraryFixture::ids(LibraryNavigation::upNext(library.records(), selected)), "upNext");
        QCOMPARE(LibraryNavigation::position(library.records(), selected), (LibraryNavigation::Position{index, total}));
    }

    void firstPlayable()
    {
        QCOMPARE(LibraryNavigation::firstPlayableID(fixture({u"x-1"_qs, u"x-2"_qs, u"b"_qs}).records()), Nav(u"b"_qs));
        QCOMPARE(LibraryNavigation::firstPlayableID(fixture({u"x-1"_qs}).records()), Nav());
    }

    void syncLine_data()
    {
        QTest::addColumn<bool>("syncing");
        QTest::addColumn<double>("fraction"); // negative: none
        QTest::addColumn<int>("total");
        QTest::addColumn<QString>("error");
        QTest::addColumn<bool>("synced");
        QTest::addColumn<QString>("text"); // an error only when not syncing
        QTest::newRow("syncing without a fraction") << true << -1.0 << 0 << QString() << false << u"Syncing…"_qs;
        QTest::newRow("syncing before a total") << true << 0.5 << 0 << QString() << false << u"Syncing…"_qs;
        QTest::newRow("downloading, truncated") << true << 0.429 << 3400 << QString() << true << u"Downloading 42%"_qs;
        QTest::newRow("downloading, all") << true << 1.0 << 10 << QString() << false << u"Downloading 100%"_qs;
        QTest::newRow("a syncing cycle hides the old error")
            << true << -1.0 << 0 << u"Server error (500)"_qs << true << u"Syncing…"_qs;
        QTest::newRow("the error") << false << -1.0 << 0 << u"Server error (500)"_qs << true
                                   << u"Server error (500)"_qs;
        QTest::newRow("synced") << false << -1.0 << 0 << QString() << true << u"Synced 14:05"_qs;
        QTest::newRow("never synced") << false << -1.0 << 0 << QString() << false << QString();
    }
    void syncLine()
    {
        QFETCH(bool, syncing);
        QFETCH(double, fraction);
        QFETCH(int, total);
        QFETCH(QString, error);
        QFETCH(bool, synced);
        StatusText::Sync sync;
        sync.syncing = syncing;
        if (fraction >= 0)
            sync.fraction = fraction;
        sync.total = total;
        if (!error.isEmpty())
            sync.error = error;
        if (synced)
            sync.lastSync = QDateTime(QDate(2026, 3, 1), QTime(14, 5, 30));
        for (const QLocale &locale : {QLocale(QLocale::German, QLocale::Germany), QLocale::c()}) {
            const StatusText::Line line = StatusText::syncLine(sync, locale);
            QTEST(line.text, "text");
            QCOMPARE(line.isError, !syncing && !error.isEmpty());
        }
    }

    void syncedTimeFollowsTheLocale()
    {
        StatusText::Sync sync;
        sync.lastSync = QDateTime(QDate(2026, 3, 1), QTime(14, 5, 30));
        const QString english = StatusText::syncLine(sync, QLocale(QLocale::English, QLocale::UnitedStates)).text;
        QVERIFY2(english.startsWith(u"Synced 2:05"_qs) && english.contains(u"PM"_qs), qPrintable(english));
        QVERIFY2(!english.contains(u"30"_qs), qPrintable(english));
    }

    void countsAreGroupedInTheLocale()
    {
        const QLocale english(QLocale::English, QLocale::UnitedStates);
        QCOMPARE(StatusText::searchPlaceholder(340, english), u"Search 340 videos"_qs);
        QCOMPARE(StatusText::searchPlaceholder(100000, english), u"Search 100,000 videos"_qs);
        QCOMPARE(StatusText::countText(12, 340, english), u"12 of 340 videos"_qs);
        QCOMPARE(StatusText::downloadText(1250, 3400, english), u"1,250 of 3,400 videos"_qs);
        QCOMPARE(StatusText::downloadText(0, 0, english), u"Downloading your library…"_qs);
        QCOMPARE(StatusText::countText(0, 1234, QLocale(QLocale::German, QLocale::Germany)), u"0 of 1.234 videos"_qs);
    }
};

QTEST_GUILESS_MAIN(LibraryNavigationTest)
#include "LibraryNavigationTest.moc"
