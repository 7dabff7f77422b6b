#pragma once

#include <QWidget>
#include <optional>

class QLabel;
class QLineEdit;
class QMessageBox;
class QPushButton;

namespace clipvane {

class APIClient;
class FamilySettingsModel;
class SecretStore;
class SettingsSection;
class SyncEngine;

// Sharing the library read-only with family members, and the libraries shared with the user.
class FamilySettingsTab : public QWidget
{
    Q_OBJECT

public:
    // Everything must outlive the tab. The lists are fetched when the tab is first shown for the
    // account signed in (secrets name it), and forgotten when that account signs out.
    FamilySettingsTab(APIClient &api, SyncEngine &sync, SecretStore &secrets, QWidget *parent = nullptr);

    FamilySettingsModel &model() const { return *m_model; }
    QLineEdit *emailField() const { return m_email; }
    QPushButton *inviteButton() const { return m_invite; }
    // The "Remove" button of a member's row; null when the address is not listed.
    QPushButton *removeButton(const QString &email) const;
    // The "Decline" button of a row under "Shared with me"; null when the address is not listed.
    QPushButton *declineButton(const QString &owner) const;
    // The question a "Decline" button asks before anything is sent; null while none is open.
    QMessageBox *declineQuestion() const;
    bool showsSharedWithMe() const;
    // The error under the form; empty while there is none.
    QString errorText() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void invite();
    void askToDecline(const QString &owner);
    void rebuild();
    // Loads the lists of the account signed in now, unless they are the ones shown.
    void followAccount();
    void forgetAccount();

    FamilySettingsModel *m_model = nullptr;
    SettingsSection *m_members = nullptr;
    SettingsSection *m_shared = nullptr;
    QLineEdit *m_email = nullptr;
    QPushButton *m_invite = nullptr;
    QLabel *m_error = nullptr;
    SyncEngine &m_sync;
    SecretStore &m_secrets;
    // The account whose lists are shown (empty: signed out); none before the first showing.
    std::optional<QString> m_shownAccount;
};

} // namespace clipvane
