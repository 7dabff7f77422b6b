#include "MainWindow.h"

#include "APIClient.h"
#include "AppState.h"
#include "ClipvaneCommands.h"
#include "LibraryView.h"
#include "OnboardedFlag.h"
#include "OnboardingView.h"
#include "Palette.h"
#include "PlayerController.h"
#include "SyncEngine.h"

#include <QMenuBar>
#include <QStackedWidget>

namespace clipvane {

MainWindow::MainWindow(SyncEngine &sync, VideoStore &store, OnboardedFlag &onboarded, GoogleAuth &auth, AppState &state,
                       APIClient &api, QWidget *parent)
    : QMainWindow(parent)
    , m_sync(sync)
    , m_store(store)
    , m_onboarded(onboarded)
    , m_state(state)
    , m_api(api)
    , m_root(new QStackedWidget(this))
    , m_onboarding(new OnboardingView(sync, onboarded, auth, m_root))
    , m_commands(new ClipvaneCommands(state, sync, store, api.webOrigin(), *menuBar(), this))
{
    setWindowTitle(tr("Clipvane"));
    resize(kDefaultSize);
    m_root->setMinimumSize(kMinimumSize);
    QPalette ink = palette();
    ink.setColor(QPalette::Window, Palette::ink());
    setPalette(ink);
    setAutoFillBackground(true);

    m_root->addWidget(m_onboarding);
    setCentralWidget(m_root);

    connect(m_commands, &ClipvaneCommands::settingsRequested, this, &MainWindow::settingsRequested);
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
    connect(m_library, &LibraryView::settingsRequested, this, &MainWindow::settingsRequested);
    m_root->addWidget(m_library);
    m_root->setCurrentWidget(m_library);
    // The library appearing is a reason to sync.
    m_sync.syncNow();
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
