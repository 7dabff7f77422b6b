#include "SelectionPane.h"

#include "EditHistory.h"
#include "Fonts.h"
#include "Palette.h"
#include "PillButton.h"
#include "Symbols.h"

#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr qreal kSymbolSize = 40;
constexpr qreal kHeadingSize = 24;
constexpr qreal kNoteSize = 13;
constexpr int kSpacing = 14;
constexpr int kButtonSpacing = 8;

void setColour(QLabel *label, const QColor &colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

} // namespace

SelectionPane::SelectionPane(QWidget *parent)
    : QWidget(parent)
    , m_symbol(new QLabel(this))
    , m_heading(new QLabel(this))
    , m_hint(new QLabel(this))
    , m_note(new QLabel(this))
    , m_exclude(new PillButton(QStringLiteral("eye.slash"), tr("Exclude"), PillButton::Style::ordinary, this))
    , m_include(new PillButton(QStringLiteral("eye"), tr("Include back in library"), PillButton::Style::ordinary, this))
    , m_delete(new PillButton(QStringLiteral("trash"), tr("Delete…"), PillButton::Style::ordinary, this))
{
    m_heading->setFont(Fonts::font(FontFace::display, kHeadingSize));
    m_heading->setAlignment(Qt::AlignHCenter);
    m_heading->setAccessibleDescription(tr("Videos selected"));
    setColour(m_heading, Palette::text());
    const int box = Symbols::boxFor(kSymbolSize);
    m_symbol->setPixmap(Symbols::pixmap(QStringLiteral("rectangle.stack.badge.play"), Palette::muted(), QSize(box, box),
                                        devicePixelRatioF()));
    m_symbol->setAlignment(Qt::AlignHCenter);
    m_hint->setFont(Fonts::font(FontFace::regular, kNoteSize));
    m_hint->setAlignment(Qt::AlignHCenter);
    m_hint->setWordWrap(true);
    m_hint->setText(tr("A change here applies to each of them; %1 takes it back.")
                        .arg(QKeySequence(QKeySequence::Undo).toString(QKeySequence::NativeText)));
    m_hint->setAccessibleName(m_hint->text());
    setColour(m_hint, Palette::muted());
    m_note->setFont(Fonts::font(FontFace::regular, kNoteSize));
    m_note->setAlignment(Qt::AlignHCenter);
    m_note->setWordWrap(true);
    m_note->setAccessibleDescription(tr("Shared videos in the selection"));
    setColour(m_note, Palette::muted());
    m_delete->setLook(Palette::errorRed(), Palette::card());

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(kButtonSpacing);
    buttons->addStretch(1);
    for (PillButton *button : {m_exclude, m_include, m_delete}) {
        button->setAccessibleName(button->text());
        buttons->addWidget(button);
    }
    buttons->addStretch(1);

    auto *stack = new QVBoxLayout(this);
    stack->setSpacing(kSpacing);
    stack->addStretch(1);
    stack->addWidget(m_symbol);
    stack->addWidget(m_heading);
    stack->addWidget(m_hint);
    stack->addWidget(m_note);
    stack->addLayout(buttons);
    stack->addStretch(1);

    connect(m_exclude, &QAbstractButton::clicked, this, &SelectionPane::excludeClicked);
    connect(m_include, &QAbstractButton::clicked, this, &SelectionPane::includeClicked);
    connect(m_delete, &QAbstractButton::clicked, this, &SelectionPane::deleteClicked);
}

QString SelectionPane::countText(qsizetype count)
{
    return tr("%n videos selected", nullptr, int(count));
}

void SelectionPane::setSelection(qsizetype count, qsizetype shared, qsizetype excluded, qsizetype included)
{
    m_heading->setText(countText(count));
    m_heading->setAccessibleName(m_heading->text());
    m_note->setText(EditHistory::describeReadOnly(shared));
    m_note->setAccessibleName(m_note->text());
    m_note->setVisible(shared > 0);
    m_exclude->setVisible(included > 0);
    m_include->setVisible(excluded > 0);
    m_delete->setVisible(excluded + included > 0);
    // Names with the count, so a screen reader says what the button will change.
    m_exclude->setAccessibleName(tr("Exclude %n videos", nullptr, int(included)));
    m_include->setAccessibleName(tr("Include %n videos back in library", nullptr, int(excluded)));
    m_delete->setAccessibleName(tr("Delete %n videos", nullptr, int(excluded + included)));
}

QString SelectionPane::heading() const
{
    return m_heading->text();
}

} // namespace clipvane
