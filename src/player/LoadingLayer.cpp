#include "LoadingLayer.h"

#include "Fonts.h"
#include "Palette.h"

#include <QFontMetricsF>
#include <QPainter>

namespace clipvane {

namespace {

constexpr qreal kTextSize = 12.5;
constexpr qreal kTextLevel = 0.72;
constexpr qreal kBackdropOpacity = 0.92;
constexpr qreal kSpinnerSide = 16;
constexpr qreal kSpacing = 8;
constexpr int kTurnMs = 900;
constexpr int kSpokes = 12;

} // namespace

LoadingLayer::LoadingLayer(QWidget *parent)
    : QWidget(parent)
    , m_text(tr("Loading…"))
{
    setAccessibleName(m_text);
    m_spin.setStartValue(0);
    m_spin.setEndValue(kSpokes);
    m_spin.setDuration(kTurnMs);
    m_spin.setLoopCount(-1);
    connect(&m_spin, &QVariantAnimation::valueChanged, this, [this] { update(); });
}

void LoadingLayer::showEvent(QShowEvent *event)
{
    m_spin.start();
    QWidget::showEvent(event);
}

void LoadingLayer::hideEvent(QHideEvent *event)
{
    m_spin.stop();
    QWidget::hideEvent(event);
}

void LoadingLayer::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Palette::black(kBackdropOpacity));

    const QFont font = Fonts::font(FontFace::regular, kTextSize);
    const QFontMetricsF metrics(font);
    const qreal textWidth = metrics.horizontalAdvance(m_text);
    const qreal rowWidth = kSpinnerSide + kSpacing + textWidth;
    const QPointF origin((width() - rowWidth) / 2, height() / 2.0);

    // The platform's small indeterminate indicator: spokes fading behind the leading one.
    const int lead = m_spin.currentValue().toInt();
    const QPointF centre = origin + QPointF(kSpinnerSide / 2, 0);
    for (int spoke = 0; spoke < kSpokes; ++spoke) {
        const int age = (lead - spoke + kSpokes) % kSpokes;
        painter.save();
        painter.translate(centre);
        painter.rotate(spoke * 360.0 / kSpokes);
        painter.setPen(QPen(Palette::white(1.0 - age * 0.07), 1.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, -kSpinnerSide * 0.25), QPointF(0, -kSpinnerSide * 0.47));
        painter.restore();
    }

    painter.setFont(font);
    painter.setPen(Palette::grey(kTextLevel));
    painter.drawText(QRectF(origin.x() + kSpinnerSide + kSpacing, 0, textWidth + 2, height()),
                     Qt::AlignLeft | Qt::AlignVCenter, m_text);
}

} // namespace clipvane
