#include "FilledButton.h"

#include "Palette.h"
#include "Symbols.h"

#include <QFocusEvent>
#include <QPainter>
#include <QPainterPath>

namespace clipvane {

namespace {
constexpr qreal kFocusRingInset = 2.5;
constexpr double kPressedDim = 0.82;
constexpr double kHoverDim = 0.93;
constexpr double kDisabledOpacity = 0.45;
} // namespace

FilledButton::FilledButton(const QString &text, QWidget *parent)
    : QAbstractButton(parent)
{
    setText(text);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void FilledButton::setColors(const QColor &fill, const QColor &content)
{
    m_fill = fill;
    m_content = content;
    update();
}

void FilledButton::setVerticalPadding(int padding)
{
    m_padding = padding;
    updateGeometry();
}

QSize FilledButton::sizeHint() const
{
    const QFontMetrics metrics(font());
    const int symbol = m_symbol.isEmpty() ? 0 : Symbols::boxFor(font().pixelSize() > 0 ? font().pixelSize() : 13);
    const int width = metrics.horizontalAdvance(text()) + (symbol ? symbol + m_spacing : 0) + 2 * m_padding;
    return {width, std::max(metrics.height(), symbol) + 2 * m_padding};
}

void FilledButton::enterEvent(QEnterEvent *event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void FilledButton::leaveEvent(QEvent *event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

void FilledButton::focusInEvent(QFocusEvent *event)
{
    // The ring shows where the keyboard is, not that the window happened to give focus here.
    m_focusFromKeyboard = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason ||
                          event->reason() == Qt::ShortcutFocusReason;
    QAbstractButton::focusInEvent(event);
}

void FilledButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(kDisabledOpacity);

    const QRectF shape = QRectF(rect());
    QColor fill = m_fill;
    if (isDown())
        fill = QColor::fromRgbF(fill.redF() * kPressedDim, fill.greenF() * kPressedDim, fill.blueF() * kPressedDim,
                                fill.alphaF());
    else if (m_hovered)
        fill = QColor::fromRgbF(fill.redF() * kHoverDim, fill.greenF() * kHoverDim, fill.blueF() * kHoverDim,
                                fill.alphaF());
    QPainterPath path;
    path.addRoundedRect(shape, m_radius, m_radius);
    painter.fillPath(path, fill);

    // Drawn inside the shape, in a colour that stands out from the fill, so the button keeps
    // its measured size with and without focus.
    if (hasFocus() && m_focusFromKeyboard) {
        painter.setPen(QPen(m_fill.lightness() > 128 ? Palette::focusRing() : QColor(Qt::white), 2));
        painter.setBrush(Qt::NoBrush);
        const QRectF ring = shape.adjusted(kFocusRingInset, kFocusRingInset, -kFocusRingInset, -kFocusRingInset);
        painter.drawRoundedRect(ring, m_radius - kFocusRingInset / 2, m_radius - kFocusRingInset / 2);
    }

    const QFontMetrics metrics(font());
    const int symbol = m_symbol.isEmpty() ? 0 : Symbols::boxFor(font().pixelSize() > 0 ? font().pixelSize() : 13);
    const int textWidth = metrics.horizontalAdvance(text());
    const int contentWidth = textWidth + (symbol ? symbol + m_spacing : 0);
    qreal x = shape.center().x() - contentWidth / 2.0;
    if (symbol) {
        Symbols::paint(painter, QRectF(x, shape.center().y() - symbol / 2.0, symbol, symbol), m_symbol, m_content);
        x += symbol + m_spacing;
    }
    painter.setPen(m_content);
    painter.setFont(font());
    painter.drawText(QRectF(x, shape.top(), textWidth + 1, shape.height()), Qt::AlignVCenter | Qt::AlignLeft, text());
}

} // namespace clipvane
