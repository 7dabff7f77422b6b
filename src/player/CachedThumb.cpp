#include "CachedThumb.h"

#include "Fonts.h"
#include "Palette.h"
#include "Symbols.h"
#include "ThumbCache.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

namespace clipvane {

namespace {

constexpr qreal kPlaceholderSymbolSize = 13;

void addRow(QList<QPersistentModelIndex> &rows, const QModelIndex &index)
{
    if (index.isValid() && !rows.contains(index))
        rows.append(QPersistentModelIndex(index));
}

} // namespace

CachedThumb::CachedThumb(ThumbCache &cache, QAbstractItemView &view)
    : QObject(&view)
    , m_cache(cache)
    , m_view(&view)
{
    connect(&cache, &ThumbCache::ready, this, &CachedThumb::arrived);
    connect(&cache, &ThumbCache::failed, this, &CachedThumb::gaveUp);
    connect(view.verticalScrollBar(), &QScrollBar::valueChanged, this, &CachedThumb::sweep);
    connect(view.horizontalScrollBar(), &QScrollBar::valueChanged, this, &CachedThumb::sweep);
    view.viewport()->installEventFilter(this);
    watchModel();
}

CachedThumb::~CachedThumb()
{
    for (auto it = m_wanted.cbegin(); it != m_wanted.cend(); ++it)
        m_cache.release(it.key(), this);
}

void CachedThumb::paint(QPainter &painter, const QRectF &rect, const std::optional<QUrl> &url, const QModelIndex &index)
{
    if (url) {
        const QImage image = m_cache.image(*url);
        if (!image.isNull()) {
            paintImage(painter, rect, image);
            return;
        }
        watchModel();
        if (m_failed.contains(*url)) {
            addRow(m_failed[*url], index);
        } else {
            addRow(m_wanted[*url], index);
            m_cache.request(*url, this);
        }
    }
    paintPlaceholder(painter, rect);
}

void CachedThumb::sweep()
{
    for (auto it = m_wanted.begin(); it != m_wanted.end();) {
        if (anyVisible(it.value())) {
            ++it;
            continue;
        }
        const QUrl url = it.key();
        it = m_wanted.erase(it);
        m_cache.release(url, this);
    }
    for (auto it = m_failed.begin(); it != m_failed.end();)
        it = anyVisible(it.value()) ? std::next(it) : m_failed.erase(it);
}

bool CachedThumb::eventFilter(QObject *watched, QEvent *event)
{
    // Later, not now: a hidden viewport may belong to a view being destroyed.
    if (event->type() == QEvent::Resize || event->type() == QEvent::Hide)
        sweepSoon();
    return QObject::eventFilter(watched, event);
}

void CachedThumb::paintImage(QPainter &painter, const QRectF &rect, const QImage &image)
{
    QPainterPath clip;
    clip.addRoundedRect(rect, kCornerRadius, kCornerRadius);
    // Fill the frame, cropping the overflow evenly on both sides.
    const QSizeF source = image.deviceIndependentSize();
    const qreal scale = std::max(rect.width() / source.width(), rect.height() / source.height());
    const QSizeF shown(rect.width() / scale, rect.height() / scale);
    const QRectF sourceRect(QPointF((source.width() - shown.width()) / 2, (source.height() - shown.height()) / 2),
                            shown);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipPath(clip, Qt::IntersectClip);
    painter.drawImage(
        rect, image,
        QRectF(sourceRect.topLeft() * image.devicePixelRatio(), sourceRect.size() * image.devicePixelRatio()));
    painter.restore();
}

void CachedThumb::paintPlaceholder(QPainter &painter, const QRectF &rect)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Palette::card());
    painter.drawRoundedRect(rect, kCornerRadius, kCornerRadius);
    const qreal side = Symbols::boxFor(kPlaceholderSymbolSize);
    const QRectF symbol(rect.center() - QPointF(side / 2, side / 2), QSizeF(side, side));
    Symbols::paint(painter, symbol, QStringLiteral("play.rectangle"), Palette::muted());
    painter.restore();
}

void CachedThumb::sweepSoon()
{
    QMetaObject::invokeMethod(this, &CachedThumb::sweep, Qt::QueuedConnection);
}

void CachedThumb::arrived(const QUrl &url)
{
    const auto rows = m_wanted.take(url);
    if (!m_view)
        return;
    for (const QPersistentModelIndex &row : rows) {
        if (row.isValid())
            m_view->update(row);
    }
}

void CachedThumb::gaveUp(const QUrl &url)
{
    const auto rows = m_wanted.take(url);
    if (!rows.isEmpty())
        m_failed.insert(url, rows);
}

bool CachedThumb::anyVisible(const QList<QPersistentModelIndex> &rows) const
{
    if (!m_view || !m_view->isVisible())
        return false;
    const QRect area = m_view->viewport()->rect();
    for (const QPersistentModelIndex &row : rows) {
        if (row.isValid() && m_view->visualRect(row).intersects(area))
            return true;
    }
    return false;
}

void CachedThumb::watchModel()
{
    if (!m_view || m_watchedModel == m_view->model())
        return;
    if (m_watchedModel)
        m_watchedModel->disconnect(this);
    QAbstractItemModel *model = m_view->model();
    m_watchedModel = model;
    if (!model)
        return;
    // Sweeping later lets the view lay out the changed list first.
    const auto later = [this] { sweepSoon(); };
    connect(model, &QAbstractItemModel::modelReset, this, later);
    connect(model, &QAbstractItemModel::layoutChanged, this, later);
    connect(model, &QAbstractItemModel::rowsRemoved, this, later);
    connect(model, &QAbstractItemModel::rowsInserted, this, later);
    connect(model, &QAbstractItemModel::rowsMoved, this, later);
}

} // namespace clipvane
