#include "FamilySettingsTab.h"

#include "FamilyInvite.h"
#include "FamilySettingsModel.h"
#include "Fonts.h"
#include "Palette.h"
#include "SecretStore.h"
#include "SettingsForm.h"
#include "SettingsSection.h"
#include "Symbols.h"
#include "SyncEngine.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr qreal kTextSize = 13;
constexpr qreal kNoteSize = 11.5;
constexpr qreal kErrorSize = 12;
const QColor kCyan = QColor::fromRgb(100, 210, 255); // the system cyan of the dark appearance

// Rows of an earlier list wait hidden for their deletion; new ones are shown a moment later.
bool discarded(const QWidget *widget)
{
    return widget->isHidden() && widget->testAttribute(Qt::WA_WState_ExplicitShowHide);
}

QPushButton *rowButton(const SettingsSection *section, const char *property, const QString &email)
{
    for (QPushButton *button : section->findChildren<QPushButton *>()) {
        if (!discarded(button) && !discarded(button->parentWidget()) && button->property(property).toString() == email)
            return button;
    }
    return nullptr;
}

} // namespace

FamilySettingsTab::FamilySettingsTab(APIClient &api, SyncEngine &sync, SecretStore &secrets, QWidget *parent)
    : QWidget(parent)
    , m_model(new FamilySettingsModel(api, this))
    , m_sync(sync)
    , m_secrets(secrets)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *form = new SettingsForm(this);
    layout->addWidget(form);

    m_members = form->addSection(tr("People who can see my library"));
    m_email = new QLineEdit;
    m_email->setFont(Fonts::font(FontFace::regular, kTextSize));
    m_email->setPlaceholderText(tr("name@example.com"));
    m_email->setAccessibleName(tr("E-mail address to invite"));
    m_invite = SettingsForm::button(tr("Invite"));
    // The field and its button are created once and moved into the rebuilt list each time.
    m_email->setParent(this);
    m_invite->setParent(this);
    form->addWidget(SettingsForm::text(tr("Family members see your library read-only when they sign in with "
                                          "their own account."),
                                       kNoteSize, Palette::muted()));

    m_shared = form->addSection(tr("Shared with me"));
    m_error = SettingsForm::text(QString(), kErrorSize, Palette::errorRed());
    form->addWidget(m_error);

    connect(m_email, &QLineEdit::returnPressed, this, &FamilySettingsTab::invite);
    connect(m_email, &QLineEdit::textChanged, this,
            [this] { m_invite->setEnabled(FamilyInvite::canInvite(m_email->text(), m_model->busy())); });
    connect(m_invite, &QPushButton::clicked, this, &FamilySettingsTab::invite);
    connect(m_model, &FamilySettingsModel::changed, this, &FamilySettingsTab::rebuild);
    // The owner's videos go with the next cycle, which learns of the decline from the service.
    connect(m_model, &FamilySettingsModel::shareDeclined, this, [this] { m_sync.scheduleSync(); });
    connect(&m_sync, &SyncEngine::isLoggedInChanged, this, &FamilySettingsTab::forgetAccount);
    // A sign-in as someone else while signed in changes no sign-in state; its first sync does.
    connect(&m_sync, &SyncEngine::lastSyncChanged, this, [this] {
        if (isVisible())
            followAccount();
    });
    rebuild();
}

void FamilySettingsTab::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    followAccount();
}

void FamilySettingsTab::followAccount()
{
    const QString account =
        m_sync.isLoggedIn() ? m_secrets.keychainRead(SecretKeys::email).value_or(QString()) : QString();
    if (m_shownAccount == account)
        return;
    m_model->reset();
    m_shownAccount = account;
    if (m_sync.isLoggedIn())
        m_model->load();
}

void FamilySettingsTab::forgetAccount()
{
    // Nothing of the account that signed out stays on screen, even for a moment.
    m_model->reset();
    m_shownAccount.reset();
    if (isVisible())
        followAccount();
}

void FamilySettingsTab::invite()
{
    // Return works even while a change runs; only the button waits for it.
    if (m_model->invite(m_email->text()))
        m_email->clear();
}

QPushButton *FamilySettingsTab::removeButton(const QString &email) const
{
    return rowButton(m_members, "member", email);
}

QPushButton *FamilySettingsTab::declineButton(const QString &owner) const
{
    return rowButton(m_shared, "owner", owner);
}

QMessageBox *FamilySettingsTab::declineQuestion() const
{
    return findChild<QMessageBox *>(QString(), Qt::FindDirectChildrenOnly);
}

void FamilySettingsTab::askToDecline(const QString &owner)
{
    // Declining takes the owner's videos out of this library and keeps them from sharing again,
    // so it is asked first, with Cancel as the answer Return gives.
    if (QMessageBox *open = declineQuestion())
        open->reject();
    auto *question =
        new QMessageBox(QMessageBox::Warning, tr("Decline shared library"),
                        tr("Stop seeing the library %1 shares with you?").arg(owner), QMessageBox::Cancel, this);
    question->setInformativeText(
        tr("Their videos leave this library at the next sync, and they can't share with you again."));
    QPushButton *decline = question->addButton(tr("Decline"), QMessageBox::DestructiveRole);
    decline->setAccessibleName(tr("Decline %1").arg(owner));
    question->setDefaultButton(QMessageBox::Cancel);
    question->setEscapeButton(QMessageBox::Cancel);
    question->setAttribute(Qt::WA_DeleteOnClose);
    const QPointer<QPushButton> chosen(decline);
    connect(question, &QMessageBox::finished, this, [this, question, chosen, owner] {
        if (chosen && question->clickedButton() == chosen)
            m_model->decline(owner);
    });
    question->open();
}

bool FamilySettingsTab::showsSharedWithMe() const
{
    return !m_shared->isHidden();
}

QString FamilySettingsTab::errorText() const
{
    return m_error->isHidden() ? QString() : m_error->text();
}

void FamilySettingsTab::rebuild()
{
    // Keep the field (and the user's place in it) and the button while their rows are rebuilt.
    const bool typing = m_email->hasFocus();
    m_email->setParent(this);
    m_invite->setParent(this);
    m_members->clearRows();
    if (m_model->members().isEmpty()) {
        m_members->addRow(SettingsForm::text(tr("No one yet."), kTextSize, Palette::muted()));
    } else {
        for (const QString &member : m_model->members()) {
            auto *address = SettingsForm::text(member, kTextSize, Palette::text());
            address->setWordWrap(false);
            address->setAccessibleDescription(tr("Can see my library"));
            QPushButton *remove = SettingsForm::linkButton(tr("Remove"));
            remove->setProperty("member", member);
            // Several rows each have one: a screen reader names whom it removes.
            remove->setAccessibleName(tr("Remove %1").arg(member));
            connect(remove, &QPushButton::clicked, this, [this, member] { m_model->remove(member); });
            m_members->addRow({address, remove});
        }
    }
    m_members->addRow({m_email, m_invite}, SettingsSection::Space::none);
    m_email->show();
    m_invite->show();
    if (typing)
        m_email->setFocus(Qt::OtherFocusReason);
    m_invite->setEnabled(FamilyInvite::canInvite(m_email->text(), m_model->busy()));

    m_shared->clearRows();
    const int iconSide = Symbols::boxFor(kTextSize);
    for (const QString &owner : m_model->sharedWithMe()) {
        auto *icon = new QLabel;
        icon->setPixmap(
            Symbols::pixmap(QStringLiteral("person.2.fill"), kCyan, QSize(iconSide, iconSide), devicePixelRatioF()));
        auto *address = SettingsForm::text(owner, kTextSize, Palette::text());
        address->setWordWrap(false);
        address->setAccessibleDescription(tr("Shared with me"));
        QPushButton *decline = SettingsForm::linkButton(tr("Decline"));
        decline->setProperty("owner", owner);
        decline->setAccessibleName(tr("Decline %1").arg(owner));
        connect(decline, &QPushButton::clicked, this, [this, owner] { askToDecline(owner); });
        auto *row = new QWidget;
        auto *rowLayout = new QHBoxLayout(row);
        rowLayout->setSpacing(6);
        rowLayout->addWidget(icon);
        rowLayout->addWidget(address, 1);
        rowLayout->addWidget(decline);
        m_shared->addRow(row);
    }
    m_shared->setVisible(!m_model->sharedWithMe().isEmpty());

    const std::optional<QString> &error = m_model->error();
    m_error->setText(error.value_or(QString()));
    m_error->setVisible(error.has_value());
}

} // namespace clipvane
