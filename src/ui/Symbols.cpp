#include "Symbols.h"

#include "SymbolIconEngine.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>
#include <cmath>

namespace clipvane {

namespace {

constexpr qreal kBoxPerDesignPoint = 1.2;

QString resourcePath(const QString &name)
{
    return u":/icons/"_qs + name + u".svg"_qs;
}

// One parsed renderer per symbol for the life of the process: the artwork never changes.
QSvgRenderer *renderer(const QString &name)
{
    // Never destroyed, so the renderers stay reachable (and unreported by leak checkers) at exit.
    static auto *const renderers = new QHash<QString, QSvgRenderer *>;
    const auto found = renderers->constFind(name);
    if (found != renderers->constEnd())
        return *found;
    QSvgRenderer *loaded = nullptr;
    if (QFile::exists(resourcePath(name))) {
        loaded = new QSvgRenderer(resourcePath(name));
        if (!loaded->isValid()) {
            delete loaded;
            loaded = nullptr;
        }
    }
    renderers->insert(name, loaded);
    return loaded;
}

// The artwork in white on transparent, then tinted: the tint keeps the edges' coverage.
QImage render(QSvgRenderer &svg, const QColor &tint, const QSize &pixels)
{
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter, QRectF(QPointF(0, 0), pixels));
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), tint);
    return image;
}

} // namespace

QStringList Symbols::names()
{
    QStringList names;
    const QStringList files = QDir(u":/icons"_qs).entryList({u"*.svg"_qs}, QDir::Files, QDir::Name);
    for (const QString &file : files)
        names.append(file.chopped(4));
    return names;
}

bool Symbols::exists(const QString &name)
{
    return renderer(name) != nullptr;
}

QIcon Symbols::icon(const QString &name, const QColor &tint)
{
    return QIcon(new SymbolIconEngine(name, tint));
}

QPixmap Symbols::pixmap(const QString &name, const QColor &tint, const QSize &logicalSize, qreal devicePixelRatio)
{
    QSvgRenderer *svg = renderer(name);
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    const QSize pixels(static_cast<int>(std::ceil(logicalSize.width() * ratio)),
                       static_cast<int>(std::ceil(logicalSize.height() * ratio)));
    if (!svg || pixels.isEmpty())
        return {};

    const QString cacheKey =
        u"symbol/%1/%2/%3x%4"_qs.arg(name, tint.name(QColor::HexArgb)).arg(pixels.width()).arg(pixels.height());
    QPixmap cached;
    if (!QPixmapCache::find(cacheKey, &cached)) {
        cached = QPixmap::fromImage(render(*svg, tint, pixels));
        QPixmapCache::insert(cacheKey, cached);
    }
    cached.setDevicePixelRatio(ratio);
    return cached;
}

void Symbols::paint(QPainter &painter, const QRectF &rect, const QString &name, const QColor &tint)
{
    const qreal side = std::min(rect.width(), rect.height());
    if (side <= 0)
        return;
    const QRectF box(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    const qreal ratio = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const int logical = static_cast<int>(std::ceil(side));
    const QPixmap image = pixmap(name, tint, QSize(logical, logical), ratio);
    if (!image.isNull())
        painter.drawPixmap(box, image, QRectF(QPointF(0, 0), QSizeF(image.size())));
}

int Symbols::boxFor(qreal designSize)
{
    return static_cast<int>(std::lround(designSize * kBoxPerDesignPoint));
}

} // namespace clipvane
