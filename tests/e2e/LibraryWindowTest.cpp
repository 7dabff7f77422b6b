// The library window against the real clipvane-service: after signing in, the first sync fills
// the window; videos are added by dropping a link on the window and through the add sheet,
// one is edited in the edit sheet, one excluded, one deleted through the confirmation, and the
// service holds exactly the result (read back by another device).
#include "../player/WebEngineTestMain.h"
#include "AppSignals.h"
#include "LibraryColumn.h"
#include "LibraryListView.h"
#include "MacAddSheet.h"
#include "MacAppState.h"
#include "MacConfirmSheet.h"
#include "MacEditSheet.h"
#include "MacLibraryView.h"
#include "PlayerController.h"
#include "ServiceProcess.h"
#include "SyncEngine.h"
#include "TestLibrary.h"
#include "Video.h"
#include "VideoStore.h"
#include "VisibleList.h"

#include <QDropEvent>
#include <QMimeData>

using namespace clipvane;
using namespace clipvane::test;

class LibraryWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<ServiceProcess> m_service;

    static void syncToEnd(SyncEngine &engine)
    {
        engine.syncNow();
        QTRY_VERIFY_WITH_TIMEOUT(!engine.syncing(), 15000);
        QVERIFY2(!engine.hasError(), qPrintable(engine.lastError()));
    }

    static QStringList visibleIDs(const MacLibraryView &view)
    {
        QStringList ids;
        for (const Video *video : view.list().visible())
            ids << video->youtubeID;
        return ids;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_service = std::make_unique<ServiceProcess>(QStringLiteral(CLIPVANE_SERVICE_BINARY));
        QVERIFY2(m_service->start(), qPrintable(m_service->error()));
    }

    void editsInTheWindowReachTheService()
    {
        const QString email = u"window@example.com"_qs;
        const QString token = m_service->token(email);
        const QUrl base(m_service->apiBase());

        // Another device put two videos into the account already.
        TestLibrary phone(base);
        QVERIFY(phone.session->engine().signIn(token, email));
        phone.session->engine().addVideo(u"https://youtu.be/AAAAAAAAAAA"_qs);
        phone.session->engine().addVideo(u"https://youtu.be/BBBBBBBBBBB"_qs);
        phone.session->store().save();
        syncToEnd(phone.session->engine());

        TestLibrary desktop(base);
        SyncEngine &engine = desktop.session->engine();
        VideoStore &store = desktop.session->store();
        MacAppState state(desktop.session->standard());
        MacLibraryView view(state, engine, store, desktop.session->api(), PlayerController::playerPageURL(base));
        view.resize(1180, 740);
        view.show();
        QVERIFY(view.column().showsEmptyLibrary());
        QVERIFY(engine.signIn(token, email)); // starts the first sync
        QTRY_COMPARE_WITH_TIMEOUT(view.list().visible().size(), 2, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(!engine.syncing(), 15000);
        QVERIFY(!view.column().showsEmptyLibrary());
        QVERIFY(state.selectedID().has_value());

        // A link dropped on the list, as a browser drags it.
        QWidget *target = view.column().listView().viewport();
        QMimeData mime;
        mime.setUrls({QUrl(u"https://www.youtube.com/watch?v=CCCCCCCCCCC"_qs)});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        QVERIFY(drop.isAccepted());
        QTRY_COMPARE(view.list().visible().size(), 3);

        // The add sheet, opened as the menu command opens it.
        state.setShowAdd(true);
        auto *add = qobject_cast<MacAddSheet *>(view.sheet());
        QVERIFY(add);
        add->setLink(u"https://youtu.be/DDDDDDDDDDD"_qs);
        add->add();
        QTRY_VERIFY(!state.showAdd());
        QTRY_COMPARE(view.list().visible().size(), 4);
        syncToEnd(engine);
        QVERIFY(store.pending().isEmpty());

        state.setEditingID(u"AAAAAAAAAAA"_qs);
        auto *edit = qobject_cast<MacEditSheet *>(view.sheet());
        QVERIFY(edit);
        edit->setFields(u"Edited in the window"_qs, u"2001-02-03"_qs, u"1:02:03"_qs);
        edit->save();
        QTRY_COMPARE(state.editingID(), std::nullopt);
        QCOMPARE(view.list().visible().constLast()->youtubeID, u"AAAAAAAAAAA"_qs); // oldest date now

        state.setSelectedID(u"BBBBBBBBBBB"_qs);
        Q_EMIT AppSignals::instance().macToggleExcluded();
        QVERIFY(!visibleIDs(view).contains(u"BBBBBBBBBBB"_qs));

        state.setPendingDeleteID(u"CCCCCCCCCCC"_qs);
        auto *confirm = qobject_cast<MacConfirmSheet *>(view.sheet());
        QVERIFY(confirm);
        confirm->confirm();
        QVERIFY(!visibleIDs(view).contains(u"CCCCCCCCCCC"_qs));
        syncToEnd(engine);
        QVERIFY(store.pending().isEmpty());
        QCOMPARE(store.find(u"CCCCCCCCCCC"_qs), nullptr);

        // What the service holds, as the phone pulls it.
        syncToEnd(phone.session->engine());
        VideoStore &phoneStore = phone.session->store();
        QCOMPARE(phoneStore.all().size(), 3);
        QCOMPARE(phoneStore.find(u"CCCCCCCCCCC"_qs), nullptr);
        QVERIFY(phoneStore.find(u"DDDDDDDDDDD"_qs));
        QVERIFY(phoneStore.find(u"BBBBBBBBBBB"_qs)->excluded);
        const Video *edited = phoneStore.find(u"AAAAAAAAAAA"_qs);
        QCOMPARE(edited->title, u"Edited in the window"_qs);
        QCOMPARE(edited->uploadDate, u"2001-02-03"_qs);
        QCOMPARE(edited->duration, u"1:02:03"_qs);
    }
};

CLIPVANE_WEBENGINE_TEST_MAIN(LibraryWindowTest)
#include "LibraryWindowTest.moc"
