#include "PrivacySettingsTab.h"

#include "APIClient.h"
#include "AccountSignOut.h"
#include "ConfirmSheet.h"
#include "ExportWriter.h"
#include "Palette.h"
#include "SettingsForm.h"
#include "SettingsSection.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr qreal kNoteSize = 11.5;
constexpr qreal kStatusSize = 12;

} // namespace

const QString PrivacySettingsTab::kProposedName = QStringLiteral("clipvane-export.json");

PrivacySettingsTab::PrivacySettingsTab(APIClient &api, SyncEngine &sync, OnboardedFlag &onboarded, QWidget *parent)
    : QWidget(parent)
    , m_api(api)
    , m_sync(sync)
    , m_onboarded(onboarded)
    , m_chooseFile([this](const QString &name) { return chooseFileWithDialog(name); })
    , m_confirmDeletion([this] { return confirmWithDialog(); })
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *form = new SettingsForm(this);
    layout->addWidget(form);

    SettingsSection *data = form->addSection();
    m_export = SettingsForm::button(tr("Export my data\u2026"));
    data->addRow({m_export}, SettingsSection::Space::atEnd);
    data->addRow(
        SettingsForm::text(tr("Everything Clipvane holds about you, as a JSON file."), kNoteSize, Palette::muted()));

    SettingsSection *danger = form->addSection(tr("Danger zone"));
    m_delete = SettingsForm::button(tr("Delete my account\u2026"));
    // The destructive role: the label in the platform's red.
    m_delete->setStyleSheet(
        QStringLiteral("QPushButton { padding: 3px 12px; color: %1; }").arg(Palette::errorRed().name()));
    danger->addRow({m_delete}, SettingsSection::Space::atEnd);
    danger->addRow(SettingsForm::text(tr("Deleting your account permanently erases your library and personal data "
                                         "from Clipvane. This cannot be undone."),
                                      kNoteSize, Palette::muted()));

    m_status = SettingsForm::text(QString(), kStatusSize, Palette::muted());
    m_status->hide();
    form->addWidget(m_status);

    connect(m_export, &QPushButton::clicked, this, [this] { exportData(); });
    connect(m_delete, &QPushButton::clicked, this, &PrivacySettingsTab::requestDeletion);
}

std::optional<QString> PrivacySettingsTab::status() const
{
    if (m_status->isHidden())
        return std::nullopt;
    return m_status->text();
}

void PrivacySettingsTab::setStatus(const QString &status)
{
    m_status->setText(status);
    m_status->show();
}

QCoro::Task<> PrivacySettingsTab::exportData()
{
    QPointer<PrivacySettingsTab> self(this);
    m_busy = true;
    const ApiResult<QByteArray> bytes = co_await m_api.exportAccount();
    if (!self)
        co_return;
    if (!bytes) {
        setStatus(tr("Export failed \u2014 try again."));
        m_busy = false;
        Q_EMIT settled();
        co_return;
    }
    const QString path = m_chooseFile(kProposedName);
    if (!self)
        co_return;
    if (!path.isEmpty()) {
        if (ExportWriter::write(path, *bytes))
            setStatus(tr("Saved to %1.").arg(QFileInfo(path).fileName()));
        else
            setStatus(tr("Export failed \u2014 try again."));
    }
    m_busy = false;
    Q_EMIT settled();
}

void PrivacySettingsTab::requestDeletion()
{
    if (m_confirmDeletion())
        confirmDeletion();
}

QCoro::Task<> PrivacySettingsTab::confirmDeletion()
{
    QPointer<PrivacySettingsTab> self(this);
    const ApiResult<void> deleted = co_await m_api.deleteAccount();
    if (!self)
        co_return;
    if (deleted) {
        AccountSignOut::afterDeletion(m_sync, m_onboarded);
        Q_EMIT accountDeleted();
    } else {
        setStatus(tr("Couldn't delete the account \u2014 try again."));
    }
    Q_EMIT settled();
}

QString PrivacySettingsTab::chooseFileWithDialog(const QString &proposedName)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty())
        folder = QDir::homePath();
    return QFileDialog::getSaveFileName(window(), tr("Export my data"), QDir(folder).filePath(proposedName),
                                        tr("JSON (*.json)"));
}

bool PrivacySettingsTab::confirmWithDialog()
{
    bool confirmed = false;
    ConfirmSheet sheet(
        tr("Delete your account?"), tr("Your library and personal data are erased from Clipvane permanently."),
        tr("Delete account"), [&confirmed] { confirmed = true; }, window());
    sheet.setDestructive();
    sheet.exec();
    return confirmed;
}

} // namespace clipvane
