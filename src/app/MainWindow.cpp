#include "MainWindow.h"

#include "MacOnboardingView.h"
#include "OnboardedFlag.h"
#include "Palette.h"
#include "SignedInPage.h"
#include "SyncEngine.h"

#include <QStackedWidget>

namespace clipvane {

MainWindow::MainWindow(SyncEngine &sync, VideoStore &store, OnboardedFlag &onboarded, GoogleAuth &auth, QWidget *parent)
    : QMainWindow(parent)
    , m_sync(sync)
    , m_onboarded(onboarded)
    , m_root(new QStackedWidget(this))
    , m_onboarding(new MacOnboardingView(sync, onboarded, auth, m_root))
    , m_library(new SignedInPage(sync, store, m_root))
{
    setWindowTitle(tr("Clipvane"));
    resize(kDefaultSize);
    m_root->setMinimumSize(kMinimumSize);
    QPalette ink = palette();
    ink.setColor(QPalette::Window, Palette::ink());
    setPalette(ink);
    setAutoFillBackground(true);

    m_root->addWidget(m_onboarding);
    m_root->addWidget(m_library);
    setCentralWidget(m_root);

    connect(&onboarded, &OnboardedFlag::changed, this, &MainWindow::updateRoot);
    connect(&sync, &SyncEngine::isLoggedInChanged, this, &MainWindow::updateRoot);
    updateRoot();
}

bool MainWindow::isShowingLibrary() const
{
    return m_root->currentWidget() == m_library;
}

QWidget *MainWindow::currentPage() const
{
    return m_root->currentWidget();
}

void MainWindow::updateRoot()
{
    const bool library = showsLibrary(m_onboarded.value(), m_sync.isLoggedIn());
    QWidget *wanted = library ? m_library : m_onboarding;
    if (m_root->currentWidget() == wanted)
        return;
    m_root->setCurrentWidget(wanted);
    // The library appearing is a reason to sync.
    if (library)
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
