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

void VideoListModel::removeRuns(const QSet<const Video *> &gone)
{
    // Backwards, so the rows still to look at keep their numbers.
    for (int last = int(m_visible.size()) - 1; last >= 0; --last) {
        if (!gone.contains(m_visible[last]))
            continue;
        int first = last;
        while (first > 0 && gone.contains(m_visible[first - 1]))
            --first;
        beginRemoveRows({}, first, last);
        m_visible.remove(first, last - first + 1);
        m_rowsKnown = false;
        endRemoveRows();
        last = first;
    }
}

void VideoListModel::setVisible(const QList<const Video *> &visible)
{
    if (visible == m_visible)
        return;
    // The first list of a large library: nothing to compare it with.
    if (m_visible.isEmpty() && visible.size() > kResetAbove) {
        replaceAll(visible);
        return;
    }
    const QSet<const Video *> before(m_visible.cbegin(), m_visible.cend());
    const QSet<const Video *> after(visible.cbegin(), visible.cend());
    QSet<const Video *> gone;
    for (const Video *video : std::as_const(m_visible)) {
        if (!after.contains(video))
            gone.insert(video);
    }
    qsizetype coming = 0;
    for (const Video *video : visible)
        coming += before.contains(video) ? 0 : 1;
    // What stays must stay in its order; a new sort or too many changes are a reset.
    bool kept = gone.size() + coming <= kResetAbove;
    for (qsizetype old = 0, now = 0; kept;) {
        while (old < m_visible.size() && gone.contains(m_visible[old]))
            ++old;
        while (now < visible.size() && !before.contains(visible[now]))
            ++now;
        if (old == m_visible.size() || now == visible.size()) {
            kept = old == m_visible.size() && now == visible.size();
            break;
        }
        kept = m_visible[old++] == visible[now++];
    }
    if (!kept) {
        replaceAll(visible);
        return;
    }
    Q_EMIT reshaping();
    removeRuns(gone);
    // Forwards: each run goes in where the new list has it, the rows before it being final.
    for (int first = 0; first < visible.size(); ++first) {
        if (before.contains(visible[first]))
            continue;
        int last = first;
        while (last + 1 < visible.size() && !before.contains(visible[last + 1]))
            ++last;
        beginInsertRows({}, first, last);
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
    removeRuns(gone);
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
