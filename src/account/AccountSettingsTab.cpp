#include "AccountSettingsTab.h"

#include "AccountSignOut.h"
#include "LastSyncText.h"
#include "Palette.h"
#include "SecretStore.h"
#include "SettingsForm.h"
#include "SettingsSection.h"
#include "SyncEngine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr qreal kTextSize = 13;

} // namespace

AccountSettingsTab::AccountSettingsTab(SyncEngine &sync, SecretStore &secrets, OnboardedFlag &onboarded,
                                       QWidget *parent)
    : QWidget(parent)
    , m_sync(sync)
    , m_secrets(secrets)
    , m_onboarded(onboarded)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *form = new SettingsForm(this);
    layout->addWidget(form);

    SettingsSection *section = form->addSection();
    m_email = SettingsForm::text(QString(), kTextSize, Palette::muted());
    m_email->setWordWrap(false);
    m_email->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_email->setAccessibleDescription(tr("Signed in as"));
    section->addRow({SettingsForm::text(tr("Signed in as"), kTextSize, Palette::text()), m_email});
    m_lastSync = SettingsForm::text(QString(), kTextSize, Palette::muted());
    m_lastSync->setWordWrap(false);
    m_lastSync->setAccessibleDescription(tr("Last sync"));
    section->addRow({SettingsForm::text(tr("Last sync"), kTextSize, Palette::text()), m_lastSync});

    m_syncNow = SettingsForm::button(tr("Sync now"));
    m_signOut = SettingsForm::button(tr("Sign out"));
    auto *buttons = new QWidget;
    auto *buttonRow = new QHBoxLayout(buttons);
    buttonRow->setSpacing(8);
    buttonRow->addWidget(m_syncNow);
    buttonRow->addWidget(m_signOut);
    buttonRow->addStretch(1);
    section->addRow(buttons);

    connect(m_syncNow, &QPushButton::clicked, &m_sync, &SyncEngine::syncNow);
    connect(m_signOut, &QPushButton::clicked, this, [this] {
        AccountSignOut::run(m_sync, m_onboarded);
        Q_EMIT signedOut();
    });
    connect(&m_sync, &SyncEngine::lastSyncChanged, this, &AccountSettingsTab::refreshLastSync);
    connect(&m_sync, &SyncEngine::isLoggedInChanged, this, &AccountSettingsTab::refreshAccount);
    refreshAccount();
    refreshLastSync();
}

QString AccountSettingsTab::signedInAs() const
{
    return m_email->text();
}

QString AccountSettingsTab::lastSyncText() const
{
    return m_lastSync->text();
}

void AccountSettingsTab::showEvent(QShowEvent *event)
{
    refreshAccount();
    QWidget::showEvent(event);
}

void AccountSettingsTab::refreshAccount()
{
    const std::optional<QString> email = m_secrets.keychainRead(SecretKeys::email);
    m_email->setText(email && !email->isEmpty() ? *email : QStringLiteral("\u2014"));
}

void AccountSettingsTab::refreshLastSync()
{
    m_lastSync->setText(LastSyncText::format(m_sync.lastSync()));
}

} // namespace clipvane
