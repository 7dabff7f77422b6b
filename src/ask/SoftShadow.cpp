#include "SoftShadow.h"

#include <QPainter>
#include <cmath>
#include <vector>

namespace clipvane {

namespace {

constexpr qreal kCoarseRadius = 8;
constexpr int kCoarseScale = 4;

// One box pass over every row (or column) of premultiplied ARGB pixels.
void boxPass(QImage &image, int half, bool horizontal)
{
    const int width = image.width();
    const int height = image.height();
    const int lines = horizontal ? height : width;
    const int length = horizontal ? width : height;
    std::vector<quint32> source(static_cast<size_t>(length));
    const int window = 2 * half + 1;
    for (int line = 0; line < lines; ++line) {
        const auto pixel = [&](int i) -> QRgb & {
            return horizontal ? reinterpret_cast<QRgb *>(image.scanLine(line))[i]
                              : reinterpret_cast<QRgb *>(image.scanLine(i))[line];
        };
        for (int i = 0; i < length; ++i)
            source[static_cast<size_t>(i)] = pixel(i);
        int sum[4] = {0, 0, 0, 0};
        const auto add = [&sum, &source, length](int i, int sign) {
            if (i < 0 || i >= length)
                return;
            const quint32 p = source[static_cast<size_t>(i)];
            sum[0] += sign * int(qAlpha(p));
            sum[1] += sign * int(qRed(p));
            sum[2] += sign * int(qGreen(p));
            sum[3] += sign * int(qBlue(p));
        };
        for (int i = -half; i < half; ++i)
            add(i, 1);
        for (int i = 0; i < length; ++i) {
            add(i + half, 1);
            pixel(i) = qRgba(sum[1] / window, sum[2] / window, sum[3] / window, sum[0] / window);
            add(i - half, -1);
        }
    }
}

} // namespace

void SoftShadow::blur(QImage &image, qreal radius)
{
    if (radius <= 0 || image.isNull())
        return;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    // Three box passes of this half width approach a Gaussian whose deviation is half the radius.
    const int half = std::max(1, int(std::lround(radius / 2.0)));
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(image, half, true);
        boxPass(image, half, false);
    }
}

QImage SoftShadow::render(const QPainterPath &shape, const QColor &colour, qreal radius, QPoint *origin)
{
    const int pad = int(std::ceil(radius * 2));
    const QRect bounds = shape.boundingRect().toAlignedRect().adjusted(-pad, -pad, pad, pad);
    // A wide blur has no detail to lose: it is computed at a quarter of the size and scaled up,
    // which keeps the panel's shadow well under a frame's time.
    const int scale = radius >= kCoarseRadius ? kCoarseScale : 1;
    const QSize small((bounds.width() + scale - 1) / scale, (bounds.height() + scale - 1) / scale);
    QImage image(small, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(1.0 / scale, 1.0 / scale);
        painter.translate(-bounds.topLeft());
        painter.fillPath(shape, colour);
    }
    blur(image, radius / scale);
    if (scale > 1)
        image = image.scaled(bounds.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (origin)
        *origin = bounds.topLeft();
    return image;
}

} // namespace clipvane
