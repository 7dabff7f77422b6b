#include "VideoListModel.h"

#include "RowText.h"
#include "Video.h"

#include <QSet>

namespace clipvane {

void VideoListModel::setVisible(const QList<Video *> &visible)
{
    beginResetModel();
    m_visible = visible;
    endResetModel();
}

void VideoListModel::forget(const QList<Video *> &videos)
{
    const QSet<const Video *> gone(videos.cbegin(), videos.cend());
    Q_EMIT forgetting();
    // Walk backwards so the rows still to check keep their numbers.
    for (int row = int(m_visible.size()) - 1; row >= 0; --row) {
        if (!gone.contains(m_visible[row]))
            continue;
        beginRemoveRows({}, row, row);
        m_visible.removeAt(row);
        endRemoveRows();
    }
    Q_EMIT forgotten();
}

void VideoListModel::refresh(const Video *video)
{
    const int row = rowOf(video);
    if (row >= 0)
        Q_EMIT dataChanged(index(row), index(row));
}

Video *VideoListModel::videoAt(int row) const
{
    return row >= 0 && row < m_visible.size() ? m_visible[row] : nullptr;
}

int VideoListModel::rowOf(const Video *video) const
{
    return int(m_visible.indexOf(video));
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
    default:
        return {};
    }
}

QHash<int, QByteArray> VideoListModel::roleNames() const
{
    QHash<int, QByteArray> names = QAbstractListModel::roleNames();
    names.insert(youtubeIDRole, "youtubeID");
    return names;
}

} // namespace clipvane
