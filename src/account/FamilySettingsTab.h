#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;

namespace clipvane {

class APIClient;
class FamilySettingsModel;
class SettingsSection;

// Sharing the library read-only with family members, and the libraries shared with the user.
class FamilySettingsTab : public QWidget
{
    Q_OBJECT

public:
    // api must outlive the tab. The lists are fetched the first time the tab is shown.
    explicit FamilySettingsTab(APIClient &api, QWidget *parent = nullptr);

    FamilySettingsModel &model() const { return *m_model; }
    QLineEdit *emailField() const { return m_email; }
    QPushButton *inviteButton() const { return m_invite; }
    // The "Remove" button of a member's row; null when the address is not listed.
    QPushButton *removeButton(const QString &email) const;
    bool showsSharedWithMe() const;
    // The error under the form; empty while there is none.
    QString errorText() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void invite();
    void rebuild();

    FamilySettingsModel *m_model = nullptr;
    SettingsSection *m_members = nullptr;
    SettingsSection *m_shared = nullptr;
    QLineEdit *m_email = nullptr;
    QPushButton *m_invite = nullptr;
    QLabel *m_error = nullptr;
    bool m_loaded = false;
};

} // namespace clipvane
