#include "VideoListModel.h"

#include "RowText.h"
#include "Video.h"

#include <QMetaObject>
#include <algorithm>

namespace clipvane {

void VideoListModel::replaceAll(const QList<const Video *> &visible)
{
    beginResetModel();
    m_visible = visible;
    m_rowsKnown = false;
    endResetModel();
}

void VideoListModel::removeRuns(const QSet<const Video *> &gone, qsizetype from, qsizetype to)
{
    // Backwards, so the rows still to look at keep their numbers.
    for (qsizetype last = to - 1; last >= from; --last) {
        if (!gone.contains(m_visible[last]))
            continue;
        qsizetype first = last;
        while (first > from && gone.contains(m_visible[first - 1]))
            --first;
        beginRemoveRows({}, int(first), int(last));
        m_visible.remove(first, last - first + 1);
        m_rowsKnown = false;
        endRemoveRows();
        last = first;
    }
}

void VideoListModel::setVisible(const QList<const Video *> &visible, Basis basis)
{
    if (visible == m_visible)
        return;
    if (basis == Basis::otherFilter) {
        replaceAll(visible);
        return;
    }
    // Only the rows between the leading and trailing ones both lists share can differ; the
    // comparison stays within them, so a page added at the top or one row gone costs what changed.
    const qsizetype shorter = std::min(m_visible.size(), visible.size());
    qsizetype head = 0;
    while (head < shorter && m_visible[head] == visible[head])
        ++head;
    qsizetype tail = 0;
    while (tail < shorter - head && m_visible[m_visible.size() - 1 - tail] == visible[visible.size() - 1 - tail])
        ++tail;
    const qsizetype oldEnd = m_visible.size() - tail;
    const qsizetype newEnd = visible.size() - tail;
    const QSet<const Video *> before(m_visible.cbegin() + head, m_visible.cbegin() + oldEnd);
    const QSet<const Video *> after(visible.cbegin() + head, visible.cbegin() + newEnd);
    QSet<const Video *> gone;
    for (const Video *video : before) {
        if (!after.contains(video))
            gone.insert(video);
    }
    const qsizetype coming = after.size() - (before.size() - gone.size());
    // What stays must stay in its order; a new order or too many changes are a reset.
    bool kept = gone.size() + coming <= kResetAbove;
    for (qsizetype old = head, now = head; kept;) {
        while (old < oldEnd && gone.contains(m_visible[old]))
            ++old;
        while (now < newEnd && !before.contains(visible[now]))
            ++now;
        if (old == oldEnd || now == newEnd) {
            kept = old == oldEnd && now == newEnd;
            break;
        }
        kept = m_visible[old++] == visible[now++];
    }
    if (!kept) {
        replaceAll(visible);
        return;
    }
    Q_EMIT reshaping();
    removeRuns(gone, head, oldEnd);
    // Forwards: each run goes in where the new list has it, the rows before it being final.
    for (qsizetype first = head; first < newEnd; ++first) {
        if (before.contains(visible[first]))
            continue;
        qsizetype last = first;
        while (last + 1 < newEnd && !before.contains(visible[last + 1]))
            ++last;
        beginInsertRows({}, int(first), int(last));
        m_visible.insert(first, last - first + 1, nullptr);
        std::copy(visible.cbegin() + first, visible.cbegin() + last + 1, m_visible.begin() + first);
        m_rowsKnown = false;
        endInsertRows();
        first = last;
    }
    Q_EMIT reshaped();
}

void VideoListModel::forget(const QList<const Video *> &videos)
{
    const QSet<const Video *> gone(videos.cbegin(), videos.cend());
    m_changed.subtract(gone); // their addresses are about to be freed
    qsizetype leaving = 0;
    for (const Video *video : std::as_const(m_visible))
        leaving += gone.contains(video) ? 1 : 0;
    if (leaving == 0)
        return;
    if (leaving > kResetAbove) {
        QList<const Video *> rest;
        rest.reserve(m_visible.size() - leaving);
        for (const Video *video : std::as_const(m_visible)) {
            if (!gone.contains(video))
                rest.append(video);
        }
        replaceAll(rest);
        return;
    }
    Q_EMIT reshaping();
    removeRuns(gone, 0, m_visible.size());
    Q_EMIT reshaped();
}

void VideoListModel::recordChanged(const Video *video)
{
    if (m_changed.isEmpty())
        QMetaObject::invokeMethod(this, &VideoListModel::tellChanged, Qt::QueuedConnection);
    m_changed.insert(video);
}

void VideoListModel::tellChanged()
{
    QList<int> rows;
    for (const Video *video : std::as_const(m_changed)) {
        if (const int row = rowOf(video); row >= 0)
            rows.append(row);
    }
    m_changed.clear();
    std::sort(rows.begin(), rows.end());
    for (qsizetype first = 0; first < rows.size();) {
        qsizetype last = first;
        while (last + 1 < rows.size() && rows[last + 1] == rows[last] + 1)
            ++last;
        Q_EMIT dataChanged(index(rows[first]), index(rows[last]));
        first = last + 1;
    }
}

const Video *VideoListModel::videoAt(int row) const
{
    return row >= 0 && row < m_visible.size() ? m_visible[row] : nullptr;
}

int VideoListModel::rowOf(const Video *video) const
{
    if (!m_rowsKnown) {
        m_rows.clear();
        m_rows.reserve(m_visible.size());
        for (int row = 0; row < m_visible.size(); ++row)
            m_rows.insert(m_visible[row], row);
        m_rowsKnown = true;
    }
    return m_rows.value(video, -1);
}

int VideoListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_visible.size());
}

QVariant VideoListModel::data(const QModelIndex &index, int role) const
{
    const Video *video = videoAt(index);
    if (!video)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return video->title;
    case Qt::AccessibleTextRole:
        return RowText::accessibleText(*video, false);
    case Qt::ToolTipRole:
        return video->readOnly ? video->ownerEmail : QVariant();
    case youtubeIDRole:
        return video->youtubeID;
    case videoRole:
        return QVariant::fromValue(video);
    default:
        return {};
    }
}

QHash<int, QByteArray> VideoListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(youtubeIDRole, "youtubeID");
    names.insert(videoRole, "video");
    return names;
}

} // namespace clipvane
