#include "ShortcutsSheet.h"

#include "Fonts.h"
#include "Palette.h"
#include "SheetStyle.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr int kSpacing = 12;
constexpr int kRowSpacing = 7;
constexpr int kGroupSpace = 10;

QLabel *coloured(const QString &text, const QFont &font, const QColor &colour, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    return label;
}

// The keys as keycaps: the card colour with a hairline, as the design draws a key.
QLabel *keycaps(const QString &keys, QWidget *parent)
{
    auto *label = coloured(keys, Fonts::font(FontFace::medium, 12), Palette::text(), parent);
    label->setStyleSheet(QStringLiteral("QLabel { background: %1; border: 1px solid %2; border-radius: 5px;"
                                        " padding: 2px 7px; }")
                             .arg(Palette::card().name(), Palette::hairline().name()));
    return label;
}

} // namespace

ShortcutsSheet::ShortcutsSheet(const QList<Row> &rows, QWidget *parent)
    : QDialog(parent)
{
    SheetStyle::apply(*this, kWidth);
    setWindowTitle(tr("Keyboard Shortcuts"));

    auto *list = new QWidget;
    list->setAutoFillBackground(false);
    auto *grid = new QGridLayout(list);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(kSpacing);
    grid->setVerticalSpacing(kRowSpacing);
    grid->setColumnStretch(0, 1);
    int line = 0;
    QString group;
    for (const Row &row : rows) {
        if (line == 0 || row.group != group) {
            group = row.group;
            if (line > 0)
                grid->setRowMinimumHeight(line++, kGroupSpace);
            QLabel *header = coloured(group.toUpper(), Fonts::font(FontFace::semiBold, 11), Palette::muted(), list);
            grid->addWidget(header, line++, 0, 1, 2);
        }
        QLabel *title = coloured(row.title, font(), Palette::text(), list);
        QLabel *keys = keycaps(row.keys, list);
        keys->setAccessibleName(tr("%1: %2").arg(row.title, row.keys));
        grid->addWidget(title, line, 0);
        grid->addWidget(keys, line++, 1, Qt::AlignRight);
        ++m_rowCount;
    }

    auto *scroll = new QScrollArea(this);
    scroll->setWidget(list);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    scroll->setAccessibleName(tr("Keyboard shortcuts"));
    scroll->setMaximumHeight(kMaximumListHeight);
    scroll->setMinimumHeight(std::min(list->sizeHint().height(), kMaximumListHeight));

    QPushButton *done = nullptr;
    QHBoxLayout *buttons = SheetStyle::doneRow(*this, &done);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(SheetStyle::kPadding, SheetStyle::kPadding, SheetStyle::kPadding, SheetStyle::kPadding);
    column->setSpacing(kSpacing);
    column->addWidget(SheetStyle::heading(windowTitle(), 16, this));
    column->addWidget(scroll, 1);
    column->addLayout(buttons);
    done->setFocus();
}

} // namespace clipvane
