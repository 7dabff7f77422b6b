#include "SettingsSection.h"

#include "Fonts.h"
#include "Palette.h"
#include "SettingsCard.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace clipvane {

namespace {

constexpr int kRowPadX = 10;
constexpr int kRowPadY = 7;

} // namespace

SettingsSection::SettingsSection(const QString &header, QWidget *parent)
    : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    if (!header.isEmpty()) {
        auto *title = new QLabel(header, this);
        title->setFont(Fonts::font(FontFace::semiBold, 11));
        QPalette colours = title->palette();
        colours.setColor(QPalette::WindowText, Palette::muted());
        title->setPalette(colours);
        title->setContentsMargins(kRowPadX, 0, 0, 0);
        title->setAccessibleName(header);
        layout->addWidget(title);
    }
    m_card = new SettingsCard(this);
    m_rows = new QVBoxLayout(m_card);
    m_rows->setContentsMargins(0, 0, 0, 0);
    m_rows->setSpacing(0);
    layout->addWidget(m_card);
}

QWidget *SettingsSection::addRow(QWidget *row)
{
    if (m_rows->count() > 0) {
        auto *divider = new QWidget(m_card);
        divider->setFixedHeight(1);
        divider->setAutoFillBackground(true);
        QPalette colours = divider->palette();
        colours.setColor(QPalette::Window, Palette::hairline());
        divider->setPalette(colours);
        divider->setProperty("divider", true);
        auto *inset = new QHBoxLayout;
        inset->setContentsMargins(kRowPadX, 0, kRowPadX, 0);
        inset->addWidget(divider);
        m_rows->addLayout(inset);
    }
    row->setParent(m_card);
    if (row->layout())
        row->layout()->setContentsMargins(kRowPadX, kRowPadY, kRowPadX, kRowPadY);
    else
        row->setContentsMargins(kRowPadX, kRowPadY, kRowPadX, kRowPadY);
    m_rows->addWidget(row);
    return row;
}

QWidget *SettingsSection::addRow(std::initializer_list<QWidget *> items, Space space)
{
    auto *row = new QWidget(m_card);
    auto *layout = new QHBoxLayout(row);
    layout->setSpacing(8);
    bool first = true;
    for (QWidget *item : items) {
        layout->addWidget(item, 0, Qt::AlignVCenter);
        if (first && space == Space::afterFirst)
            layout->addStretch(1);
        first = false;
    }
    if (space == Space::atEnd)
        layout->addStretch(1);
    return addRow(row);
}

void SettingsSection::clearRows()
{
    // Later, not now: the row being cleared may hold the button whose click caused it.
    const auto discard = [](QWidget *widget) {
        if (widget) {
            widget->hide();
            widget->deleteLater();
        }
    };
    while (QLayoutItem *item = m_rows->takeAt(0)) {
        if (QLayout *inner = item->layout()) {
            while (QLayoutItem *innerItem = inner->takeAt(0)) {
                discard(innerItem->widget());
                delete innerItem;
            }
        }
        discard(item->widget());
        delete item;
    }
}

} // namespace clipvane
