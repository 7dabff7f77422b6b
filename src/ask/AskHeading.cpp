#include "AskHeading.h"

#include "Fonts.h"
#include "Palette.h"
#include "SoftShadow.h"

#include <QPainter>
#include <QPainterPath>

namespace clipvane {

namespace {

constexpr qreal kGlowRadius = 5;
constexpr qreal kGlowOpacity = 0.85;

} // namespace

AskHeading::AskHeading(QWidget *parent)
    : QWidget(parent)
    , m_font(Fonts::font(FontFace::display, 15))
    , m_italic(m_font)
    , m_ask(tr("ASK "))
    , m_syllable(QStringLiteral("clip"))
    , m_rest(QStringLiteral("vane"))
{
    m_italic.setItalic(true);
    setAccessibleName(m_ask + m_syllable + m_rest);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize AskHeading::sizeHint() const
{
    const QFontMetricsF plain(m_font);
    const QFontMetricsF italic(m_italic);
    const qreal width =
        plain.horizontalAdvance(m_ask) + italic.horizontalAdvance(m_syllable) + plain.horizontalAdvance(m_rest) + 2;
    return {int(std::ceil(width)), int(std::ceil(plain.height()))};
}

void AskHeading::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF plain(m_font);
    const QFontMetricsF italic(m_italic);
    const qreal baseline = plain.ascent();
    qreal x = 0;

    painter.setFont(m_font);
    painter.setPen(Qt::white);
    painter.drawText(QPointF(x, baseline), m_ask);
    x += plain.horizontalAdvance(m_ask);

    QPainterPath syllable;
    syllable.addText(QPointF(x, baseline), m_italic, m_syllable);
    QColor glow = Palette::accent();
    glow.setAlphaF(float(kGlowOpacity));
    QPoint origin;
    const QImage halo = SoftShadow::render(syllable, glow, kGlowRadius, &origin);
    painter.drawImage(origin, halo);
    painter.setFont(m_italic);
    painter.setPen(Palette::accent());
    painter.drawText(QPointF(x, baseline), m_syllable);
    x += italic.horizontalAdvance(m_syllable);

    painter.setFont(m_font);
    painter.setPen(Qt::white);
    painter.drawText(QPointF(x, baseline), m_rest);
}

} // namespace clipvane
