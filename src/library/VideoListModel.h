#pragma once

#include <QAbstractListModel>
#include <QList>

namespace clipvane {

class Video;

// The visible list as rows of a list view: one row per record, in the visible order. The rows
// show the records' current values; replacing the list resets the model (views keep their
// place themselves). Records about to leave the store must be forgotten first.
class VideoListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role { youtubeIDRole = Qt::UserRole + 1 };

    using QAbstractListModel::QAbstractListModel;

    void setVisible(const QList<Video *> &visible);
    const QList<Video *> &visible() const { return m_visible; }
    // Drops rows of records the store is about to remove, so no row points at a freed record.
    void forget(const QList<Video *> &videos);
    // Tells views that a record's fields changed in place.
    void refresh(const Video *video);

    Video *videoAt(int row) const;
    Video *videoAt(const QModelIndex &index) const { return index.isValid() ? videoAt(index.row()) : nullptr; }
    int rowOf(const Video *video) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    // Around the rows forget() drops: views that follow their current row let it be meanwhile.
    void forgetting();
    void forgotten();

private:
    QList<Video *> m_visible;
};

} // namespace clipvane
