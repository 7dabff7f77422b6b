#include "ThumbCache.h"

#include <QBuffer>
#include <QImageReader>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <utility>

namespace clipvane {

namespace {

QNetworkAccessManager *g_sharedNetwork = nullptr;

QImage decode(const QByteArray &body)
{
    QBuffer buffer;
    buffer.setData(body);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    reader.setAutoTransform(true);
    QImage image = reader.read();
    if (image.isNull())
        return {};
    // Painting a premultiplied image is the fast path.
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

ThumbCache::ThumbCache(QNetworkAccessManager &network, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_images(kCostLimit)
{
    m_decoders.setMaxThreadCount(1);
}

ThumbCache::~ThumbCache()
{
    for (const Fetch &fetch : std::as_const(m_fetches)) {
        if (fetch.reply) {
            fetch.reply->disconnect(this);
            fetch.reply->abort();
            fetch.reply->deleteLater();
        }
    }
    m_decoders.waitForDone();
}

ThumbCache &ThumbCache::shared()
{
    static ThumbCache *cache = [] {
        if (!g_sharedNetwork)
            g_sharedNetwork = new QNetworkAccessManager;
        return new ThumbCache(*g_sharedNetwork);
    }();
    return *cache;
}

void ThumbCache::useNetwork(QNetworkAccessManager &network)
{
    g_sharedNetwork = &network;
}

qsizetype ThumbCache::costOf(const QImage &image)
{
    const QSizeF size = image.deviceIndependentSize();
    return qsizetype(size.width() * size.height() * 4);
}

QImage ThumbCache::image(const QUrl &url) const
{
    const QImage *image = m_images.object(url);
    return image ? *image : QImage();
}

void ThumbCache::store(const QImage &image, const QUrl &url)
{
    if (image.isNull())
        return;
    m_images.insert(url, new QImage(image), costOf(image));
}

void ThumbCache::request(const QUrl &url, const QObject *holder)
{
    if (!url.isValid() || m_images.contains(url))
        return;
    auto existing = m_fetches.find(url);
    if (existing != m_fetches.end()) {
        existing->holders.insert(holder);
        return;
    }
    Fetch &fetch = m_fetches[url];
    fetch.holders.insert(holder);
    fetch.waiting = true;
    // Rows ask while they are painted: the fetches start once the frame is on the screen, so
    // the first paint of the library does not wait for the network to be set up.
    if (!std::exchange(m_startQueued, true))
        QMetaObject::invokeMethod(this, &ThumbCache::startWaiting, Qt::QueuedConnection);
}

void ThumbCache::startWaiting()
{
    m_startQueued = false;
    QList<QUrl> waiting;
    for (auto it = m_fetches.begin(); it != m_fetches.end(); ++it) {
        if (std::exchange(it->waiting, false))
            waiting.append(it.key());
    }
    for (const QUrl &url : std::as_const(waiting)) {
        QNetworkReply *reply = m_network.get(QNetworkRequest(url));
        m_fetches[url].reply = reply;
        connect(reply, &QNetworkReply::downloadProgress, this, [reply](qint64 received, qint64 total) {
            if (received > kMaxBodyBytes || total > kMaxBodyBytes)
                reply->abort();
        });
        connect(reply, &QNetworkReply::finished, this, [this, url, reply] { finish(url, reply); });
    }
}

void ThumbCache::release(const QUrl &url, const QObject *holder)
{
    auto fetch = m_fetches.find(url);
    if (fetch == m_fetches.end())
        return;
    fetch->holders.remove(holder);
    // A body being decoded is kept: the work is done, and the row may come back.
    if (!fetch->holders.isEmpty() || fetch->decoding)
        return;
    QPointer<QNetworkReply> reply = fetch->reply;
    m_fetches.erase(fetch);
    if (reply) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void ThumbCache::finish(const QUrl &url, QNetworkReply *reply)
{
    reply->deleteLater();
    auto fetch = m_fetches.find(url);
    if (fetch == m_fetches.end() || fetch->reply != reply)
        return;
    if (reply->error() != QNetworkReply::NoError) {
        m_fetches.erase(fetch);
        Q_EMIT failed(url);
        return;
    }
    fetch->decoding = true;
    fetch->reply = nullptr;
    const QByteArray body = reply->readAll();
    m_decoders.start([this, url, body] {
        const QImage image = decode(body);
        // Queued to the main thread; the pool is waited for before this object goes away.
        QMetaObject::invokeMethod(
            this, [this, url, image] { decoded(url, image); }, Qt::QueuedConnection);
    });
}

void ThumbCache::decoded(const QUrl &url, const QImage &image)
{
    m_fetches.remove(url);
    if (image.isNull()) {
        Q_EMIT failed(url);
        return;
    }
    store(image, url);
    Q_EMIT ready(url);
}

} // namespace clipvane
