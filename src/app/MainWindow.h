#pragma once

#include "LibraryView.h"
#include "WindowMemory.h"

#include <QMainWindow>
#include <QPointer>
#include <QUrl>

class QDialog;
class QSettings;
class QStackedWidget;

namespace clipvane {

class APIClient;
class ClipvaneCommands;
class GoogleAuth;
class AppState;
class OnboardingView;
class OnboardedFlag;
class SyncEngine;
class VideoStore;

// The main window: onboarding until the user is onboarded and holds a token, the library
// afterwards. Signing out, or a token the service refuses, returns it to onboarding at once;
// the local records stay. The library view is made when it is shown and let go when the user
// leaves it (with its player), while the window state it works on lives on.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr QSize kDefaultSize{1180, 740};
    static constexpr QSize kMinimumSize{900, 560};

    // api: the service's client (the assistant asks it); the player page and the help page live
    // on its web origin. standard: the standard settings, where the window's size and place,
    // the column's width and the selection are kept between launches.
    MainWindow(SyncEngine &sync, VideoStore &store, OnboardedFlag &onboarded, GoogleAuth &auth, AppState &state,
               APIClient &api, QSettings &standard, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The root switch: the library only for an onboarded user who is signed in.
    static bool showsLibrary(bool onboarded, bool loggedIn) { return onboarded && loggedIn; }
    bool isShowingLibrary() const;
    QWidget *currentPage() const;
    LibraryView *library() const { return m_library; }
    ClipvaneCommands &commands() const { return *m_commands; }

    // Shows, raises and activates the window (a later launch, an opened link).
    void bringToFront();
    // Keeps the size and place, the column's width and the selection for the next launch.
    void remember();

    // The Help menu's sheets; the one open, if any.
    void presentShortcuts();
    void presentAbout();
    QDialog *helpSheet() const { return m_helpSheet; }
    // The homepage, licence and version About shows.
    static QUrl projectLink();
    static QString licence();

Q_SIGNALS:
    // The toolbar's gear or the menu's settings command.
    void settingsRequested();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void updateRoot();
    void presentHelp(QDialog *sheet);

    SyncEngine &m_sync;
    VideoStore &m_store;
    OnboardedFlag &m_onboarded;
    AppState &m_state;
    APIClient &m_api;
    QStackedWidget *m_root;
    OnboardingView *m_onboarding;
    QPointer<LibraryView> m_library;
    ClipvaneCommands *m_commands;
    WindowMemory m_memory;
    QPointer<QDialog> m_helpSheet;
};

} // namespace clipvane
