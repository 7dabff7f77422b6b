// clipvane-library-pictures PROFILE OUTDIR: pictures of the library window at its default size
// for a profile (see clipvane-fill-profile): the list, a search with its marks, the excluded
// videos, browse mode, the menus of the filter bar and of a row, and the add sheet. For
// comparing the window with its design by eye, for the metainfo's screenshots and, with
// CLIPVANE_PSEUDO=1, for finding clipped texts.
#include "AppPaths.h"
#include "AppState.h"
#include "FilterBar.h"
#include "Fonts.h"
#include "LibraryColumn.h"
#include "LibrarySession.h"
#include "LibraryView.h"
#include "Palette.h"
#include "PlayerController.h"
#include "RowMenu.h"
#include "Translations.h"
#include "Video.h"
#include "VideoStore.h"
#include "VisibleList.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QMenu>
#include <QTextStream>
#include <QTimer>

using namespace clipvane;

int main(int argc, char *argv[])
{
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    AppPaths::initialiseApplicationNames();
    Translations::install(application); // CLIPVANE_PSEUDO=1 draws the pseudo-translation
    Palette::applyTo(application);
    Fonts::load();
    const QStringList arguments = application.arguments();
    if (arguments.size() != 3) {
        QTextStream(stderr) << "usage: clipvane-library-pictures PROFILE OUTDIR\n";
        return 2;
    }
    AppPaths::setProfile(arguments[1]);
    const QDir out(arguments[2]);
    LibrarySession::Options options;
    options.lock = false;
    options.apiBase = QUrl(QStringLiteral("http://127.0.0.1:9/api"));
    QString error;
    const auto session = LibrarySession::open(options, &error);
    if (!session) {
        QTextStream(stderr) << error << '\n';
        return 1;
    }
    AppState state(session->standard());
    LibraryView view(state, session->engine(), session->store(), session->api(),
                     PlayerController::playerPageURL(session->apiBase()));
    view.setWindowTitle(QStringLiteral("Clipvane"));
    view.resize(1180, 740);
    view.show();
    const auto settle = [] {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    };
    const auto picture = [&](QWidget &widget, const QString &name) {
        settle();
        widget.grab().save(out.filePath(name));
    };
    settle();
    picture(view, QStringLiteral("library.png"));
    state.setSearch(QStringLiteral("night dr"));
    picture(view, QStringLiteral("search.png"));
    state.setSearch(QString());
    state.setShowExcluded(true);
    picture(view, QStringLiteral("excluded.png"));
    state.setShowExcluded(false);
    state.setBrowsing(true);
    picture(view, QStringLiteral("browse.png"));
    state.setBrowsing(false);

    QMenu libraryMenu;
    view.column().filterBar().fillLibraryMenu(libraryMenu);
    libraryMenu.adjustSize();
    picture(libraryMenu, QStringLiteral("menu-library.png"));
    QMenu sortMenu;
    view.column().filterBar().fillSortMenu(sortMenu);
    sortMenu.adjustSize();
    picture(sortMenu, QStringLiteral("menu-sort.png"));
    for (const bool shared : {false, true}) {
        for (const Video *video : view.list().visible()) {
            if (video->readOnly != shared)
                continue;
            QMenu rowMenu;
            RowMenu::fill(
                rowMenu, *video, state, [] {}, [] {});
            rowMenu.adjustSize();
            picture(rowMenu, shared ? QStringLiteral("menu-row-shared.png") : QStringLiteral("menu-row.png"));
            break;
        }
    }
    state.setShowAsk(true);
    QEventLoop fading; // the overlay fades in
    QTimer::singleShot(450, &fading, &QEventLoop::quit);
    fading.exec();
    picture(view, QStringLiteral("ask.png"));
    state.setShowAsk(false);
    state.setShowAdd(true);
    settle();
    if (QDialog *sheet = view.sheet())
        picture(*sheet, QStringLiteral("sheet-add.png"));
    state.setShowAdd(false);
    return 0;
}
