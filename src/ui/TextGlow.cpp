#include "TextGlow.h"

#include <QPainter>
#include <cmath>
#include <vector>

namespace clipvane {

namespace {

// Three box blurs approximate a Gaussian; a design shadow's radius is about two deviations.
void blurAlpha(QImage &image, int radius)
{
    if (radius < 1)
        return;
    const int width = image.width();
    const int height = image.height();
    std::vector<int> line(static_cast<size_t>(std::max(width, height)));
    const auto pass = [&](bool horizontal) {
        const int count = horizontal ? width : height;
        const int lines = horizontal ? height : width;
        for (int l = 0; l < lines; ++l) {
            const auto at = [&](int i) -> QRgb & {
                return horizontal ? reinterpret_cast<QRgb *>(image.scanLine(l))[i]
                                  : reinterpret_cast<QRgb *>(image.scanLine(i))[l];
            };
            for (int i = 0; i < count; ++i)
                line[static_cast<size_t>(i)] = qAlpha(at(i));
            const auto value = [&](int i) { return i >= 0 && i < count ? line[static_cast<size_t>(i)] : 0; };
            int sum = 0;
            for (int i = -radius; i <= radius; ++i)
                sum += value(i);
            for (int i = 0; i < count; ++i) {
                const int alpha = sum / (2 * radius + 1);
                at(i) = qRgba(0, 0, 0, alpha);
                sum += value(i + radius + 1) - value(i - radius);
            }
        }
    };
    for (int i = 0; i < 3; ++i) {
        pass(true);
        pass(false);
    }
}

} // namespace

TextGlow::TextGlow(QString text, QFont font, QColor color, QList<Layer> layers)
    : m_text(std::move(text))
    , m_font(std::move(font))
    , m_color(color)
    , m_layers(std::move(layers))
{}

int TextGlow::reach() const
{
    qreal widest = 0;
    for (const Layer &layer : m_layers)
        widest = std::max(widest, layer.radius);
    return static_cast<int>(std::ceil(widest * 1.5));
}

const QImage &TextGlow::image(const QSize &textSize, qreal devicePixelRatio)
{
    const int margin = reach();
    const QSize logical = textSize + QSize(2 * margin, 2 * margin);
    const QSize pixels = (QSizeF(logical) * devicePixelRatio).toSize();
    if (m_cache.size() == pixels && qFuzzyCompare(m_cache.devicePixelRatio(), devicePixelRatio))
        return m_cache;

    m_cache = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    m_cache.setDevicePixelRatio(devicePixelRatio);
    m_cache.fill(Qt::transparent);
    QPainter composed(&m_cache);
    const QRect textBox(QPoint(margin, margin), textSize);
    for (const Layer &layer : std::as_const(m_layers)) {
        QImage shape(pixels, QImage::Format_ARGB32_Premultiplied);
        shape.setDevicePixelRatio(devicePixelRatio);
        shape.fill(Qt::transparent);
        QPainter text(&shape);
        text.setRenderHint(QPainter::TextAntialiasing);
        text.setFont(m_font);
        text.setPen(Qt::black);
        text.drawText(textBox, Qt::AlignCenter, m_text);
        text.end();
        blurAlpha(shape, static_cast<int>(std::lround(layer.radius * devicePixelRatio / 2.0)));
        QPainter tint(&shape);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(shape.rect(), m_color);
        tint.end();
        composed.setOpacity(layer.opacity);
        composed.drawImage(QPointF(0, 0), shape);
    }
    return m_cache;
}

} // namespace clipvane
