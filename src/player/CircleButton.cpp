#include "CircleButton.h"

#include "Palette.h"
#include "Symbols.h"

#include <QPainter>

namespace clipvane {

namespace {

constexpr qreal kBackdropOpacity = 0.45;
constexpr qreal kDisabledOpacity = 0.35;

} // namespace

CircleButton::CircleButton(const QString &symbol, qreal symbolSize, int padding, QWidget *parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
    , m_box(Symbols::boxFor(symbolSize))
    , m_padding(padding)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    resize(sizeHint());
}

QSize CircleButton::sizeHint() const
{
    const int side = m_box + 2 * m_padding;
    return {side, side};
}

void CircleButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(kDisabledOpacity);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::black(isDown() ? kBackdropOpacity + 0.2 : kBackdropOpacity));
    painter.drawEllipse(QRectF(rect()));
    const QRectF symbol((width() - m_box) / 2.0, (height() - m_box) / 2.0, m_box, m_box);
    Symbols::paint(painter, symbol, m_symbol, Qt::white);
}

} // namespace clipvane
