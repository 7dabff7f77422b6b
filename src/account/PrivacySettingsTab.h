#pragma once

#include <QWidget>
#include <functional>
#include <optional>
#include <qcorotask.h>

class QLabel;
class QPushButton;

namespace clipvane {

class OnboardedFlag;
class APIClient;
class SyncEngine;

// Saving everything the service holds about the account as a JSON file, and deleting the
// account after a confirmation.
class PrivacySettingsTab : public QWidget
{
    Q_OBJECT

public:
    // Asks where to save the export, proposing a file name; an empty result cancels.
    using SaveChooser = std::function<QString(const QString &proposedName)>;
    // Asks whether to delete the account; true for "Delete account".
    using DeleteConfirmation = std::function<bool()>;

    // Everything must outlive the tab.
    PrivacySettingsTab(APIClient &api, SyncEngine &sync, OnboardedFlag &onboarded, QWidget *parent = nullptr);

    void setSaveChooser(SaveChooser chooser) { m_chooseFile = std::move(chooser); }
    void setDeleteConfirmation(DeleteConfirmation confirmation) { m_confirmDeletion = std::move(confirmation); }

    QPushButton *exportButton() const { return m_export; }
    QPushButton *deleteButton() const { return m_delete; }
    bool busy() const { return m_busy; }
    // The last outcome's message; none before the first.
    std::optional<QString> status() const;

    static const QString kProposedName;

Q_SIGNALS:
    // An export or a deletion finished (for tests and accessibility announcements).
    void settled();
    // The account is gone and the session with it; the main window shows onboarding.
    void accountDeleted();

private:
    QCoro::Task<> exportData();
    void requestDeletion();
    QCoro::Task<> confirmDeletion();
    void setStatus(const QString &status);
    QString chooseFileWithDialog(const QString &proposedName);
    bool confirmWithDialog();

    APIClient &m_api;
    SyncEngine &m_sync;
    OnboardedFlag &m_onboarded;
    QPushButton *m_export = nullptr;
    QPushButton *m_delete = nullptr;
    QLabel *m_status = nullptr;
    bool m_busy = false;
    SaveChooser m_chooseFile;
    DeleteConfirmation m_confirmDeletion;
};

} // namespace clipvane
