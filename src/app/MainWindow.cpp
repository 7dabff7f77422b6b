#include "MainWindow.h"

#include "APIClient.h"
#include "AboutSheet.h"
#include "AppState.h"
#include "ClipvaneCommands.h"
#include "LibraryView.h"
#include "OnboardedFlag.h"
#include "OnboardingView.h"
#include "Palette.h"
#include "PlayerController.h"
#include "ShortcutsSheet.h"
#include "SyncEngine.h"
#include "VideoStore.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMenuBar>
#include <QStackedWidget>

namespace clipvane {

MainWindow::MainWindow(SyncEngine &sync, VideoStore &store, OnboardedFlag &onboarded, GoogleAuth &auth, AppState &state,
                       APIClient &api, QSettings &standard, QWidget *parent)
    : QMainWindow(parent)
    , m_sync(sync)
    , m_store(store)
    , m_onboarded(onboarded)
    , m_state(state)
    , m_api(api)
    , m_root(new QStackedWidget(this))
    , m_onboarding(new OnboardingView(sync, onboarded, auth, m_root))
    , m_commands(new ClipvaneCommands(state, sync, store, api.webOrigin(), *menuBar(), this))
    , m_memory(standard)
{
    setWindowTitle(tr("Clipvane"));
    m_memory.restoreWindow(*this, kDefaultSize);
    // Before the library exists, so its list does not pick its own first selection.
    if (!state.selectedID())
        state.setSelectedID(m_memory.selection([&store](const QString &id) { return store.find(id) != nullptr; }));
    m_root->setMinimumSize(kMinimumSize);
    QPalette ink = palette();
    ink.setColor(QPalette::Window, Palette::ink());
    setPalette(ink);
    setAutoFillBackground(true);

    m_root->addWidget(m_onboarding);
    setCentralWidget(m_root);

    connect(m_commands, &ClipvaneCommands::settingsRequested, this, &MainWindow::settingsRequested);
    connect(m_commands, &ClipvaneCommands::shortcutsRequested, this, &MainWindow::presentShortcuts);
    connect(m_commands, &ClipvaneCommands::aboutRequested, this, &MainWindow::presentAbout);
    connect(m_commands, &ClipvaneCommands::importRequested, this, [this] {
        if (isShowingLibrary())
            m_library->importFiles();
    });
    // A quit by signal or by the menu closes no window: the memory is written as the loop ends.
    connect(qApp, &QCoreApplication::aboutToQuit, this, &MainWindow::remember);
    connect(&onboarded, &OnboardedFlag::changed, this, &MainWindow::updateRoot);
    connect(&sync, &SyncEngine::isLoggedInChanged, this, &MainWindow::updateRoot);
    updateRoot();
}

MainWindow::~MainWindow() = default;

bool MainWindow::isShowingLibrary() const
{
    return m_library && m_root->currentWidget() == m_library;
}

QWidget *MainWindow::currentPage() const
{
    return m_root->currentWidget();
}

void MainWindow::updateRoot()
{
    const bool library = showsLibrary(m_onboarded.value(), m_sync.isLoggedIn());
    if (library == isShowingLibrary())
        return;
    if (!library) {
        m_state.clearRequests();
        m_root->setCurrentWidget(m_onboarding);
        if (m_library)
            m_library->deleteLater();
        m_library = nullptr;
        return;
    }
    m_library = new LibraryView(m_state, m_sync, m_store, m_api, PlayerController::playerPageURL(m_api.base()), m_root);
    m_memory.restoreSplitter(m_library->splitter());
    connect(m_library, &LibraryView::settingsRequested, this, &MainWindow::settingsRequested);
    m_root->addWidget(m_library);
    m_root->setCurrentWidget(m_library);
    // The library appearing is a reason to sync.
    m_sync.syncNow();
}

void MainWindow::remember()
{
    // The place kept is the window's own, not the whole screen the player was filling.
    m_state.setFullScreen(false);
    m_memory.save(*this, m_library ? &m_library->splitter() : nullptr, m_state.selectedID());
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    remember();
    QMainWindow::closeEvent(event);
}

QUrl MainWindow::projectLink()
{
    return QUrl(QStringLiteral(CLIPVANE_HOMEPAGE));
}

QString MainWindow::licence()
{
    return QStringLiteral("MIT"); // the repository's LICENSE
}

void MainWindow::presentShortcuts()
{
    QList<ShortcutsSheet::Row> rows;
    for (const ClipvaneCommands::Command &command : m_commands->commands()) {
        if (command.keys.isEmpty())
            continue;
        QStringList keys;
        for (const QKeySequence &key : command.keys)
            keys << key.toString(QKeySequence::NativeText);
        rows.append({command.menu.isEmpty() ? tr("Player and browse mode") : command.menu, command.title,
                     keys.join(tr(" or "))});
    }
    presentHelp(new ShortcutsSheet(rows, this));
}

void MainWindow::presentAbout()
{
    presentHelp(new AboutSheet(QCoreApplication::applicationVersion(), licence(), projectLink(), this));
}

void MainWindow::presentHelp(QDialog *sheet)
{
    if (m_helpSheet)
        m_helpSheet->reject();
    m_helpSheet = sheet;
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->open();
}

void MainWindow::bringToFront()
{
    if (isMinimized())
        showNormal();
    else
        show();
    raise();
    activateWindow();
}

} // namespace clipvane
