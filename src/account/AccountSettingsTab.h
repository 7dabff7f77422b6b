#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace clipvane {

class OnboardedFlag;
class SecretStore;
class SyncEngine;

// Who is signed in and when the library last synchronised, with "Sync now" and "Sign out".
class AccountSettingsTab : public QWidget
{
    Q_OBJECT

public:
    // Everything must outlive the tab.
    AccountSettingsTab(SyncEngine &sync, SecretStore &secrets, OnboardedFlag &onboarded, QWidget *parent = nullptr);

    QString signedInAs() const;
    QString lastSyncText() const;
    QPushButton *syncNowButton() const { return m_syncNow; }
    QPushButton *signOutButton() const { return m_signOut; }

Q_SIGNALS:
    // The user signed out here; the main window shows onboarding.
    void signedOut();

protected:
    void showEvent(QShowEvent *event) override;

private:
    // The address is read from the credentials store whenever the tab is shown or the sign-in
    // changes, never kept.
    void refreshAccount();
    void refreshLastSync();

    SyncEngine &m_sync;
    SecretStore &m_secrets;
    OnboardedFlag &m_onboarded;
    QLabel *m_email = nullptr;
    QLabel *m_lastSync = nullptr;
    QPushButton *m_syncNow = nullptr;
    QPushButton *m_signOut = nullptr;
};

} // namespace clipvane
