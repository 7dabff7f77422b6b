// What a row says: the marked search words (by user-perceived characters), the facts line and
// what a screen reader reads; the list model over the visible order.
#include "RowText.h"
#include "LibraryFixture.h"
#include "VideoListModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace clipvane;
using namespace clipvane::test;
using Ranges = QList<RowText::Range>;

Q_DECLARE_METATYPE(Ranges)

class RowTextTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void highlightRanges_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("highlight");
        QTest::addColumn<Ranges>("ranges");
        QTest::newRow("every occurrence of a word")
            << u"Foo fighters: foo live"_qs << u"FOO"_qs << Ranges{{0, 3}, {14, 3}};
        QTest::newRow("two words may mark the same title twice")
            << u"Abba"_qs << u"a b"_qs << Ranges{{0, 1}, {3, 1}, {1, 1}, {2, 1}};
        QTest::newRow("no words") << u"Abba"_qs << u"   "_qs << Ranges{};
        QTest::newRow("empty highlight") << u"Abba"_qs << QString() << Ranges{};
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
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("duration");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("facts");
        QTest::addColumn<QString>("symbol");
        QTest::newRow("date and length") << u"2021-03-04"_qs << u"12:34"_qs << u"telegram"_qs
                                         << u"2021-03-04 · 12:34"_qs << u"paperplane.fill"_qs;
        QTest::newRow("no length, no dot")
            << u"2021-03-04"_qs << QString() << u"ios"_qs << u"2021-03-04"_qs << u"iphone"_qs;
        QTest::newRow("no date") << QString() << u"4:05"_qs << u"web"_qs << u" · 4:05"_qs << u"globe"_qs;
        QTest::newRow("unknown source") << u"2020"_qs << QString() << u"Web"_qs << u"2020"_qs << u"tray.full"_qs;
        QTest::newRow("empty source") << QString() << QString() << QString() << QString() << u"tray.full"_qs;
    }
    void factsAndSource()
    {
        QFETCH(QString, date);
        QFETCH(QString, duration);
        QFETCH(QString, source);
        Video video(u"abcdefghijk"_qs, u"T"_qs, {}, date, duration, false, source, 0, 0, SyncStateRaw::synced);
        QTEST(RowText::factsText(video), "facts");
        QTEST(RowText::sourceSymbolName(source), "symbol");
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

    void modelFollowsTheVisibleList()
    {
        LibraryFixture library({{u"aaaaaa"_qs, u"A"_qs}, {u"bbbbbb"_qs, u"B"_qs}, {u"cccccc"_qs, u"C"_qs}});
        VideoListModel model;
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setVisible(library.records());
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.data(model.index(1), VideoListModel::youtubeIDRole).toString(), u"bbbbbb"_qs);
        QCOMPARE(model.data(model.index(2), Qt::AccessibleTextRole).toString(), u"C"_qs);
        QVERIFY(!model.data(model.index(3), Qt::DisplayRole).isValid());

        QSignalSpy changed(&model, &VideoListModel::dataChanged);
        library.records()[2]->title = u"C2"_qs;
        model.refresh(library.records()[2]);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(model.data(model.index(2), Qt::DisplayRole).toString(), u"C2"_qs);

        model.forget({library.records()[0], library.records()[2]});
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(model.videoAt(0), library.records()[1]);
        model.setVisible({});
        QCOMPARE(model.rowCount(), 0);
    }
};

QTEST_GUILESS_MAIN(RowTextTest)
#include "RowTextTest.moc"
