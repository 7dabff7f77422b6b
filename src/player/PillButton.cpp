#include "PillButton.h"

#include "Fonts.h"
#include "Palette.h"
#include "Symbols.h"

#include <QFontMetricsF>
#include <QPainter>

namespace clipvane {

namespace {

constexpr qreal kTitleSize = 11.5;
constexpr qreal kSymbolSize = 10;
constexpr qreal kOrdinaryContentLevel = 0.92;
constexpr qreal kPressedOpacity = 0.7;
constexpr qreal kDisabledOpacity = 0.4;

} // namespace

PillButton::PillButton(const QString &symbol, const QString &title, Style style, QWidget *parent)
    : QAbstractButton(parent)
    , m_symbol(symbol)
    , m_font(Fonts::font(FontFace::medium, kTitleSize))
    , m_symbolSize(kSymbolSize)
{
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    if (style == Style::prominent)
        setLook(Qt::black, Qt::white);
    else
        setLook(Palette::grey(kOrdinaryContentLevel), Palette::card());
}

void PillButton::setSymbol(const QString &symbol)
{
    m_symbol = symbol;
    updateGeometry();
    update();
}

void PillButton::setLook(const QColor &content, const QColor &background)
{
    m_content = content;
    m_background = background;
    update();
}

void PillButton::setMetrics(const QFont &font, qreal symbolSize, const QMargins &padding, qreal radius)
{
    m_font = font;
    m_symbolSize = symbolSize;
    m_padding = padding;
    m_radius = radius;
    updateGeometry();
    update();
}

QSize PillButton::sizeHint() const
{
    const QFontMetricsF metrics(m_font);
    const qreal symbolBox = m_symbol.isEmpty() ? 0 : Symbols::boxFor(m_symbolSize);
    const qreal gap = m_symbol.isEmpty() || text().isEmpty() ? 0 : m_spacing;
    const qreal width = symbolBox + gap + metrics.horizontalAdvance(text());
    const qreal height = std::max(symbolBox, metrics.height());
    return QSize(int(std::ceil(width)) + m_padding.left() + m_padding.right(),
                 int(std::ceil(height)) + m_padding.top() + m_padding.bottom());
}

void PillButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(kDisabledOpacity);
    else if (isDown())
        painter.setOpacity(kPressedOpacity);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_background);
    painter.drawRoundedRect(QRectF(rect()), m_radius, m_radius);

    const QRectF content = QRectF(rect()).marginsRemoved(m_padding.toMarginsF());
    const QFontMetricsF metrics(m_font);
    const qreal symbolBox = m_symbol.isEmpty() ? 0 : Symbols::boxFor(m_symbolSize);
    const qreal gap = m_symbol.isEmpty() || text().isEmpty() ? 0 : m_spacing;
    const qreal used = symbolBox + gap + metrics.horizontalAdvance(text());
    qreal x = content.left() + (content.width() - used) / 2;
    if (symbolBox > 0) {
        Symbols::paint(painter, QRectF(x, content.center().y() - symbolBox / 2, symbolBox, symbolBox), m_symbol,
                       m_content);
        x += symbolBox + gap;
    }
    painter.setFont(m_font);
    painter.setPen(m_content);
    painter.drawText(QRectF(x, content.top(), content.right() - x, content.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     text());
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(Palette::white(0.5), 1));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius, m_radius);
    }
}

} // namespace clipvane
