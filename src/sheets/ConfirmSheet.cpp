#include "ConfirmSheet.h"

#include "SheetStyle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace clipvane {

namespace {
constexpr int kWidth = 420;
constexpr int kSpacing = 12;
constexpr int kSpaceAboveButtons = 4;
} // namespace

ConfirmSheet::ConfirmSheet(const QString &title, const QString &message, const QString &destructiveLabel,
                           std::function<void()> action, QWidget *parent)
    : QDialog(parent)
    , m_action(std::move(action))
    , m_cancel(new QPushButton(tr("Cancel"), this))
    , m_confirm(new QPushButton(destructiveLabel, this))
{
    SheetStyle::apply(*this, kWidth);
    setWindowTitle(title);

    QPushButton *cancel = m_cancel;
    QPushButton *confirmButton = m_confirm;
    confirmButton->setDefault(true);
    confirmButton->setAutoDefault(true);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(confirmButton, &QPushButton::clicked, this, &ConfirmSheet::confirm);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(confirmButton);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(SheetStyle::kPadding, SheetStyle::kPadding, SheetStyle::kPadding, SheetStyle::kPadding);
    column->setSpacing(kSpacing);
    QLabel *heading = SheetStyle::heading(title, 16, this);
    // The question may carry a count or a title: a screen reader says what the text is.
    heading->setAccessibleDescription(tr("Confirmation"));
    column->addWidget(heading);
    column->addWidget(SheetStyle::note(message, this));
    column->addSpacing(kSpaceAboveButtons);
    column->addLayout(buttons);
    confirmButton->setFocus();
    SheetStyle::fitWidth(*this, kWidth);
}

void ConfirmSheet::setDestructive()
{
    m_confirm->setDefault(false);
    m_confirm->setAutoDefault(false);
    m_confirm->setProperty("destructive", true);
    m_cancel->setDefault(true);
    m_cancel->setFocus();
    SheetStyle::repolish(*m_confirm);
}

void ConfirmSheet::confirm()
{
    // The step runs once: a second press while the sheet closes finds nothing to run.
    if (auto action = std::exchange(m_action, nullptr))
        action();
    accept();
}

QString ConfirmSheet::deleteTitle(const QString &videoTitle)
{
    return tr("Delete “%1”?").arg(videoTitle);
}

} // namespace clipvane
