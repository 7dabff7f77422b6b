#include "SettingsView.h"

#include "AccountSettingsTab.h"
#include "AddingSettingsTab.h"
#include "FamilySettingsTab.h"
#include "Fonts.h"
#include "Palette.h"
#include "PrivacySettingsTab.h"
#include "Symbols.h"

#include <QShortcut>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace clipvane {

SettingsView::SettingsView(SyncEngine &sync, APIClient &api, SecretStore &secrets, OnboardedFlag &onboarded,
                           QSettings &standard, QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setWindowTitle(tr("Settings"));
    setFont(Fonts::font(FontFace::regular, 13));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tabs = new QTabWidget(this);
    m_tabs->setDocumentMode(true);
    m_tabs->setFixedSize(kSize);
    layout->addWidget(m_tabs);
    setFixedSize(kSize);

    m_account = new AccountSettingsTab(sync, secrets, onboarded);
    m_family = new FamilySettingsTab(api, sync, secrets);
    m_adding = new AddingSettingsTab(api, standard);
    m_privacy = new PrivacySettingsTab(api, sync, onboarded);
    const QColor tint = Palette::text();
    m_tabs->addTab(m_account, Symbols::icon(QStringLiteral("person.crop.circle"), tint), tr("Account"));
    m_tabs->addTab(m_family, Symbols::icon(QStringLiteral("person.2"), tint), tr("Family"));
    m_tabs->addTab(m_adding, Symbols::icon(QStringLiteral("plus.circle"), tint), tr("Adding videos"));
    // A tab label marks its shortcut letter with "&": the ampersand of the title is doubled.
    QString privacy = tr("Data & privacy");
    privacy.replace(QLatin1Char('&'), QStringLiteral("&&"));
    m_tabs->addTab(m_privacy, Symbols::icon(QStringLiteral("lock.shield"), tint), privacy);
    const int side = Symbols::boxFor(13);
    m_tabs->setIconSize(QSize(side, side));
    // Wider than the design where the tab labels need it (a longer language), so none is cut off.
    const int width = std::max(kSize.width(), m_tabs->tabBar()->sizeHint().width());
    m_tabs->setFixedWidth(width);
    setFixedWidth(width);

    // The window's own keys close it, also where no window manager draws a close button.
    for (const QKeySequence::StandardKey key : {QKeySequence::Cancel, QKeySequence::Close})
        connect(new QShortcut(key, this), &QShortcut::activated, this, &QWidget::close);

    connect(m_account, &AccountSettingsTab::signedOut, this, &SettingsView::signedOut);
    connect(m_privacy, &PrivacySettingsTab::accountDeleted, this, &SettingsView::signedOut);
}

void SettingsView::showAndRaise()
{
    show();
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

} // namespace clipvane
