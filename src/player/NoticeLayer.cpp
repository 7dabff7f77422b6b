#include "NoticeLayer.h"

#include "Symbols.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace clipvane {

NoticeLayer::NoticeLayer(const QColor &background, int spacing, QWidget *parent)
    : QWidget(parent)
    , m_background(background)
    , m_column(new QVBoxLayout)
{
    m_column->setSpacing(spacing);
    m_column->setContentsMargins(0, 0, 0, 0);
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(12, 12, 12, 12);
    outer->addStretch(1);
    outer->addLayout(m_column);
    outer->addStretch(1);
}

void NoticeLayer::setCornerRadius(qreal radius)
{
    m_radius = radius;
    update();
}

QLabel *NoticeLayer::addSymbol(const QString &name, qreal designSize, const QColor &tint)
{
    auto *label = new QLabel(this);
    const int box = Symbols::boxFor(designSize);
    label->setPixmap(Symbols::pixmap(name, tint, QSize(box, box), devicePixelRatioF()));
    label->setFixedSize(box, box);
    label->setAccessibleName(name);
    m_column->addWidget(label, 0, Qt::AlignHCenter);
    return label;
}

QLabel *NoticeLayer::addText(const QString &text, const QFont &font, const QColor &colour)
{
    auto *label = new QLabel(text, this);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
    label->setAlignment(Qt::AlignHCenter);
    // The whole width of the column, so a long text wraps only where the layer is narrow.
    label->setWordWrap(true);
    m_column->addWidget(label);
    return label;
}

void NoticeLayer::addWidget(QWidget *widget, int extraSpaceAbove)
{
    if (extraSpaceAbove > 0)
        m_column->addSpacing(extraSpaceAbove);
    m_column->addWidget(widget, 0, Qt::AlignHCenter);
}

void NoticeLayer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_background);
    painter.drawRoundedRect(QRectF(rect()), m_radius, m_radius);
}

} // namespace clipvane
