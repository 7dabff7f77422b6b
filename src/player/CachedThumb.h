#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QSize>
#include <QUrl>
#include <optional>

class QAbstractItemView;
class QPainter;
class QRectF;

namespace clipvane {

class ThumbCache;

// The thumbnails of one list view whose rows are painted by a delegate. A row asks for its
// thumbnail when it is painted; when the image arrives, the rows that asked are repainted. A
// request whose rows have all left the visible area (scrolling, a changed list) is let go, so
// the cache can abandon the fetch. A row whose fetch failed is not asked for again until it
// has been off screen. Main thread only.
class CachedThumb : public QObject
{
    Q_OBJECT

public:
    static constexpr QSize kRowSize{86, 48};
    static constexpr qreal kCornerRadius = 5;

    // The view must outlive this object (make it a child of the view).
    CachedThumb(ThumbCache &cache, QAbstractItemView &view);
    ~CachedThumb() override;

    // Paints the thumbnail for the row at index into rect: the image scaled to fill (cropping
    // what overflows) or the placeholder, clipped to a rounded rectangle. Asks for the image
    // when it is not cached. No address (a record without a thumbnail) paints the placeholder.
    void paint(QPainter &painter, const QRectF &rect, const std::optional<QUrl> &url, const QModelIndex &index);

    // Lets go of the requests whose rows are no longer on screen. Runs by itself when the view
    // scrolls, resizes or its model changes.
    void sweep();

    static void paintImage(QPainter &painter, const QRectF &rect, const QImage &image);
    static void paintPlaceholder(QPainter &painter, const QRectF &rect);

    int wantedCount() const { return int(m_wanted.size()); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void sweepSoon();
    void arrived(const QUrl &url);
    void gaveUp(const QUrl &url);
    bool anyVisible(const QList<QPersistentModelIndex> &rows) const;
    void watchModel();

    ThumbCache &m_cache;
    QPointer<QAbstractItemView> m_view;
    QHash<QUrl, QList<QPersistentModelIndex>> m_wanted;
    QHash<QUrl, QList<QPersistentModelIndex>> m_failed;
    QPointer<QObject> m_watchedModel;
};

} // namespace clipvane
