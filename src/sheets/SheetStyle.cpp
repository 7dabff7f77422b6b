#include "SheetStyle.h"

#include "Fonts.h"
#include "Palette.h"

#include <QCoreApplication>
#include <QDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <algorithm>

namespace clipvane {

namespace {

// The focus ring is as wide as the border it replaces, so a button keeps its size.
QString buttonStyle()
{
    const auto hex = [](const QColor &colour) { return colour.name(); };
    return QStringLiteral("QPushButton { background: %1; color: %2; border: 1px solid %3; border-radius: 6px;"
                          "  padding: 4px 14px; min-width: 52px; }"
                          "QPushButton:hover { background: %4; }"
                          "QPushButton:pressed { background: %3; }"
                          "QPushButton:disabled { color: %5; }"
                          "QPushButton:default { background: %2; color: %6; border-color: %2; }"
                          "QPushButton:default:hover { background: %7; border-color: %7; }"
                          "QPushButton:default:pressed { background: %8; border-color: %8; }"
                          "QPushButton:default:disabled { background: %3; border-color: %3; color: %5; }"
                          "QPushButton[destructive=\"true\"] { color: %9; }"
                          "QPushButton:focus { border: 2px solid %10; padding: 3px 13px; }"
                          "QPushButton:flat { background: transparent; border: none; color: %11; padding: 0px; }")
        .arg(hex(Palette::card()), hex(Palette::text()), hex(Palette::grey(0.26)), hex(Palette::grey(0.16)),
             hex(Palette::grey(0.45)), hex(Palette::ink()), hex(Palette::grey(0.88)), hex(Palette::grey(0.75)),
             hex(Palette::errorRed()), hex(Palette::focusRing()), hex(Palette::muted()));
}

} // namespace

void SheetStyle::apply(QDialog &sheet, int width)
{
    sheet.setWindowModality(Qt::WindowModal);
    sheet.setFixedWidth(width);
    QPalette palette = sheet.palette();
    palette.setColor(QPalette::Window, Palette::ink());
    sheet.setPalette(palette);
    sheet.setAutoFillBackground(true);
    sheet.setFont(Fonts::font(FontFace::regular, 13));
    sheet.setStyleSheet(buttonStyle());
}

void SheetStyle::fitWidth(QDialog &sheet, int width)
{
    sheet.setFixedWidth(std::max(width, sheet.sizeHint().width()));
}

void SheetStyle::repolish(QWidget &button)
{
    button.style()->unpolish(&button);
    button.style()->polish(&button);
    button.update();
}

QLabel *SheetStyle::heading(const QString &text, qreal designSize, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(Fonts::font(FontFace::display, designSize));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QHBoxLayout *SheetStyle::doneRow(QDialog &sheet, QPushButton **done)
{
    auto *button = new QPushButton(QCoreApplication::translate("SheetStyle", "Done"), &sheet);
    button->setDefault(true);
    QObject::connect(button, &QPushButton::clicked, &sheet, &QDialog::accept);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(button);
    if (done)
        *done = button;
    return row;
}

QLabel *SheetStyle::note(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(Fonts::font(FontFace::regular, 12.5));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Palette::muted());
    label->setPalette(palette);
    return label;
}

} // namespace clipvane
