// The library window against the real clipvane-service: a link dropped on the list, as a
// browser drags it, is added and reaches the service (read back by another device). The rest
// of the window's work is driven from outside by window_suite.py.
#include "../player/WebEngineTestMain.h"
#include "LibraryColumn.h"
#include "LibraryListView.h"
#include "MacAppState.h"
#include "MacLibraryView.h"
#include "PlayerController.h"
#include "ServiceProcess.h"
#include "SyncEngine.h"
#include "TestLibrary.h"
#include "VideoStore.h"
#include "VisibleList.h"

#include <QDropEvent>
#include <QMimeData>

using namespace clipvane;
using namespace clipvane::test;

class LibraryWindowTest : public QObject
{
    Q_OBJECT

    static void syncToEnd(SyncEngine &engine)
    {
        engine.syncNow();
        QTRY_VERIFY_WITH_TIMEOUT(!engine.syncing(), 15000);
        QVERIFY2(!engine.hasError(), qPrintable(engine.lastError()));
    }

private Q_SLOTS:
    void droppedLinkReachesTheService()
    {
        ServiceProcess service(QStringLiteral(CLIPVANE_SERVICE_BINARY));
        QVERIFY2(service.start(), qPrintable(service.error()));
        const QString email = u"window@example.com"_qs;
        const QString token = service.token(email);
        const QUrl base(service.apiBase());

        TestLibrary desktop(base);
        SyncEngine &engine = desktop.session->engine();
        MacAppState state(desktop.session->standard());
        MacLibraryView view(state, engine, desktop.session->store(), desktop.session->api(),
                            PlayerController::playerPageURL(base));
        view.resize(1180, 740);
        view.show();
        QVERIFY(engine.signIn(token, email));
        QTRY_VERIFY_WITH_TIMEOUT(!engine.syncing(), 15000);

        QWidget *target = view.column().listView().viewport();
        QMimeData mime;
        mime.setUrls({QUrl(u"https://www.youtube.com/watch?v=CCCCCCCCCCC"_qs)});
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &enter);
        QVERIFY(enter.isAccepted());
        QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &drop);
        QVERIFY(drop.isAccepted());
        QTRY_COMPARE(view.list().visible().size(), 1);
        syncToEnd(engine);
        QVERIFY(desktop.session->store().pending().isEmpty());

        TestLibrary phone(base);
        QVERIFY(phone.session->engine().signIn(token, email));
        syncToEnd(phone.session->engine());
        QVERIFY(phone.session->store().find(u"CCCCCCCCCCC"_qs));
    }
};

CLIPVANE_WEBENGINE_TEST_MAIN(LibraryWindowTest)
#include "LibraryWindowTest.moc"
