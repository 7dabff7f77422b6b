#include "SheetStyle.h"

#include "Fonts.h"
#include "Palette.h"

#include <QDialog>
#include <QLabel>

namespace clipvane {

void SheetStyle::apply(QDialog &sheet, int width)
{
    sheet.setWindowModality(Qt::WindowModal);
    sheet.setFixedWidth(width);
    QPalette palette = sheet.palette();
    palette.setColor(QPalette::Window, Palette::ink());
    sheet.setPalette(palette);
    sheet.setAutoFillBackground(true);
    sheet.setFont(Fonts::font(FontFace::regular, 13));
}

QLabel *SheetStyle::heading(const QString &text, qreal designSize, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setFont(Fonts::font(FontFace::display, designSize));
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
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
