#include "LibraryView.h"
#include "../ui/WidgetTestMain.h"
#include "AddSheet.h"
#include "AppSignals.h"
#include "AppState.h"
#include "AskOverlay.h"
#include "AskPanel.h"
#include "AskVideo.h"
#include "ClipvaneCommands.h"
#include "ConfirmSheet.h"
#include "DetailView.h"
#include "EditSheet.h"
#include "EmptyLibraryView.h"
#include "FilterBar.h"
#include "GoogleAuth.h"
#include "LibraryColumn.h"
#include "LibraryImport.h"
#include "LibraryListView.h"
#include "MainWindow.h"
#include "OnboardedFlag.h"
#include "Palette.h"
#include "PillButton.h"
#include "PlayerController.h"
#include "PlayerView.h"
#include "RowMenu.h"
#include "SearchRow.h"
#include "SelectionPane.h"
#include "SettingsKeys.h"
#include "ShortcutsSheet.h"
#include "StatusLine.h"
#include "SyncEngine.h"
#include "TestLibrary.h"
#include "UpNextCard.h"
#include "UpNextCountdown.h"
#include "Video.h"
#include "VideoRow.h"
#include "VideoStore.h"
#include "VisibleList.h"

#include <QAction>
#include <QClipboard>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>

using namespace clipvane;
using namespace clipvane::test;

namespace {

Video record(const QString &id, const QString &date, const QString &state = SyncStateRaw::synced)
{
    return Video(id, u"Title "_qs + id, u"https://youtu.be/"_qs + id, date, u"4:05"_qs, false, u"web"_qs, 0, 0, state);
}

// A record shared by owner; an empty owner leaves it one's own.
Video sharedBy(Video video, const QString &owner)
{
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

// Whether the item's text is drawn in a red (strong red, little green and blue).
bool drawsInRed(QMenu &menu, QAction *action)
{
    menu.adjustSize();
    const QImage image = menu.grab().toImage();
    const QRect item = menu.actionGeometry(action);
    for (int y = item.top(); y <= item.bottom(); ++y) {
        for (int x = item.left(); x <= item.right(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.red() > 180 && pixel.green() < 110 && pixel.blue() < 110)
                return true;
        }
    }
    return false;
}

} // namespace

class LibraryViewTest;
using Test = LibraryViewTest;
// A change to the window's inputs.
using Change = std::function<void(Test &)>;
Q_DECLARE_METATYPE(Change)

class LibraryViewTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestLibrary> m_library;
    std::unique_ptr<AppState> m_state;
    std::unique_ptr<LibraryView> m_view;

    VideoStore &store() { return m_library->session->store(); }
    SyncEngine &sync() { return m_library->session->engine(); }
    AppState &state() { return *m_state; }
    LibraryView &view() { return *m_view; }

    // A library whose store holds the records, newest first by upload date ("aaaaaa01" newest).
    void open(const QList<Video> &records)
    {
        m_view.reset();
        m_state.reset();
        m_library = std::make_unique<TestLibrary>();
        m_state = std::make_unique<AppState>(m_library->session->standard());
        for (const Video &video : records)
            store().insert(video);
        store().save();
        m_view = std::make_unique<LibraryView>(*m_state, sync(), store(), m_library->session->api(),
                                               QUrl(u"http://127.0.0.1:9/player.html"_qs));
        m_view->resize(1180, 740);
        m_view->show();
        QCoreApplication::processEvents();
    }

    QStringList visibleIDs() const
    {
        QStringList ids;
        for (const Video *video : m_view->list().visible())
            ids << video->youtubeID;
        return ids;
    }

private Q_SLOTS:
    void cleanup()
    {
        m_view.reset();
        m_state.reset();
        m_library.reset();
    }

    void recomputesExactlyWhenItsInputsChange_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<bool>("recomputes");
        const auto row = [](const char *name, bool recomputes, Change change) {
            QTest::newRow(name) << change << recomputes;
        };
        row("a keystroke", true, [](Test &t) { t.state().setSearch(u"title b"_qs); });
        row("the same search again", false, [](Test &t) { t.state().setSearch(u"title"_qs); });
        row("the sort order", true, [](Test &t) { t.state().setSort(SortMode::title); });
        row("a new record", true, [](Test &t) { t.store().insert(record(u"cccccccc"_qs, u"2019-01-01"_qs)); });
        row("a title changed in place", false, [](Test &t) {
            t.store().update(u"aaaaaaaa"_qs, [](Video &video) {
                video.title = u"Changed"_qs;
                return true;
            });
        });
        row("a saved edit of details", true, [](Test &t) { t.state().raiseLocalEdit(); });
        row("the selection", false, [](Test &t) { t.state().setSelectedID(u"bbbbbbbb"_qs); });
        row("a hidden owner", true, [](Test &t) { t.state().setHiddenOwners({u"x@example.com"_qs}); });
    }
    void recomputesExactlyWhenItsInputsChange()
    {
        QFETCH(Change, change);
        open({record(u"aaaaaaaa"_qs, u"2021-01-01"_qs), record(u"bbbbbbbb"_qs, u"2020-01-01"_qs)});
        state().setSearch(u"title"_qs);
        QCoreApplication::processEvents();
        QSignalSpy recomputed(&view().list(), &VisibleList::recomputed);
        change(*this);
        QCoreApplication::processEvents();
        QTEST(!recomputed.isEmpty(), "recomputes");
        QVERIFY(recomputed.size() <= 1);
    }

    void firstSelectionIsTheFirstPlayableRecord()
    {
        open({});
        QCOMPARE(state().selectedID(), std::nullopt);
        QVERIFY(view().column().showsEmptyLibrary());
        store().insert(record(u"x-link01"_qs, u"2022-01-01"_qs));
        store().insert(record(u"playable"_qs, u"2021-01-01"_qs));
        QCoreApplication::processEvents();
        QVERIFY(!view().column().showsEmptyLibrary());
        QCOMPARE(visibleIDs(), (QStringList{u"x-link01"_qs, u"playable"_qs}));
        QCOMPARE(state().selectedID(), u"playable"_qs);
        QCOMPARE(view().column().statusLine().countText(), u"2 of 2 videos"_qs);
        // An existing selection is kept, even when its record is filtered away.
        state().setSearch(u"link"_qs);
        QCoreApplication::processEvents();
        QCOMPARE(state().selectedID(), u"playable"_qs);
        QCOMPARE(view().column().statusLine().countText(), u"1 of 2 videos"_qs);
    }

    void browseModeNeedsAPlayableSelection_data()
    {
        QTest::addColumn<QString>("ids"); // newest first
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("after"); // empty: none
        QTest::newRow("a link gives way") << u"x-aaaaaa bbbbbbbb cccccccc"_qs << u"x-aaaaaa"_qs << u"bbbbbbbb"_qs;
        QTest::newRow("a playable selection stays") << u"aaaaaaaa bbbbbbbb"_qs << u"bbbbbbbb"_qs << u"bbbbbbbb"_qs;
        QTest::newRow("nothing playable") << u"x-aaaaaa"_qs << u"x-aaaaaa"_qs << QString();
    }
    void browseModeNeedsAPlayableSelection()
    {
        QFETCH(QString, selected);
        QFETCH(QString, after);
        QFETCH(QString, ids);
        QList<Video> records;
        for (const QString &id : ids.split(u' '))
            records << record(id, u"202%1-01-01"_qs.arg(9 - records.size()));
        open(records);
        state().setSelectedID(selected);
        state().setBrowsing(true);
        QCOMPARE(state().selectedIDText(), after);
        if (!after.isEmpty() && after != selected) {
            QCOMPARE(state().player().pendingID().value_or(state().player().loadedID().value_or(QString())), after);
            QVERIFY(state().player().pendingAutoplay());
        }
    }

    void steppingFollowsTheVisibleList()
    {
        open({record(u"aaaaaaaa"_qs, u"2024-01-01"_qs), record(u"x-bbbbbb"_qs, u"2023-01-01"_qs),
              record(u"cccccccc"_qs, u"2022-01-01"_qs)});
        QCOMPARE(state().selectedID(), u"aaaaaaaa"_qs);
        Q_EMIT AppSignals::instance().macStepSelection(1);
        QCOMPARE(state().selectedID(), u"x-bbbbbb"_qs);
        QCOMPARE(view().column().listView().currentIndex().row(), 1);
        // The player keeps the video it had: a link record is never loaded.
        QCOMPARE(state().player().pendingID().value_or(QString()), u"aaaaaaaa"_qs);
        Q_EMIT AppSignals::instance().macStepSelection(5);
        QCOMPARE(state().selectedID(), u"cccccccc"_qs);
        QCOMPARE(view().position(), (LibraryNavigation::Position{1, 2}));
    }

    void excludingKeepsTheSelection()
    {
        open({record(u"aaaaaaaa"_qs, u"2024-01-01"_qs), record(u"bbbbbbbb"_qs, u"2023-01-01"_qs)});
        store().insert(sharedBy(record(u"cccccccc"_qs, u"2022-01-01"_qs), u"mia@example.com"_qs));
        QCoreApplication::processEvents();
        state().setSelectedID(u"aaaaaaaa"_qs);
        Q_EMIT AppSignals::instance().macToggleExcluded();
        QCOMPARE(visibleIDs(), (QStringList{u"bbbbbbbb"_qs, u"cccccccc"_qs}));
        QCOMPARE(state().selectedID(), u"aaaaaaaa"_qs);
        QVERIFY(store().find(u"aaaaaaaa"_qs)->excluded);
        // A shared record is never excluded.
        state().setSelectedID(u"cccccccc"_qs);
        Q_EMIT AppSignals::instance().macToggleExcluded();
        QVERIFY(!store().find(u"cccccccc"_qs)->excluded);
    }

    // The player's reports reach the record: a pause keeps the position, a watched mark starts the
    // video over and, with watched videos hidden, takes it out of the list at once.
    void viewingIsKeptAndWatchedCanBeHidden()
    {
        open({record(u"aaaaaaaa"_qs, u"2024-01-01"_qs), record(u"bbbbbbbb"_qs, u"2023-01-01"_qs)});
        store().insert(sharedBy(record(u"cccccccc"_qs, u"2022-01-01"_qs), u"mia@example.com"_qs));
        QCoreApplication::processEvents();
        state().setSelectedID(u"aaaaaaaa"_qs);
        state().player().handleState(1);
        state().player().handleTime(42.6, 300);
        state().player().handleState(2);
        QCOMPARE(store().find(u"aaaaaaaa"_qs)->position, 42);
        Q_EMIT AppSignals::instance().macToggleWatched();
        QVERIFY(store().find(u"aaaaaaaa"_qs)->watched);
        QCOMPARE(store().find(u"aaaaaaaa"_qs)->position, 0);
        state().setHideWatched(true);
        view().recompute();
        QCOMPARE(visibleIDs(), (QStringList{u"bbbbbbbb"_qs, u"cccccccc"_qs}));
        state().setSelectedID(u"bbbbbbbb"_qs);
        state().player().handleState(1);
        state().player().handleTime(280, 300);
        QVERIFY(store().find(u"bbbbbbbb"_qs)->watched);
        // A shared record takes no marks.
        state().setSelectedID(u"cccccccc"_qs);
        Q_EMIT AppSignals::instance().macToggleWatched();
        state().player().handleState(0);
        QVERIFY(!store().find(u"cccccccc"_qs)->watched);
        state().setHideWatched(false);
    }

    void deletingGoesThroughTheConfirmation_data()
    {
        QTest::addColumn<bool>("confirm");
        QTest::addColumn<QString>("stored"); // the record's state afterwards
        QTest::newRow("confirmed") << true << SyncStateRaw::needsDelete;
        QTest::newRow("cancelled") << false << SyncStateRaw::synced;
    }
    void deletingGoesThroughTheConfirmation()
    {
        QFETCH(bool, confirm);
        open({record(u"aaaaaaaa"_qs, u"2024-01-01"_qs), record(u"bbbbbbbb"_qs, u"2023-01-01"_qs)});
        state().setSelectedID(u"aaaaaaaa"_qs);
        state().setPendingDeleteID(u"aaaaaaaa"_qs);
        auto *sheet = qobject_cast<ConfirmSheet *>(view().sheet());
        QVERIFY(sheet);
        QCOMPARE(sheet->windowModality(), Qt::WindowModal);
        if (confirm)
            sheet->confirm();
        else
            sheet->reject();
        QCOMPARE(state().pendingDeleteID(), std::nullopt);
        QTEST(store().find(u"aaaaaaaa"_qs)->syncStateRaw, "stored");
        QCOMPARE(visibleIDs().contains(u"aaaaaaaa"_qs), !confirm);
        QCOMPARE(state().selectedID(), u"aaaaaaaa"_qs);
        // An ID that finds no record opens nothing.
        state().setPendingDeleteID(u"nothere1"_qs);
        QVERIFY(!view().sheet());
    }

    // Links dropped (as a browser drags addresses or text) or pasted add the new videos only.
    void addingLinks_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<bool>("asUrls");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("records");
        const QStringList two{u"https://youtu.be/dQw4w9WgXcQ"_qs, u"https://www.youtube.com/watch?v=aaaaaaaa"_qs};
        QTest::newRow("addresses: one new, one stored") << two << true << true << 2;
        QTest::newRow("text: one new, one stored") << two << false << true << 2;
        QTest::newRow("only a stored one") << QStringList{u"https://youtu.be/aaaaaaaa"_qs} << false << true << 1;
        QTest::newRow("a web page") << QStringList{u"https://example.com/watch?v=dQw4w9WgXcQ"_qs} << true << false << 1;
        QTest::newRow("words") << QStringList{u"just words"_qs} << false << false << 1;
        QTest::newRow("nothing") << QStringList() << false << false << 1;
    }
    void addingLinks()
    {
        QFETCH(QStringList, texts);
        QFETCH(bool, asUrls);
        open({record(u"aaaaaaaa"_qs, u"2024-01-01"_qs)});
        QMimeData mime;
        if (asUrls)
            mime.setUrls(QList<QUrl>(texts.begin(), texts.end()));
        else
            mime.setText(texts.join(u"\n "_qs));
        QWidget *target = view().column().listView().viewport();
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        QTEST(drop.isAccepted(), "accepted");
        QTEST(int(store().all().size()), "records");
        QVERIFY(!store().hasUnsavedChanges());
        QCoreApplication::processEvents();
        QTEST(int(view().list().visible().size()), "records");

        open({record(u"aaaaaaaa"_qs, u"2024-01-01"_qs)});
        QMenuBar bar;
        ClipvaneCommands commands(state(), sync(), store(), QUrl(u"http://127.0.0.1:9"_qs), bar);
        QApplication::clipboard()->setText(u"look: "_qs + texts.join(u' '));
        const std::optional<QString> selected = state().selectedID();
        commands.action(u"Add from Clipboard"_qs)->trigger();
        QTEST(int(store().all().size()), "records");
        QCOMPARE(state().selectedID(), selected);
        QVERIFY(!store().hasUnsavedChanges());
    }

    // Files dropped onto the list are imported, one import at a time, and the status line tells
    // what came of it; links in the same drop are added as they are.
    void droppedFilesAreImported()
    {
        open({record(u"aaaaaaaa"_qs, u"2024-01-01"_qs)});
        QTemporaryDir dir;
        const QString path = dir.filePath(u"playlist.csv"_qs);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("Video Id,Time Added\naaaaaaaa,1\nbbbbbbbb,2\nnot an id,3\n");
        file.close();
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path), QUrl(u"https://youtu.be/cccccccc"_qs)});
        QWidget *target = view().column().listView().viewport();
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        QVERIFY(drop.isAccepted());
        LibraryImport &import = view().libraryImport();
        QVERIFY(import.isRunning());
        QVERIFY(!import.start({path}));
        QCOMPARE(view().column().statusLine().noticeText(), u"An import is already running."_qs);
        QTRY_VERIFY(!import.isRunning());
        QCOMPARE(store().all().size(), 3);
        QVERIFY(!store().hasUnsavedChanges());
        QCOMPARE(view().column().statusLine().noticeText(), u"Added 1 video. 1 already in your library. 1 not added.\n"
                                                            "playlist.csv, line 4: “not an id” is not a video ID."_qs);
        // Edit ▸ Undo takes the import back as a whole, not only its last batch.
        sync().history().undo();
        QCOMPARE(store().all().size(), 2);
        QVERIFY(store().find(u"bbbbbbbb"_qs) == nullptr);
    }

    // An import under way stops from the status line; what it added stays, and Edit ▸ Undo
    // takes that back as a whole.
    void anImportStopsFromTheStatusLine()
    {
        open({});
        QTemporaryDir dir;
        const QString path = dir.filePath(u"links.txt"_qs);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        for (int i = 0; i < 50'000; ++i)
            file.write(u"https://youtu.be/v%1\n"_qs.arg(i, 7, 10, QChar(u'0')).toUtf8());
        file.close();
        LibraryImport &import = view().libraryImport();
        StatusLine &status = view().column().statusLine();
        QVERIFY(import.start({path}));
        QVERIFY(status.stopButton().isVisibleTo(&status));
        status.stopButton().click();
        QVERIFY(!status.stopButton().isVisibleTo(&status));
        QTRY_VERIFY(!import.isRunning());
        QVERIFY2(status.noticeText().startsWith(u"Import stopped."_qs), qPrintable(status.noticeText()));
        QVERIFY(store().all().size() < 50'000);
        sync().history().undo();
        QCOMPARE(store().all().size(), 0);
    }

    void askResults()
    {
        open({record(u"aaaaaaaa"_qs, u"2024-01-01"_qs), record(u"bbbbbbbb"_qs, u"2023-01-01"_qs)});
        QList<QUrl> opened;
        view().setUrlOpener([&opened](const QUrl &url) { opened << url; });
        state().setShowAsk(true);
        view().playAskResult({u"T"_qs, u"https://youtu.be/zzzzzzzz"_qs, u"zzzzzzzz"_qs, {}, {}});
        QCOMPARE(opened, QList<QUrl>{QUrl(u"https://youtu.be/zzzzzzzz"_qs)});
        QVERIFY(state().showAsk());
        view().playAskResult({u"T"_qs, u"not a url"_qs, u"yyyyyyyy"_qs, {}, {}});
        QCOMPARE(opened.size(), 1);
        view().playAskResult({u"T"_qs, u"https://youtu.be/bbbbbbbb"_qs, u"bbbbbbbb"_qs, {}, {}});
        QCOMPARE(state().selectedID(), u"bbbbbbbb"_qs);
        QVERIFY(!state().showAsk());
        // A video card pressed in the assistant's answer plays through the same action.
        state().setShowAsk(true);
        Q_EMIT view().askOverlay().playRequested({u"T"_qs, u"https://youtu.be/aaaaaaaa"_qs, u"aaaaaaaa"_qs, {}, {}});
        QCOMPARE(state().selectedID(), u"aaaaaaaa"_qs);
        QVERIFY(!state().showAsk());
        QVERIFY(!view().askOverlay().isOpen());
        // Escape closes the assistant, as a click on its backdrop does.
        state().setShowAsk(true);
        QTest::keyClick(&view().askOverlay(), Qt::Key_Escape);
        QVERIFY(!state().showAsk());
    }

    // A record a sync puts above the rows on screen leaves them where they are; a video the person
    // adds is selected and shown; a new order starts at the top.
    void theViewMovesOnlyForThePerson()
    {
        QList<Video> records;
        for (int i = 0; i < 200; ++i)
            records << record(u"vid%1"_qs.arg(10000 + i), u"2020-01-%1"_qs.arg(10 + i % 19));
        open(records);
        LibraryListView &list = view().column().listView();
        list.verticalScrollBar()->setValue(40 * VideoRow::kRowHeight + 7);
        QCoreApplication::processEvents();
        const QModelIndex before = list.indexAt(QPoint(20, 1));
        const QString topID = before.data(VideoListModel::youtubeIDRole).toString();
        const int offset = list.visualRect(before).top();
        store().insert(record(u"newest01"_qs, u"2030-01-01"_qs));
        QCoreApplication::processEvents();
        QCOMPARE(view().list().visible().constFirst()->youtubeID, u"newest01"_qs);
        const QModelIndex after = list.indexAt(QPoint(20, 1));
        QCOMPARE(after.data(VideoListModel::youtubeIDRole).toString(), topID);
        QCOMPARE(list.visualRect(after).top(), offset);
        // The selection stays selected across the recompute.
        QCOMPARE(list.currentIndex().data(VideoListModel::youtubeIDRole).toString(), state().selectedIDText());

        QCOMPARE(sync().edits().add(u"https://youtu.be/added0001"_qs).kind, AddOutcome::Kind::added);
        QCoreApplication::processEvents();
        QCOMPARE(state().selectedIDText(), u"added0001"_qs);
        QVERIFY(list.viewport()->rect().intersects(list.visualRect(list.currentIndex())));
        list.verticalScrollBar()->setValue(40 * VideoRow::kRowHeight);
        state().setSort(SortMode::title);
        QCoreApplication::processEvents();
        QCOMPARE(list.verticalScrollBar()->value(), 0);
    }

    void menuCommandsFollowTheState()
    {
        open({record(u"aaaaaaaa"_qs, u"2024-01-01"_qs)});
        QMenuBar bar;
        ClipvaneCommands commands(state(), sync(), store(), QUrl(u"http://127.0.0.1:9"_qs), bar);
        const auto enabled = [&commands](const QString &title) {
            QAction *action = commands.action(title);
            return action && action->isEnabled();
        };
        state().setSelectedID(std::nullopt);
        for (const QString &title :
             {u"Copy Video Link"_qs, u"Edit Details…"_qs, u"Exclude / Include"_qs, u"Delete…"_qs})
            QVERIFY2(!enabled(title), qPrintable(title));
        state().setSelectedID(u"aaaaaaaa"_qs);
        QVERIFY(enabled(u"Delete…"_qs));
        QCOMPARE(commands.action(u"Delete…"_qs)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Backspace));

        QVERIFY(commands.action(u"Browse Mode"_qs));
        state().setBrowsing(true);
        QVERIFY(commands.action(u"Leave Browse Mode"_qs));

        QVERIFY(!enabled(u"Clear Filters"_qs));
        state().setHiddenOwners({u"mia@example.com"_qs});
        QVERIFY(enabled(u"Clear Filters"_qs));
        commands.action(u"Clear Filters"_qs)->trigger();
        QVERIFY(!enabled(u"Clear Filters"_qs));

        commands.action(u"Show Excluded Videos"_qs)->trigger();
        QVERIFY(state().showExcluded());

        commands.action(u"Copy Video Link"_qs)->trigger();
        QCOMPARE(QApplication::clipboard()->text(), u"https://youtu.be/aaaaaaaa"_qs);
    }

    void clearButtonEmptiesTheSearch()
    {
        open({record(u"aaaaaaaa"_qs, u"2021-01-01"_qs), record(u"bbbbbbbb"_qs, u"2020-01-01"_qs)});
        SearchRow &row = view().column().searchRow();
        QCOMPARE(row.field().placeholderText(), u"Search 2 videos"_qs);
        auto *clear = row.findChild<QToolButton *>();
        QVERIFY(clear && clear->isHidden());
        QTest::keyClicks(&row.field(), u"bbb"_qs);
        QVERIFY(!clear->isHidden());
        clear->click();
        QCOMPARE(state().search(), QString());
        QCOMPARE(row.field().text(), QString());
        QVERIFY(clear->isHidden());
        QCoreApplication::processEvents();
        QCOMPARE(view().column().statusLine().countText(), u"2 of 2 videos"_qs);
    }

    void filterMenus_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::addColumn<QString>("libraryItems");
        QTest::addColumn<QString>("yearItems");
        const QString mine = u"Library | Excluded videos"_qs;
        QTest::newRow("no shared records") << false << mine << u"All years | — | 2021 | 2019"_qs;
        QTest::newRow("two owners") << true << mine + u" | Family libraries | ann@example.com | zed@example.com"_qs
                                    << u"All years | — | 2021 | 2020 | 2019"_qs;
    }
    void filterMenus()
    {
        QFETCH(bool, shared);
        QList<Video> records{record(u"aaaaaaaa"_qs, u"2021-06-30"_qs), record(u"bbbbbbbb"_qs, u"2019-01-01"_qs)};
        if (shared)
            records << sharedBy(record(u"cccccccc"_qs, u"2021-01-01"_qs), u"zed@example.com"_qs)
                    << sharedBy(record(u"dddddddd"_qs, u"2020-01-01"_qs), u"ann@example.com"_qs);
        open(records);
        FilterBar &bar = view().column().filterBar();
        QMenu library;
        bar.fillLibraryMenu(library);
        QTEST(texts(library), "libraryItems");
        for (QAction *action : library.actions())
            QVERIFY(!action->isCheckable() || action->isChecked());
        if (shared) {
            // Switching an owner off hides that owner's rows at once.
            library.actions().constLast()->trigger();
            QCOMPARE(state().hiddenOwners(), QSet<QString>{u"zed@example.com"_qs});
            QCoreApplication::processEvents();
            QCOMPARE(view().list().visible().size(), 3);
            QMenu again;
            bar.fillLibraryMenu(again);
            QVERIFY(!again.actions().constLast()->isChecked());
        }

        QMenu years;
        bar.fillYearMenu(years);
        QTEST(texts(years), "yearItems");
        library.actions()[1]->trigger();
        QCOMPARE(bar.libraryButton().text(), u"Excluded"_qs);
        // A menu opens left to right under its button, whatever the button draws.
        for (QToolButton *button : {&bar.libraryButton(), &bar.sortButton(), &bar.yearButton()})
            QVERIFY(!button->isRightToLeft() && !button->menu()->isRightToLeft());
    }

    void rowMenus_data()
    {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<bool>("excluded");
        QTest::addColumn<QString>("items");
        const QString rest = u"Edit details… | — | Copy link | Open in YouTube | — | Delete…"_qs;
        QTest::newRow("own") << QString() << false << u"Mark as Watched | Exclude | "_qs + rest;
        QTest::newRow("own, excluded") << QString() << true
                                       << u"Mark as Watched | Include back in library | "_qs + rest;
        QTest::newRow("shared") << u"a&b@example.com"_qs << false << u"Shared by a&&b@example.com — read only"_qs;
    }
    void rowMenus()
    {
        QFETCH(QString, owner);
        QFETCH(bool, excluded);
        Video video = sharedBy(record(u"aaaaaaaa"_qs, u"2021-01-01"_qs), owner);
        video.excluded = excluded;
        open({video});
        QMenu menu;
        int toggled = 0;
        int marked = 0;
        RowMenu::fill(
            menu, video, state(), [&marked] { ++marked; }, [&toggled] { ++toggled; });
        QTEST(texts(menu), "items");
        if (!owner.isEmpty()) {
            QVERIFY(!menu.actions()[0]->isEnabled());
            return;
        }
        // Only the step that cannot be undone is drawn in red.
        QVERIFY(drawsInRed(menu, menu.actions().constLast()));
        QVERIFY(!drawsInRed(menu, menu.actions().constFirst()));
        menu.actions()[2]->trigger();
        QCOMPARE(state().editingID(), u"aaaaaaaa"_qs);
        menu.actions().constLast()->trigger();
        QCOMPARE(state().pendingDeleteID(), u"aaaaaaaa"_qs);
        menu.actions()[1]->trigger();
        QCOMPARE(toggled, 1);
        menu.actions()[0]->trigger();
        QCOMPARE(marked, 1);
    }

    // The menu of a row among several selected offers what applies to them all.
    void rowMenuOfSeveral_data()
    {
        QTest::addColumn<qsizetype>("included");
        QTest::addColumn<qsizetype>("excluded");
        QTest::addColumn<qsizetype>("shared");
        QTest::addColumn<QString>("items");
        QTest::newRow("own") << qsizetype(3) << qsizetype(0) << qsizetype(0)
                             << u"Exclude 3 videos | — | Delete 3 videos…"_qs;
        QTest::newRow("mixed") << qsizetype(2) << qsizetype(1) << qsizetype(2)
                               << u"Exclude 2 videos | Include 1 videos back in library | — | Delete 3 videos… | — | "
                                  u"2 shared videos stay as they are"_qs;
        QTest::newRow("shared only") << qsizetype(0) << qsizetype(0) << qsizetype(2)
                                     << u"— | 2 shared videos stay as they are"_qs;
    }
    void rowMenuOfSeveral()
    {
        QFETCH(qsizetype, included);
        QFETCH(qsizetype, excluded);
        QFETCH(qsizetype, shared);
        QMenu menu;
        QStringList asked;
        RowMenu::fillMany(
            menu, {included, excluded, shared}, [&] { asked << u"exclude"_qs; }, [&] { asked << u"include"_qs; },
            [&] { asked << u"delete"_qs; });
        QTEST(texts(menu), "items");
        for (QAction *action : menu.actions())
            action->trigger();
        QCOMPARE(asked.size(), qsizetype(included > 0) + qsizetype(excluded > 0) + qsizetype(included + excluded > 0));
    }

    void emptyLibraryNamesThePlatformsKey()
    {
        open({});
        QVERIFY(view().column().showsEmptyLibrary());
        QCOMPARE(view().column().emptyView().messageText(),
                 u"Drag a YouTube link onto this window, or press %1."_qs.arg(
                     QKeySequence(Qt::CTRL | Qt::Key_N).toString(QKeySequence::NativeText)));
    }

    void addSheet_data()
    {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<bool>("paste");
        QTest::addColumn<QString>("field"); // after opening (and pasting)
        QTest::addColumn<bool>("addEnabled");
        const QString watch = u"https://www.youtube.com/watch?v=dQw4w9WgXcQ&list=PL1&t=42"_qs;
        QTest::newRow("link on the clipboard") << watch << false << watch << true;
        QTest::newRow("other text on the clipboard") << u"groceries"_qs << false << QString() << false;
        QTest::newRow("pasting other text") << u"groceries"_qs << true << u"groceries"_qs << false;
        QTest::newRow("pasting nothing") << QString() << true << QString() << false;
    }
    void addSheet()
    {
        QFETCH(QString, clipboard);
        QFETCH(bool, paste);
        QFETCH(bool, addEnabled);
        open({});
        QGuiApplication::clipboard()->setText(clipboard);
        AddSheet sheet(sync(), store());
        if (paste) {
            sheet.setLink(u"something typed"_qs);
            sheet.pasteFromClipboard();
        }
        QTEST(sheet.link(), "field");
        const auto buttons = sheet.findChildren<QPushButton *>();
        QCOMPARE(std::any_of(buttons.begin(), buttons.end(),
                             [](const QPushButton *button) { return button->text() == u"Add" && button->isEnabled(); }),
                 addEnabled);

        sheet.add();
        QCOMPARE(sheet.result(), addEnabled ? int(QDialog::Accepted) : int(QDialog::Rejected));
        QCOMPARE(sheet.error().value_or(QString()),
                 addEnabled ? QString() : u"That doesn't look like a YouTube link."_qs);
        QCOMPARE(store().all().size(), addEnabled ? 1 : 0);
        if (addEnabled) {
            const Video *video = store().find(u"dQw4w9WgXcQ"_qs);
            QCOMPARE(video->syncStateRaw, SyncStateRaw::needsAdd);
            QVERIFY(!store().hasUnsavedChanges());
        }
    }

    void editSheet()
    {
        open({record(u"abcdefghijk"_qs, u"2020-01-02"_qs)});

        EditSheet cancelled(u"abcdefghijk"_qs, sync(), store());
        cancelled.setFields(u"Changed"_qs, QString(), QString());
        cancelled.reject();
        QCOMPARE(store().find(u"abcdefghijk"_qs)->title, u"Title abcdefghijk"_qs);

        EditSheet sheet(u"abcdefghijk"_qs, sync(), store());
        QSignalSpy edited(&sheet, &EditSheet::edited);
        sheet.setFields(QString(), u"2020/01/02"_qs, u"about 3 min"_qs);
        sheet.save();
        const Video *video = store().find(u"abcdefghijk"_qs);
        QCOMPARE(video->title, QString());
        QCOMPARE(video->uploadDate, u"2020/01/02"_qs);
        QCOMPARE(video->duration, u"about 3 min"_qs);
        QCOMPARE(video->syncStateRaw, SyncStateRaw::needsPatch);
        QCOMPARE(edited.size(), 1);

        // The record went away while the sheet was open: saving closes it and writes nothing.
        EditSheet orphan(u"gone-away00"_qs, sync(), store());
        orphan.save();
        QCOMPARE(orphan.result(), int(QDialog::Accepted));
    }

    // The default button is the filled white one; the one the keyboard is on has a ring.
    void sheetButtonsStandOut_data()
    {
        QTest::addColumn<QString>("sheet");
        QTest::addColumn<QString>("filled");
        QTest::addColumn<QString>("focused"); // empty: the keyboard is in a field
        QTest::newRow("add") << u"add"_qs << u"Add"_qs << QString();
        QTest::newRow("edit") << u"edit"_qs << u"Save"_qs << QString();
        QTest::newRow("confirm") << u"confirm"_qs << u"Delete video"_qs << u"Delete video"_qs;
        QTest::newRow("cannot be undone: Return cancels") << u"destructive"_qs << u"Cancel"_qs << u"Cancel"_qs;
    }
    void sheetButtonsStandOut()
    {
        QFETCH(QString, sheet);
        QFETCH(QString, focused);
        open({record(u"abcdefghijk"_qs, u"2020-01-02"_qs)});
        QGuiApplication::clipboard()->setText(u"https://youtu.be/dQw4w9WgXcQ"_qs);
        std::unique_ptr<QDialog> dialog;
        if (sheet == u"add")
            dialog = std::make_unique<AddSheet>(sync(), store());
        else if (sheet == u"edit")
            dialog = std::make_unique<EditSheet>(u"abcdefghijk"_qs, sync(), store());
        else
            dialog = std::make_unique<ConfirmSheet>(u"t"_qs, u"m"_qs, u"Delete video"_qs, [] {});
        if (sheet == u"destructive")
            static_cast<ConfirmSheet *>(dialog.get())->setDestructive();
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
            if (button->isFlat())
                continue;
            const QImage image = button->grab().toImage();
            const QColor inside = image.pixelColor(4, image.height() / 2);
            QFETCH(QString, filled);
            QVERIFY2((inside.lightness() > 200) == (button->text() == filled), qPrintable(button->text()));
            const QColor edge = image.pixelColor(0, image.height() / 2);
            QVERIFY2((edge == Palette::focusRing()) == (button->text() == focused), qPrintable(button->text()));
        }
    }

    // The video that plays when the selected one ends: the next playable row of the list as it
    // is shown now.
    void upNextFollowsTheShownList_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<QString>("selected");
        QTest::addColumn<QString>("next"); // empty: none
        const auto row = [](const char *name, const char *selected, const char *next, Change change = {}) {
            QTest::newRow(name) << change << QString::fromLatin1(selected) << QString::fromLatin1(next);
        };
        row("the row below", "aaaaaaaa", "bbbbbbbb");
        row("a link is passed over", "bbbbbbbb", "dddddddd");
        row("an excluded video stays hidden", "dddddddd", "ffffffff");
        row("the last row has none", "ffffffff", "");
        row("the excluded list alone", "eeeeeeee", "", [](Test &t) { t.state().setShowExcluded(true); });
        row("oldest first", "dddddddd", "bbbbbbbb", [](Test &t) { t.state().setSort(SortMode::oldest); });
        row("the year's last row", "bbbbbbbb", "", [](Test &t) { t.state().setYear(u"2024"_qs); });
        row("a search", "aaaaaaaa", "", [](Test &t) { t.state().setSearch(u"aaaa"_qs); });
        row("the setting off", "aaaaaaaa", "",
            [](Test &t) { t.m_library->session->standard().setValue(SettingsKeys::playNextAutomatically, false); });
    }
    void upNextFollowsTheShownList()
    {
        QFETCH(Change, change);
        QFETCH(QString, selected);
        QFETCH(QString, next);
        Video excluded = record(u"eeeeeeee"_qs, u"2022-06-01"_qs);
        excluded.excluded = true;
        open({record(u"aaaaaaaa"_qs, u"2024-06-01"_qs), record(u"bbbbbbbb"_qs, u"2024-01-01"_qs),
              record(u"x-cccccc"_qs, u"2023-06-01"_qs), record(u"dddddddd"_qs, u"2023-01-01"_qs), excluded,
              record(u"ffffffff"_qs, u"2022-01-01"_qs)});
        if (change)
            change(*this);
        view().recompute();
        state().setSelectedID(selected);
        state().player().handleState(0); // ended
        UpNextCountdown &upNext = state().upNext();
        QCOMPARE(upNext.nextID().value_or(QString()), next);
        QCOMPARE(view().detail().upNextCard().isVisibleTo(&view()), !next.isEmpty());
        if (next.isEmpty())
            return;
        QCOMPARE(view().detail().upNextCard().titleText(), u"Title "_qs + next);
        upNext.playNow();
        QCOMPARE(state().selectedIDText(), next);
        QVERIFY(!upNext.isActive());
    }

    // The wait ends with any change of selection, and with the view.
    void upNextIsCancelledByTheSelection()
    {
        open({record(u"aaaaaaaa"_qs, u"2024-01-01"_qs), record(u"bbbbbbbb"_qs, u"2023-01-01"_qs),
              record(u"cccccccc"_qs, u"2022-01-01"_qs)});
        state().setSelectedID(u"aaaaaaaa"_qs);
        state().player().handleState(0);
        QSignalSpy played(&state().upNext(), &UpNextCountdown::playRequested);
        QVERIFY(state().upNext().isActive());
        state().setSelectedID(u"cccccccc"_qs);
        QVERIFY(!state().upNext().isActive());
        QVERIFY(!view().detail().upNextCard().isVisibleTo(&view()));
        state().setSelectedID(u"aaaaaaaa"_qs);
        state().player().handleState(0);
        m_view.reset();
        QVERIFY(!state().upNext().isActive());
        QCOMPARE(played.size(), 0);
    }

    // Help ▸ Keyboard Shortcuts lists every command of the table that has a key, menus and keys
    // outside them alike.
    void shortcutsSheetListsEveryKeyedCommand()
    {
        open({});
        OnboardedFlag onboarded(m_library->session->standard());
        GoogleAuth auth(QUrl(u"http://127.0.0.1:9"_qs), [](const QUrl &) { return true; });
        MainWindow window(sync(), store(), onboarded, auth, state(), m_library->session->api(),
                          m_library->session->standard());
        const QList<ClipvaneCommands::Command> &table = window.commands().commands();
        const auto keyed = std::count_if(table.cbegin(), table.cend(), [](const auto &c) { return !c.keys.isEmpty(); });
        QVERIFY(std::any_of(table.cbegin(), table.cend(), [](const auto &c) { return c.menu.isEmpty(); }));
        // The watched mark's key answers nothing else.
        const QKeySequence watched = window.commands().action(u"Mark as Watched"_qs)->shortcut();
        QVERIFY(!watched.isEmpty());
        QCOMPARE(std::count_if(table.cbegin(), table.cend(), [&](const auto &c) { return c.keys.contains(watched); }),
                 1);
        window.commands().action(u"Keyboard Shortcuts"_qs)->trigger();
        auto *sheet = qobject_cast<ShortcutsSheet *>(window.helpSheet());
        QVERIFY(sheet);
        QCOMPARE(sheet->rowCount(), int(keyed));
        window.commands().action(u"About Clipvane"_qs)->trigger();
        QVERIFY(window.helpSheet() && window.helpSheet() != sheet);
    }

    // Shift and Ctrl with the arrows, clicks and Ctrl+A select several rows; the detail pane then
    // counts them and offers what applies to them all.
    void selectingMany_data()
    {
        QTest::addColumn<Change>("select");
        QTest::addColumn<QString>("selected"); // rows 1 to 5 by their last letter
        const auto keys = [](QList<QKeyCombination> combos) {
            return Change([combos](Test &t) {
                for (const QKeyCombination combo : combos)
                    QTest::keyClick(&t.view().column().listView(), combo.key(), combo.keyboardModifiers());
            });
        };
        const auto click = [](int row, Qt::KeyboardModifiers modifiers) {
            return Change([row, modifiers](Test &t) {
                LibraryListView &list = t.view().column().listView();
                const QRect rect = list.visualRect(list.model()->index(row, 0));
                QTest::mouseClick(list.viewport(), Qt::LeftButton, modifiers, rect.center());
            });
        };
        QTest::newRow("Shift+Down twice") << keys({Qt::SHIFT | Qt::Key_Down, Qt::SHIFT | Qt::Key_Down}) << u"123"_qs;
        QTest::newRow("Shift+End") << keys({Qt::Key_Down, Qt::SHIFT | Qt::Key_End}) << u"2345"_qs;
        QTest::newRow("Ctrl+A") << keys({Qt::CTRL | Qt::Key_A}) << u"12345"_qs;
        QTest::newRow("Shift-click") << click(3, Qt::ShiftModifier) << u"1234"_qs;
        QTest::newRow("Ctrl-click") << Change([click](Test &t) {
            click(2, Qt::ControlModifier)(t);
            click(4, Qt::ControlModifier)(t);
        }) << u"135"_qs;
        QTest::newRow("Shift+Down, back with Shift+Up")
            << keys({Qt::SHIFT | Qt::Key_Down, Qt::SHIFT | Qt::Key_Down, Qt::SHIFT | Qt::Key_Up}) << u"12"_qs;
    }
    void selectingMany()
    {
        QFETCH(Change, select);
        QFETCH(QString, selected);
        open({record(u"aaaaaaa1"_qs, u"2024-05-01"_qs), record(u"aaaaaaa2"_qs, u"2024-04-01"_qs),
              sharedBy(record(u"aaaaaaa3"_qs, u"2024-03-01"_qs), u"mia@example.com"_qs),
              record(u"aaaaaaa4"_qs, u"2024-02-01"_qs), record(u"aaaaaaa5"_qs, u"2024-01-01"_qs)});
        LibraryListView &list = view().column().listView();
        list.setFocus();
        QCOMPARE(state().selectedID(), u"aaaaaaa1"_qs);
        select(*this);
        QStringList ids;
        for (const QChar row : selected)
            ids << u"aaaaaaa"_qs + row;
        QCOMPARE(state().selectedIDs(), ids);
        SelectionPane &pane = view().selectionPane();
        QCOMPARE(pane.isVisible(), ids.size() > 1);
        QCOMPARE(pane.heading(), u"%1 videos selected"_qs.arg(ids.size()));
        QCOMPARE(pane.excludeButton().isVisible(), ids.size() > 1);
        if (ids.size() > 1) {
            // The pane's buttons are reached from the list with Tab alone.
            for (int tab = 0; tab < 12 && !pane.isAncestorOf(QApplication::focusWidget()); ++tab)
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), &pane.excludeButton());
            const qsizetype own = ids.size() - ids.count(u"aaaaaaa3"_qs);
            QCOMPARE(pane.excludeButton().accessibleName(), u"Exclude %1 videos"_qs.arg(own));
        }
        // A new order keeps the selection; a search keeps the rows it still lists.
        state().setSort(SortMode::oldest);
        std::reverse(ids.begin(), ids.end());
        QTRY_COMPARE(state().selectedIDs(), ids);
        state().setSearch(u"Title aaaaaaa1"_qs);
        QTRY_COMPARE(state().selectedIDs(), ids.contains(u"aaaaaaa1"_qs) ? QStringList{u"aaaaaaa1"_qs} : QStringList{});
        QVERIFY(!pane.isVisible());
    }

    // Delete on several rows asks once, naming the count, leaves the shared one alone, and Undo
    // brings them back.
    void deletingManyAndUndoing()
    {
        open({record(u"aaaaaaa1"_qs, u"2024-05-01"_qs), record(u"aaaaaaa2"_qs, u"2024-04-01"_qs),
              sharedBy(record(u"aaaaaaa3"_qs, u"2024-03-01"_qs), u"mia@example.com"_qs)});
        QMenuBar bar;
        ClipvaneCommands commands(state(), sync(), store(), QUrl(u"http://127.0.0.1:9"_qs), bar);
        QVERIFY(!commands.action(u"Undo"_qs)->isEnabled());
        LibraryListView &list = view().column().listView();
        list.setFocus();
        QTest::keyClick(&list, Qt::Key_A, Qt::ControlModifier);
        QSignalSpy saves(&store(), &VideoStore::saved);
        QTest::keyClick(&list, Qt::Key_Delete);
        auto *sheet = qobject_cast<ConfirmSheet *>(view().sheet());
        QVERIFY(sheet);
        QCOMPARE(sheet->windowTitle(), u"Delete 2 videos?"_qs);
        sheet->confirm();
        QCOMPARE(saves.count(), 1);
        QCOMPARE(visibleIDs(), QStringList{u"aaaaaaa3"_qs});
        QCOMPARE(view().column().statusLine().noticeText(), u"1 video is shared with you and stays as it is."_qs);
        QAction *undo = commands.action(u"Undo Delete"_qs);
        QVERIFY(undo && undo->isEnabled());
        QCOMPARE(undo->shortcut(), QKeySequence(QKeySequence::Undo));
        undo->trigger();
        QCOMPARE(visibleIDs(), (QStringList{u"aaaaaaa1"_qs, u"aaaaaaa2"_qs, u"aaaaaaa3"_qs}));
        QCOMPARE(view().column().statusLine().noticeText(), u"Delete undone: 2 videos are back."_qs);
        QVERIFY(!commands.action(u"Undo"_qs)->isEnabled());
    }

    void confirmSheet()
    {
        int runs = 0;
        ConfirmSheet cancelled(u"t"_qs, u"m"_qs, u"Delete video"_qs, [&] { ++runs; });
        cancelled.reject();
        QCOMPARE(runs, 0);
        ConfirmSheet confirmed(ConfirmSheet::deleteTitle(u"A “quoted” %1 title"_qs), QString(), u"Delete video"_qs,
                               [&] { ++runs; });
        QCOMPARE(confirmed.windowTitle(), u"Delete “A “quoted” %1 title”?"_qs);
        confirmed.confirm();
        confirmed.confirm();
        QCOMPARE(runs, 1);
        QCOMPARE(confirmed.result(), int(QDialog::Accepted));
    }
};

CLIPVANE_WIDGET_TEST_MAIN(LibraryViewTest)
#include "LibraryViewTest.moc"
