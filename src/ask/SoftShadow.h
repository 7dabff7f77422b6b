#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>

namespace clipvane {

// Soft shadows and glows drawn without graphics effects (which cannot be nested, and the panel
// fades with one): a shape filled in a colour and blurred.
class SoftShadow
{
public:
    // The shape filled with colour and blurred by radius, on a transparent image large enough to
    // hold the blur; origin receives where its top-left corner lies in the shape's coordinates.
    static QImage render(const QPainterPath &shape, const QColor &colour, qreal radius, QPoint *origin);
    // Blurs an image in place (three box passes, close to a Gaussian of the radius).
    static void blur(QImage &image, qreal radius);
};

} // namespace clipvane
