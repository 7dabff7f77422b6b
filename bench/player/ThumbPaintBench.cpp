// Figures for painting the library's thumbnails: one screenful of rows (twenty 86 × 48
// thumbnails) from decoded images in the cache, and from placeholders, and the cost of
// decoding one thumbnail body (which runs off the main thread). Painting must stay far below
// a frame (16 ms) so scrolling never waits.

#include "CachedThumb.h"
#include "Fonts.h"
#include "ThumbCache.h"

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QPainter>
#include <benchmark/benchmark.h>

using namespace clipvane;

namespace {

constexpr int kRowsOnScreen = 20;
constexpr int kRowHeight = 56;

QImage thumbnail()
{
    QImage image(320, 180, QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 320, 180);
    gradient.setColorAt(0, Qt::darkBlue);
    gradient.setColorAt(1, Qt::darkRed);
    painter.fillRect(image.rect(), gradient);
    return image;
}

void paintCachedScreen(benchmark::State &state)
{
    QNetworkAccessManager network;
    ThumbCache cache(network);
    QList<QUrl> urls;
    for (int row = 0; row < kRowsOnScreen; ++row) {
        urls << QUrl(QStringLiteral("https://i.ytimg.com/vi/%1/mqdefault.jpg").arg(row));
        cache.store(thumbnail(), urls.last());
    }
    QImage screen(400, kRowsOnScreen * kRowHeight, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&screen);
        for (int row = 0; row < kRowsOnScreen; ++row)
            CachedThumb::paintImage(painter, QRectF(QPointF(8, row * kRowHeight + 4), CachedThumb::kRowSize),
                                    cache.image(urls[row]));
    }
}
BENCHMARK(paintCachedScreen)->Unit(benchmark::kMicrosecond);

void paintPlaceholderScreen(benchmark::State &state)
{
    QImage screen(400, kRowsOnScreen * kRowHeight, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) {
        QPainter painter(&screen);
        for (int row = 0; row < kRowsOnScreen; ++row)
            CachedThumb::paintPlaceholder(painter, QRectF(QPointF(8, row * kRowHeight + 4), CachedThumb::kRowSize));
    }
}
BENCHMARK(paintPlaceholderScreen)->Unit(benchmark::kMicrosecond);

void decodeOneThumbnail(benchmark::State &state)
{
    QByteArray body;
    QBuffer buffer(&body);
    buffer.open(QIODevice::WriteOnly);
    thumbnail().save(&buffer, "JPEG", 85);
    for (auto _ : state) {
        QBuffer input(&body);
        input.open(QIODevice::ReadOnly);
        QImageReader reader(&input);
        benchmark::DoNotOptimize(reader.read());
    }
}
BENCHMARK(decodeOneThumbnail)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Fonts::load();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
