// clipvane: the desktop application.

#include "AppArguments.h"
#include "AppPaths.h"
#include "ClipvaneApp.h"
#include "ClipvaneVersion.h"
#include "Fonts.h"
#include "LibrarySession.h"
#include "Palette.h"
#include "SingleInstance.h"
#include "StartupTrace.h"
#include "TerminationSignals.h"
#include "Translations.h"

#include <QApplication>
#include <QIcon>
#include <QTextStream>
#include <QThread>
#include <future>

int main(int argc, char *argv[])
{
    using namespace clipvane;
    StartupTrace::mark("main");
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));

    // Read before the application object exists, so a hand-off to a running application
    // costs no connection to the display.
    QStringList raw;
    for (int i = 1; i < argc; ++i)
        raw.append(QString::fromLocal8Bit(argv[i]));
    const auto parsed = AppArguments::parse(raw);
    if (const QString *error = std::get_if<QString>(&parsed)) {
        QTextStream(stderr) << "clipvane: " << *error << '\n' << AppArguments::usage();
        return 2;
    }
    const AppArguments &arguments = std::get<AppArguments>(parsed);
    if (arguments.help) {
        QTextStream(stdout) << AppArguments::usage();
        return 0;
    }
    if (arguments.version) {
        QTextStream(stdout) << "clipvane " << kVersion << '\n';
        return 0;
    }
    AppPaths::initialiseApplicationNames();
    if (!arguments.profile.isEmpty())
        AppPaths::setProfile(arguments.profile);
    AppPaths::keepPrivate();
    if (const std::optional<int> ended = SingleInstance::endAfterOffer(SingleInstance::serverName(), arguments.links))
        return *ended;
    // Loading the library takes as long as setting up the window system: both at once. Nothing
    // else touches the store until start() has waited for it.
    std::future<LibrarySession::OpenedStore> opened =
        std::async(std::launch::async, [storePath = AppPaths::storePath(), owner = QThread::currentThread()] {
            LibrarySession::OpenedStore store = LibrarySession::openStore(storePath, owner);
            StartupTrace::mark("store loaded (ahead)");
            return store;
        });

    // The embedded player's web engine shares the window's graphics context.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    StartupTrace::mark("application object");
    AppPaths::initialiseApplicationNames();
    Translations::install(application);
    QGuiApplication::setDesktopFileName(QString::fromLatin1(AppPaths::kApplicationId));
    QApplication::setQuitOnLastWindowClosed(true);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/packaging/app.clipvane.Clipvane.svg")));
    Palette::applyTo(application);
    Fonts::load();
    StartupTrace::mark("fonts");

    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::received, &application, &QCoreApplication::quit);
    ClipvaneApp app;
    const int started = app.start(arguments.links, arguments.apiBase, &opened);
    if (started < 0)
        return 0; // handed to the application that started at the same moment
    if (started > 0)
        return started;
    return QApplication::exec();
}
