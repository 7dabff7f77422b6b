#include "EditSheet.h"

#include "Fonts.h"
#include "SheetStyle.h"
#include "SyncEngine.h"
#include "Video.h"
#include "VideoStore.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace clipvane {

namespace {
constexpr int kWidth = 460;
constexpr int kSpacing = 12;
constexpr int kSpaceAboveButtons = 4;
constexpr int kMaxTitleLines = 4;
} // namespace

EditSheet::EditSheet(const QString &youtubeID, SyncEngine &sync, VideoStore &store, QWidget *parent)
    : QDialog(parent)
    , m_youtubeID(youtubeID)
    , m_sync(sync)
    , m_store(store)
    , m_title(new QPlainTextEdit(this))
    , m_date(new QLineEdit(this))
    , m_length(new QLineEdit(this))
{
    SheetStyle::apply(*this, kWidth);
    setWindowTitle(tr("Edit details"));

    m_title->setTabChangesFocus(true);
    m_title->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_title->installEventFilter(this);
    connect(m_title->document(), &QTextDocument::contentsChanged, this, &EditSheet::fitTitleHeight);
    m_date->setPlaceholderText(tr("YYYY-MM-DD"));
    m_length->setPlaceholderText(tr("M:SS"));

    auto *form = new QFormLayout;
    form->setSpacing(kSpacing);
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignTop);
    form->addRow(tr("Title"), m_title);
    form->addRow(tr("Date"), m_date);
    form->addRow(tr("Length"), m_length);

    auto *cancel = new QPushButton(tr("Cancel"), this);
    auto *saveButton = new QPushButton(tr("Save"), this);
    cancel->setAutoDefault(false);
    saveButton->setDefault(true);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(saveButton, &QPushButton::clicked, this, &EditSheet::save);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(cancel);
    buttons->addWidget(saveButton);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(SheetStyle::kPadding, SheetStyle::kPadding, SheetStyle::kPadding, SheetStyle::kPadding);
    column->setSpacing(kSpacing);
    column->addWidget(SheetStyle::heading(tr("Edit details"), 17, this));
    column->addLayout(form);
    column->addSpacing(kSpaceAboveButtons);
    column->addLayout(buttons);

    if (const Video *video = store.find(youtubeID))
        setFields(video->title, video->uploadDate, video->duration);
    fitTitleHeight();
    m_title->setFocus();
    SheetStyle::fitWidth(*this, kWidth);
}

void EditSheet::setFields(const QString &title, const QString &uploadDate, const QString &duration)
{
    m_title->setPlainText(title);
    m_date->setText(uploadDate);
    m_length->setText(duration);
}

void EditSheet::fitTitleHeight()
{
    // One line to four, as the title needs; only a longer title scrolls, and shows a scroll bar.
    const QFontMetrics metrics(m_title->font());
    const int needed = static_cast<int>(m_title->document()->size().height());
    const int lines = std::clamp(needed, 1, kMaxTitleLines);
    m_title->setVerticalScrollBarPolicy(needed > kMaxTitleLines ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    const int frame = 2 * m_title->frameWidth() + static_cast<int>(2 * m_title->document()->documentMargin());
    m_title->setFixedHeight(lines * metrics.lineSpacing() + frame);
}

bool EditSheet::eventFilter(QObject *watched, QEvent *event)
{
    // Return saves, as in the other fields; Shift+Return keeps a line break for the title.
    if (watched == m_title && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) && !(key->modifiers() & Qt::ShiftModifier)) {
            save();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void EditSheet::save()
{
    const EditOutcome outcome =
        m_sync.history().edit(m_youtubeID, m_title->toPlainText(), m_date->text(), m_length->text());
    if (outcome == EditOutcome::done || outcome == EditOutcome::saveFailed)
        Q_EMIT edited();
    accept();
}

} // namespace clipvane
