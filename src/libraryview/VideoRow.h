#pragma once

#include <QStyledItemDelegate>

namespace clipvane {

class CachedThumb;
class AppState;
class Video;

// Paints one record of the library list: the thumbnail, the title (at most two lines) with the
// search words marked, the facts line with its symbols, the playing and shared icons, and on the
// thumbnail the watched mark or how far a started video got. No
// widget per row: every row of the list is painted by this one delegate at a fixed height.
class VideoRow : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int kRowHeight = 58;
    static constexpr int kInset = 10;         // the list's inset from the column's edges
    static constexpr int kContentPadding = 8; // inside the selection's rounded rectangle

    // state: the search text marked in titles, the selection and its player.
    VideoRow(AppState &state, CachedThumb &thumbs, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // Paints a record into rect, the row's full width; for the list and for benchmarks.
    void paintRow(QPainter &painter, const QRect &rect, const Video &video, bool selected, bool lastRow,
                  const QModelIndex &index) const;

    // How much of the line under the thumbnail is filled: 0 for none (not started, or watched).
    static double progressShare(const Video &video);

private:
    void paintViewing(QPainter &painter, const QRectF &thumb, const Video &video) const;
    qreal paintTitle(QPainter &painter, const QRectF &rect, const Video &video, bool measureOnly) const;
    void paintFacts(QPainter &painter, const QPointF &topLeft, qreal width, const Video &video) const;

    AppState &m_state;
    CachedThumb &m_thumbs;
    QFont m_titleFont;
    QFont m_factsFont;
};

} // namespace clipvane
