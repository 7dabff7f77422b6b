#pragma once

#include "Video.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QSet>

namespace clipvane {

// The visible list as rows of a list view: one row per record, in the visible order. A new list
// is told to views as what it is: rows that left and rows that came, each contiguous run as one
// removal or insertion, when the rest kept its order; a reset when the order changed or too much
// did. A record changed in place is one dataChanged. Records about to leave the store must be
// forgotten first, so no row points at a freed record.
class VideoListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    // The record itself (a const Video *), for the row delegate.
    enum Role { youtubeIDRole = Qt::UserRole + 1, videoRole };
    // More rows than this leaving or coming at once are told as a reset: views then rebuild once
    // instead of moving their rows run by run.
    static constexpr qsizetype kResetAbove = 1000;

    using QAbstractListModel::QAbstractListModel;

    // How a new list stands to the rows shown: the same filter and order, so records came, went
    // or changed and the difference is told row by row; or another filter or order, a reset.
    enum class Basis { sameFilter, otherFilter };
    void setVisible(const QList<const Video *> &visible, Basis basis = Basis::sameFilter);
    const QList<const Video *> &visible() const { return m_visible; }
    // Drops rows of records the store is about to remove.
    void forget(const QList<const Video *> &videos);
    // A record's fields changed in place: its row, if it has one, says so once control returns
    // to the event loop, with the other rows changed meanwhile (a page of a pull changes hundreds).
    void recordChanged(const Video *video);

    const Video *videoAt(int row) const;
    const Video *videoAt(const QModelIndex &index) const { return index.isValid() ? videoAt(index.row()) : nullptr; }
    int rowOf(const Video *video) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

Q_SIGNALS:
    // Around rows leaving or coming without a reset: views that follow their current row let it
    // be meanwhile.
    void reshaping();
    void reshaped();

private:
    // Removes the rows in [from, to) whose records are in gone, one signal pair per contiguous run.
    void removeRuns(const QSet<const Video *> &gone, qsizetype from, qsizetype to);
    void replaceAll(const QList<const Video *> &visible);
    void tellChanged();

    QList<const Video *> m_visible;
    // Row of each record, built when first asked for after the rows changed.
    mutable QHash<const Video *, int> m_rows;
    mutable bool m_rowsKnown = false;
    QSet<const Video *> m_changed; // waiting for tellChanged()
};

} // namespace clipvane
