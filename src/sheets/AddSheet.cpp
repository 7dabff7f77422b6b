#include "AddSheet.h"

#include "Fonts.h"
#include "LinkParser.h"
#include "Palette.h"
#include "SheetStyle.h"
#include "SyncEngine.h"
#include "VideoStore.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace clipvane {

namespace {
constexpr int kWidth = 440;
constexpr int kSpacing = 14;
} // namespace

AddSheet::AddSheet(SyncEngine &sync, VideoStore &store, QWidget *parent)
    : QDialog(parent)
    , m_sync(sync)
    , m_store(store)
    , m_field(new QLineEdit(this))
    , m_errorLabel(new QLabel(this))
    , m_add(new QPushButton(tr("Add"), this))
{
    SheetStyle::apply(*this, kWidth);
    setWindowTitle(tr("Add a video"));

    m_field->setFont(Fonts::font(FontFace::regular, 13));
    m_field->setPlaceholderText(tr("https://youtu.be/…"));
    m_field->setAccessibleName(tr("YouTube link"));
    m_field->setClearButtonEnabled(true);
    // Qt's clear button inside the field carries no name of its own.
    if (auto *clear = m_field->findChild<QToolButton *>())
        clear->setAccessibleName(tr("Clear"));
    connect(m_field, &QLineEdit::textChanged, this, &AddSheet::updateAddButton);

    m_errorLabel->setFont(Fonts::font(FontFace::regular, 12));
    QPalette red = m_errorLabel->palette();
    red.setColor(QPalette::WindowText, Palette::errorRed());
    m_errorLabel->setPalette(red);
    m_errorLabel->setAccessibleDescription(tr("Error"));
    m_errorLabel->hide();

    auto *paste = new QPushButton(tr("Paste from clipboard"), this);
    paste->setFlat(true);
    paste->setFont(Fonts::font(FontFace::regular, 12.5));
    QPalette muted = paste->palette();
    muted.setColor(QPalette::ButtonText, Palette::muted());
    paste->setPalette(muted);
    paste->setAutoDefault(false);
    paste->setCursor(Qt::PointingHandCursor);
    connect(paste, &QPushButton::clicked, this, &AddSheet::pasteFromClipboard);

    auto *cancel = new QPushButton(tr("Cancel"), this);
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_add->setDefault(true);
    // Return in the field goes through the default button, which is disabled for text that is
    // no link: Return then does nothing, as the button does.
    connect(m_add, &QPushButton::clicked, this, &AddSheet::add);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(paste);
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(m_add);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(SheetStyle::kPadding, SheetStyle::kPadding, SheetStyle::kPadding, SheetStyle::kPadding);
    column->setSpacing(kSpacing);
    column->addWidget(SheetStyle::heading(tr("Add a video"), 17, this));
    column->addWidget(
        SheetStyle::note(tr("Paste a YouTube link. The title, date and length are fetched for you."), this));
    column->addWidget(m_field);
    column->addWidget(m_errorLabel);
    column->addLayout(buttons);

    // A link on the clipboard is what the user most likely came to add.
    const QString clipboard = QGuiApplication::clipboard()->text();
    if (youtubeID(clipboard))
        m_field->setText(clipboard);
    updateAddButton();
    m_field->setFocus();
    SheetStyle::fitWidth(*this, kWidth);
}

QString AddSheet::link() const
{
    return m_field->text();
}

void AddSheet::setLink(const QString &link)
{
    m_field->setText(link);
}

bool AddSheet::linkIsValid() const
{
    return youtubeID(m_field->text()).has_value();
}

void AddSheet::updateAddButton()
{
    m_add->setEnabled(linkIsValid());
}

void AddSheet::add()
{
    if (!linkIsValid()) {
        showError(tr("That doesn't look like a YouTube link."));
        return;
    }
    // A link the library refuses keeps the sheet open with the reason; a failed save does not:
    // the record is kept and written by the next save.
    const AddOutcome outcome = m_sync.edits().add(m_field->text());
    if (outcome.kind == AddOutcome::Kind::refused) {
        showError(outcome.reason);
        return;
    }
    accept();
}

void AddSheet::showError(const QString &error)
{
    m_error = error;
    m_errorLabel->setText(error);
    m_errorLabel->show();
}

void AddSheet::pasteFromClipboard()
{
    m_field->setText(QGuiApplication::clipboard()->text());
}

} // namespace clipvane
