#pragma once

#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QThreadPool>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

namespace clipvane {

// The process-wide cache of decoded thumbnails, bounded by an estimate of their pixel memory,
// and the one place that fetches them. Requests for one address are shared: however many rows
// ask, one fetch runs, and it is abandoned once every row that asked has let go. Bodies are
// decoded off the main thread, so painting a list never waits on a fetch or a decode. A failed
// fetch or a body that is not an image caches nothing. Main thread only (apart from decoding).
class ThumbCache : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype kCostLimit = qsizetype(48) * 1024 * 1024;
    // A thumbnail is a few tens of kilobytes; anything far larger is not one.
    static constexpr qint64 kMaxBodyBytes = qint64(8) * 1024 * 1024;

    // network: fetches go through it (and its disk cache); it must outlive the cache.
    explicit ThumbCache(QNetworkAccessManager &network, QObject *parent = nullptr);
    ~ThumbCache() override;

    // The one instance of the application, created on first use with the network access
    // manager given to useNetwork() before (its own one when none was given).
    static ThumbCache &shared();
    static void useNetwork(QNetworkAccessManager &network);

    // Width × height × 4 of the image's size: the cost of an entry.
    static qsizetype costOf(const QImage &image);

    // The cached image, or a null image.
    QImage image(const QUrl &url) const;
    // Inserts with its cost, replacing any entry for the address; may evict older entries. An
    // image larger than the whole limit is not kept.
    void store(const QImage &image, const QUrl &url);
    bool contains(const QUrl &url) const { return m_images.contains(url); }
    qsizetype totalCost() const { return m_images.totalCost(); }

    // Asks for the image of an address on behalf of a holder (a list view's thumbnail painter).
    // Starts a fetch unless the image is cached or a fetch for the address already runs.
    // Ends with ready() or failed() for the address.
    void request(const QUrl &url, const QObject *holder);
    // The holder no longer needs the address; the last one to let go abandons the fetch.
    void release(const QUrl &url, const QObject *holder);
    bool isFetching(const QUrl &url) const { return m_fetches.contains(url); }
    int fetchCount() const { return int(m_fetches.size()); }

Q_SIGNALS:
    // The image for the address is now cached.
    void ready(const QUrl &url);
    // The fetch failed, was abandoned, or its body is not an image; nothing was cached.
    void failed(const QUrl &url);

private:
    struct Fetch
    {
        QPointer<QNetworkReply> reply;
        QSet<const QObject *> holders;
        bool decoding = false;
        bool waiting = false; // asked for, not yet started
    };
    void startWaiting();
    void finish(const QUrl &url, QNetworkReply *reply);
    void decoded(const QUrl &url, const QImage &image);

    QNetworkAccessManager &m_network;
    QCache<QUrl, QImage> m_images;
    QHash<QUrl, Fetch> m_fetches;
    bool m_startQueued = false;
    // Declared last: its destructor waits for running decodes, which report to this object.
    QThreadPool m_decoders;
};

} // namespace clipvane
