// The library column on its own: the search field and its clear button, the filter menus'
// items and labels, the family toggles, a row's menu for own and shared records, and the empty
// library's texts.
#include "LibraryColumn.h"
#include "../ui/WidgetTestMain.h"
#include "EmptyLibraryView.h"
#include "FilterBar.h"
#include "MacAppState.h"
#include "RowMenu.h"
#include "SearchRow.h"
#include "StatusLine.h"
#include "TestLibrary.h"
#include "Video.h"
#include "VideoStore.h"
#include "VisibleList.h"

#include <QLineEdit>
#include <QMenu>
#include <QToolButton>

using namespace clipvane;
using namespace clipvane::test;

namespace {

Video record(const QString &id, const QString &date, const QString &owner = {})
{
    Video video(id, u"Title "_qs + id, u"https://youtu.be/"_qs + id, date, {}, false, {}, 0, 0, SyncStateRaw::synced);
    video.readOnly = !owner.isEmpty();
    video.ownerEmail = owner;
    return video;
}

// A menu's items in one line, " | " between them, a separator as "—".
QString texts(const QMenu &menu)
{
    QStringList texts;
    for (const QAction *action : menu.actions())
        texts << (action->isSeparator() && action->text().isEmpty() ? u"—"_qs : action->text());
    return texts.join(u" | "_qs);
}

} // namespace

class LibraryColumnTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestLibrary> m_library;
    std::unique_ptr<MacAppState> m_state;
    std::unique_ptr<VisibleList> m_list;
    std::unique_ptr<LibraryColumn> m_column;

    void open(const QList<Video> &records)
    {
        m_column.reset();
        m_list.reset();
        m_state.reset();
        m_library = std::make_unique<TestLibrary>();
        for (const Video &video : records)
            m_library->session->store().insert(video);
        m_state = std::make_unique<MacAppState>(m_library->session->standard());
        m_list = std::make_unique<VisibleList>(*m_state, m_library->session->engine(), m_library->session->store());
        m_column = std::make_unique<LibraryColumn>(*m_state, m_library->session->engine(), *m_list);
        m_list->recompute();
        m_column->show();
    }

    static void settle() { QCoreApplication::processEvents(); }

private Q_SLOTS:
    void cleanup()
    {
        m_column.reset();
        m_list.reset();
        m_state.reset();
        m_library.reset();
    }

    void searchFieldAndClearButton()
    {
        open({record(u"aaaaaaaa"_qs, u"2021-01-01"_qs), record(u"bbbbbbbb"_qs, u"2020-01-01"_qs)});
        SearchRow &row = m_column->searchRow();
        QCOMPARE(row.field().placeholderText(), u"Search 2 videos"_qs);
        QCOMPARE(row.field().accessibleName(), u"Search 2 videos"_qs);
        auto *clear = row.findChild<QToolButton *>();
        QVERIFY(clear && clear->isHidden());
        QTest::keyClicks(&row.field(), u"bbb"_qs);
        QCOMPARE(m_state->search(), u"bbb"_qs);
        QVERIFY(!clear->isHidden());
        settle();
        QCOMPARE(m_column->statusLine().countText(), u"1 of 2 videos"_qs);
        clear->click();
        QCOMPARE(m_state->search(), QString());
        QCOMPARE(row.field().text(), QString());
        QVERIFY(clear->isHidden());
        settle();
        QCOMPARE(m_column->statusLine().countText(), u"2 of 2 videos"_qs);
    }

    void filterMenus_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::addColumn<QString>("libraryItems");
        QTest::addColumn<QString>("yearItems");
        QTest::newRow("no shared records")
            << false << u"Library | Excluded videos"_qs << u"All years | — | 2021 | 2019"_qs;
        QTest::newRow("two owners")
            << true << u"Library | Excluded videos | Family libraries | ann@example.com | zed@example.com"_qs
            << u"All years | — | 2021 | 2020 | 2019"_qs;
    }
    void filterMenus()
    {
        QFETCH(bool, shared);
        QList<Video> records{record(u"aaaaaaaa"_qs, u"2021-06-30"_qs), record(u"bbbbbbbb"_qs, u"2019-01-01"_qs)};
        if (shared) {
            records << record(u"cccccccc"_qs, u"2021-01-01"_qs, u"zed@example.com"_qs)
                    << record(u"dddddddd"_qs, u"2020-01-01"_qs, u"ann@example.com"_qs);
        }
        open(records);
        FilterBar &bar = m_column->filterBar();
        QMenu library;
        bar.fillLibraryMenu(library);
        QTEST(texts(library), "libraryItems");
        for (QAction *action : library.actions())
            QVERIFY(!action->isCheckable() || action->isChecked());
        if (shared) {
            // Switching an owner off hides that owner's rows at once.
            library.actions().constLast()->trigger();
            QCOMPARE(m_state->hiddenOwners(), QSet<QString>{u"zed@example.com"_qs});
            settle();
            QCOMPARE(m_list->visible().size(), 3);
            QMenu again;
            bar.fillLibraryMenu(again);
            QVERIFY(!again.actions().constLast()->isChecked());
        }

        QMenu years;
        bar.fillYearMenu(years);
        QTEST(texts(years), "yearItems");
        QCOMPARE(bar.yearButton().text(), u"All years"_qs);
        years.actions()[2]->trigger();
        QCOMPARE(bar.yearButton().text(), u"2021"_qs);
        years.actions()[0]->trigger();
        QCOMPARE(bar.yearButton().text(), u"All years"_qs);

        QMenu sort;
        bar.fillSortMenu(sort);
        QCOMPARE(texts(sort), u"Newest | Oldest | Title | Longest"_qs);
        sort.actions()[3]->trigger();
        QCOMPARE(bar.sortButton().text(), u"Longest"_qs);
        library.actions()[1]->trigger();
        QCOMPARE(bar.libraryButton().text(), u"Excluded"_qs);
    }

    void rowMenus_data()
    {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<bool>("excluded");
        QTest::addColumn<QString>("items");
        const QString rest = u"Edit details… | — | Copy link | Open in YouTube | — | Delete…"_qs;
        QTest::newRow("own") << QString() << false << u"Exclude | "_qs + rest;
        QTest::newRow("own, excluded") << QString() << true << u"Include back in library | "_qs + rest;
        QTest::newRow("shared: nothing to do")
            << u"a&b@example.com"_qs << false << u"Shared by a&&b@example.com — read only"_qs;
    }
    void rowMenus()
    {
        QFETCH(QString, owner);
        QFETCH(bool, excluded);
        Video video = record(u"aaaaaaaa"_qs, u"2021-01-01"_qs, owner);
        video.excluded = excluded;
        open({});
        QMenu menu;
        int toggled = 0;
        RowMenu::fill(menu, video, *m_state, [&toggled] { ++toggled; });
        QTEST(texts(menu), "items");
        if (!owner.isEmpty()) {
            QVERIFY(!menu.actions()[0]->isEnabled());
            return;
        }
        menu.actions()[1]->trigger();
        QCOMPARE(m_state->editingID(), u"aaaaaaaa"_qs);
        menu.actions().constLast()->trigger();
        QCOMPARE(m_state->pendingDeleteID(), u"aaaaaaaa"_qs);
        menu.actions()[0]->trigger();
        QCOMPARE(toggled, 1);
    }

    void emptyLibraryNamesThePlatformsKey()
    {
        open({});
        QVERIFY(m_column->showsEmptyLibrary());
        QCOMPARE(m_column->emptyView().messageText(),
                 u"Drag a YouTube link onto this window, or press %1."_qs.arg(
                     QKeySequence(Qt::CTRL | Qt::Key_N).toString(QKeySequence::NativeText)));
    }
};

CLIPVANE_WIDGET_TEST_MAIN(LibraryColumnTest)
#include "LibraryColumnTest.moc"
