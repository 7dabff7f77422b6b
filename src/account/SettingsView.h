#pragma once

#include <QWidget>

class QSettings;
class QTabWidget;

namespace clipvane {

class OnboardedFlag;
class APIClient;
class AccountSettingsTab;
class AddingSettingsTab;
class FamilySettingsTab;
class PrivacySettingsTab;
class SecretStore;
class SyncEngine;

// The settings window: a top-level window of its own (never the main window) holding the
// tabs at a fixed size. It stays open when the user signs out or deletes the account.
class SettingsView : public QWidget
{
    Q_OBJECT

public:
    static constexpr QSize kSize{520, 380};

    // sync: the application's engine; api: the client it uses; secrets: the credentials store
    // ("Signed in as"); onboarded: the flag that returns the main window to onboarding. All must
    // outlive the window. standard: the standard settings (the player's preference, on the adding tab).
    SettingsView(SyncEngine &sync, APIClient &api, SecretStore &secrets, OnboardedFlag &onboarded, QSettings &standard,
                 QWidget *parent = nullptr);

    // Shows the window, or brings it to the front when it is already open.
    void showAndRaise();

    QTabWidget *tabs() const { return m_tabs; }
    AccountSettingsTab *accountTab() const { return m_account; }
    FamilySettingsTab *familyTab() const { return m_family; }
    AddingSettingsTab *addingTab() const { return m_adding; }
    PrivacySettingsTab *privacyTab() const { return m_privacy; }

Q_SIGNALS:
    // The session ended here (sign-out, or the account deleted): "onboarded" is already false
    // and the engine signed out; the main window shows onboarding.
    void signedOut();

private:
    QTabWidget *m_tabs = nullptr;
    AccountSettingsTab *m_account = nullptr;
    FamilySettingsTab *m_family = nullptr;
    AddingSettingsTab *m_adding = nullptr;
    PrivacySettingsTab *m_privacy = nullptr;
};

} // namespace clipvane
