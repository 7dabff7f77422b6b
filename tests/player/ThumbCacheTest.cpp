#include "ThumbCache.h"
#include "CachedThumb.h"
#include "FakeHttpServer.h"

#include <QBuffer>
#include <QListView>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QTest>

using namespace clipvane;
using clipvane::test::FakeHttpServer;
using clipvane::test::FakeReply;

namespace {

QByteArray encoded(const QSize &size, const char *format = "PNG")
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

FakeReply imageReply(const QByteArray &body, std::chrono::milliseconds delay = {})
{
    FakeReply reply;
    reply.body = body;
    reply.headers = {{"Content-Type", "image/png"}};
    reply.delay = delay;
    return reply;
}

// A list of `rows` rows whose delegate paints each row's thumbnail the way the library's does.
struct ThumbList : QStyledItemDelegate
{
    ThumbList(ThumbCache &cache, const QList<QUrl> &addresses, int height)
    {
        for (const QUrl &url : addresses) {
            auto *item = new QStandardItem(url.path());
            item->setData(url, Qt::UserRole);
            model.appendRow(item);
        }
        view.setUniformItemSizes(true);
        view.resize(320, height);
        view.setItemDelegate(this);
        view.setModel(&model);
        thumbs = new CachedThumb(cache, view);
        view.show();
    }
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        thumbs->paint(*painter, QRectF(option.rect.topLeft(), CachedThumb::kRowSize), index.data(Qt::UserRole).toUrl(),
                      index);
    }
    QSize sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const override { return {300, 56}; }

    QStandardItemModel model;
    QListView view;
    CachedThumb *thumbs = nullptr;
};

} // namespace

class ThumbCacheTest : public QObject
{
    Q_OBJECT

    FakeHttpServer m_server;
    QNetworkAccessManager m_network;

    QUrl address(int n) const { return m_server.url(QStringLiteral("/vi/%1/mqdefault.jpg").arg(n)); }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_server.start()); }

    void init()
    {
        m_server.clearRequests();
        m_server.setHandler({});
        m_server.setDefaultReply(imageReply(encoded({320, 180})));
    }

    void requestsForOneAddressAreShared()
    {
        ThumbCache cache(m_network);
        QObject rowA, rowB;
        QSignalSpy ready(&cache, &ThumbCache::ready);
        cache.request(address(1), &rowA);
        cache.request(address(1), &rowB);
        QCOMPARE(cache.fetchCount(), 1);
        QVERIFY(ready.wait());
        QCOMPARE(m_server.requestCount(), 1);
        QCOMPARE(cache.image(address(1)).size(), QSize(320, 180));
        QCOMPARE(cache.totalCost(), 230400);
        // Cached: a later request fetches nothing.
        cache.request(address(1), &rowA);
        QCOMPARE(cache.fetchCount(), 0);
    }

    void badBodiesCacheNothing_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("empty") << 200 << QByteArray();
        QTest::newRow("error page") << 200 << QByteArray("<html><body>Not here</body></html>");
        QTest::newRow("truncated image") << 200 << encoded({320, 180}).left(60);
        QTest::newRow("image with a 404") << 404 << QByteArray("nope");
        QTest::newRow("server error") << 500 << encoded({320, 180});
        QTest::newRow("too large") << 200 << QByteArray(ThumbCache::kMaxBodyBytes + 1, 'x');
    }

    void badBodiesCacheNothing()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        FakeReply reply = imageReply(body);
        reply.status = status;
        m_server.setDefaultReply(reply);
        ThumbCache cache(m_network);
        QObject row;
        QSignalSpy failed(&cache, &ThumbCache::failed);
        QSignalSpy ready(&cache, &ThumbCache::ready);
        cache.request(address(2), &row);
        QVERIFY(failed.wait());
        QCOMPARE(ready.count(), 0);
        QVERIFY(!cache.contains(address(2)));
        QCOMPARE(cache.totalCost(), 0);
        QCOMPARE(cache.fetchCount(), 0);
    }

    void theLastHolderLettingGoAbandonsTheFetch()
    {
        m_server.setDefaultReply(imageReply(encoded({320, 180}), std::chrono::seconds(5)));
        ThumbCache cache(m_network);
        QObject rowA, rowB;
        QSignalSpy ready(&cache, &ThumbCache::ready);
        QSignalSpy failed(&cache, &ThumbCache::failed);
        cache.request(address(3), &rowA);
        cache.request(address(3), &rowB);
        QTRY_COMPARE(m_server.requestCount(), 1);
        cache.release(address(3), &rowA);
        QVERIFY(cache.isFetching(address(3)));
        cache.release(address(3), &rowB);
        QVERIFY(!cache.isFetching(address(3)));
        QTest::qWait(100);
        QCOMPARE(ready.count() + failed.count(), 0);
        QVERIFY(!cache.contains(address(3)));
    }

    void costIsBounded()
    {
        ThumbCache cache(m_network);
        QImage thumb(320, 180, QImage::Format_ARGB32_Premultiplied);
        const int count = 300; // about 66 MiB of estimated pixels
        for (int n = 0; n < count; ++n)
            cache.store(thumb, address(1000 + n));
        QVERIFY(cache.totalCost() <= ThumbCache::kCostLimit);
        QVERIFY(cache.totalCost() > ThumbCache::kCostLimit - ThumbCache::costOf(thumb));
        QVERIFY(cache.contains(address(1000 + count - 1)));
        QVERIFY(!cache.contains(address(1000)));
        // Replacing an entry does not count it twice.
        const qsizetype before = cache.totalCost();
        cache.store(thumb, address(1000 + count - 1));
        QVERIFY(cache.totalCost() <= before);
        QVERIFY(cache.contains(address(1000 + count - 1)));
        // The cost is of the size in device-independent pixels.
        QImage doubled(640, 360, QImage::Format_ARGB32_Premultiplied);
        doubled.setDevicePixelRatio(2);
        QCOMPARE(ThumbCache::costOf(doubled), 230400);
    }

    void aListAsksOnlyForVisibleRowsAndLetsGoWhenScrolledAway()
    {
        m_server.setDefaultReply(imageReply(encoded({320, 180}), std::chrono::seconds(5)));
        ThumbCache cache(m_network);
        QList<QUrl> addresses;
        for (int n = 0; n < 200; ++n)
            addresses << address(n);
        ThumbList list(cache, addresses, 56 * 5);
        QVERIFY(QTest::qWaitForWindowExposed(&list.view));
        QTRY_VERIFY(cache.fetchCount() > 0);
        QVERIFY2(cache.fetchCount() <= 7, qPrintable(QString::number(cache.fetchCount())));
        QVERIFY(cache.isFetching(address(0)));

        list.view.scrollToBottom();
        QTRY_VERIFY(cache.isFetching(address(199)));
        QVERIFY(!cache.isFetching(address(0)));
        QCOMPARE(cache.fetchCount(), list.thumbs->wantedCount());
        QVERIFY(cache.fetchCount() <= 7);
    }

    void anArrivingImageRepaintsItsRow()
    {
        ThumbCache cache(m_network);
        ThumbList list(cache, {address(7)}, 200);
        QVERIFY(QTest::qWaitForWindowExposed(&list.view));
        QTRY_VERIFY(cache.contains(address(7)));
        QTRY_COMPARE(list.thumbs->wantedCount(), 0);
        // The repainted row shows the image (red) instead of the placeholder.
        QTRY_COMPARE(list.view.viewport()->grab().toImage().pixelColor(43, 24), QColor(Qt::red));
    }
};

QTEST_MAIN(ThumbCacheTest)
#include "ThumbCacheTest.moc"
