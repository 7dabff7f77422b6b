// clipvane-player-demo: the detail pane on its own, for trying the player by hand. Shows the
// records of a profile's library in list order; the wheel, Up/Down and J/K over the player
// page through them in browse mode (B toggles it), Space plays and pauses.
//
//   clipvane-player-demo [--profile DIR] [--browse] [YOUTUBE-ID]

#include "AppPaths.h"
#include "AppState.h"
#include "DetailView.h"
#include "Fonts.h"
#include "KeyRules.h"
#include "LibrarySession.h"
#include "Palette.h"
#include "PlayerController.h"
#include "Video.h"
#include "VideoStore.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QShortcut>
#include <QTextStream>
#include <QVBoxLayout>
#include <unistd.h>

using namespace clipvane;

int main(int argc, char **argv)
{
    // The engine refuses to run as root with its sandbox; a normal user keeps it.
    if (geteuid() == 0)
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    AppPaths::initialiseApplicationNames();

    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption profile(QStringLiteral("profile"), QStringLiteral("Profile folder."),
                                     QStringLiteral("DIR"));
    const QCommandLineOption browse(QStringLiteral("browse"), QStringLiteral("Start in browse mode."));
    parser.addOption(profile);
    parser.addOption(browse);
    parser.addPositionalArgument(QStringLiteral("id"), QStringLiteral("YouTube ID of the record to show first."));
    parser.process(app);
    if (parser.isSet(profile))
        AppPaths::setProfile(QFileInfo(parser.value(profile)).absoluteFilePath());

    QString error;
    LibrarySession::Options options;
    options.lock = false; // reads the store; the application may hold it meanwhile
    const auto session = LibrarySession::open(options, &error);
    if (!session) {
        QTextStream(stderr) << error << '\n';
        return 1;
    }
    Fonts::load();
    Palette::applyTo(app);

    AppState state(session->standard());
    KeyRules space(state);
    const QList<const Video *> records = state.filter().apply(session->store().all());
    QList<const Video *> playable;
    for (const Video *video : records) {
        if (PlayerController::isPlayableID(video->youtubeID))
            playable << video;
    }

    QWidget window;
    window.setWindowTitle(QStringLiteral("Clipvane"));
    window.resize(960, 700);
    auto *layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *pane = new DetailView(state, PlayerController::playerPageURL(session->apiBase()), &window);
    layout->addWidget(pane);
    pane->setLibrary(&session->store(), &session->engine());

    int current = -1;
    const auto select = [&](int index) {
        if (index < 0 || index >= playable.size())
            return;
        current = int(index);
        const Video &video = *playable[index];
        state.setSelectedID(video.youtubeID);
        pane->setVideo(video);
        pane->setPosition({current, int(playable.size())});
        state.player().load(video.youtubeID, state.browsing() || state.autoplayOnSelect());
    };
    pane->setOnPage([&](int direction) { select(current + direction); });
    auto *toggleBrowse = new QShortcut(QKeySequence(Qt::Key_B), &window);
    QObject::connect(toggleBrowse, &QShortcut::activated, &state, [&state] { state.setBrowsing(!state.browsing()); });

    state.setBrowsing(parser.isSet(browse));
    int first = 0;
    if (!parser.positionalArguments().isEmpty()) {
        const QString wanted = parser.positionalArguments().constFirst();
        for (int i = 0; i < playable.size(); ++i) {
            if (playable[i]->youtubeID == wanted)
                first = i;
        }
    }
    if (playable.isEmpty())
        QTextStream(stderr) << "The library has no playable videos.\n";
    else
        select(first);
    window.show();
    return app.exec();
}
