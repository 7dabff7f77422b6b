#pragma once

#include <QMainWindow>

class QStackedWidget;

namespace clipvane {

class GoogleAuth;
class MacOnboardingView;
class OnboardedFlag;
class SyncEngine;
class VideoStore;

// The main window: onboarding until the user is onboarded and holds a token, the library
// afterwards. Signing out, or a token the service refuses, returns it to onboarding at once;
// the local records stay.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr QSize kDefaultSize{1180, 740};
    static constexpr QSize kMinimumSize{900, 560};

    MainWindow(SyncEngine &sync, VideoStore &store, OnboardedFlag &onboarded, GoogleAuth &auth,
               QWidget *parent = nullptr);

    // The root switch: the library only for an onboarded user who is signed in.
    static bool showsLibrary(bool onboarded, bool loggedIn) { return onboarded && loggedIn; }
    bool isShowingLibrary() const;
    QWidget *currentPage() const;

    // Shows, raises and activates the window (a later launch, an opened link).
    void bringToFront();

private:
    void updateRoot();

    SyncEngine &m_sync;
    OnboardedFlag &m_onboarded;
    QStackedWidget *m_root;
    MacOnboardingView *m_onboarding;
    QWidget *m_library;
};

} // namespace clipvane
