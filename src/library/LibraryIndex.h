#pragma once

#include "LibraryFilter.h"
#include "SortMode.h"
#include "TitleCollation.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace clipvane {

class Video;

// Serves the library list on every keystroke. It keeps, between calls, the stable order of
// all records for each sort mode together with what filtering needs per record (folded
// title, year, duration in seconds, collation key), and produces the visible list by
// filtering a kept order. Because each order is the stable sort of the store's order, the
// result is always exactly LibraryFilter::apply(records); nothing kept shows in it.
//
// revision identifies the records' content (VideoStore::revision()): it must change with
// every insert, removal or change of a field. When it moves, the kept data is refreshed:
// values of unchanged records are reused and each kept order is mended by merging in the
// changed records; an order not yet kept is built on its first use.
class LibraryIndex
{
public:
    LibraryIndex();
    ~LibraryIndex();
    LibraryIndex(const LibraryIndex &) = delete;
    LibraryIndex &operator=(const LibraryIndex &) = delete;

    // The same list as filter.apply(records).
    QList<const Video *> visible(const QList<const Video *> &records, quint64 revision, const LibraryFilter &filter);

    // Builds the order of sort ahead of its first use, for instance while the window is idle.
    void prepare(const QList<const Video *> &records, quint64 revision, SortMode sort);

    // The same as LibraryLists' functions, kept until the revision moves.
    const QStringList &years(const QList<const Video *> &records, quint64 revision);
    const QStringList &sharedOwners(const QList<const Video *> &records, quint64 revision);
    const QHash<QString, const Video *> &byID(const QList<const Video *> &records, quint64 revision);

    // The work done since the last resetWork(), counted rather than timed, so a test can hold
    // that one edit costs as much in a large library as in a small one.
    struct Work
    {
        quint64 comparisons = 0; // of two records' sort keys
        quint64 derived = 0;     // records whose sort keys were worked out again
        quint64 fullSorts = 0;   // orders sorted from scratch rather than mended
    };
    const Work &work() const { return m_work; }
    void resetWork() { m_work = {}; }

private:
    struct Entry;
    using Order = std::vector<quint32>;

    void refresh(const QList<const Video *> &records, quint64 revision);
    std::vector<qint32> rebuildEntries(const QList<const Video *> &records, std::vector<quint8> &keptKeys);
    quint8 update(Entry &entry, Entry *before, const Video &video);
    void refreshFilterFields();
    void checkLocale();
    bool matchesKept(const QList<const Video *> &records) const;
    const Order &order(SortMode sort);
    void buildOrder(SortMode sort);
    Order sortedByDate(bool newestFirst) const;
    Order mirrored(const Order &order) const;
    void mendOrder(SortMode sort, const std::vector<qint32> &oldToNew, const std::vector<quint8> &keptKeys);
    void ensureTitleKey(Entry &entry) const;
    static void ensureSeconds(Entry &entry);
    static const QString &searchText(Entry &entry);
    bool before(SortMode sort, quint32 a, quint32 b) const;
    static int compareDates(const Entry &left, const Entry &right);
    static int compareDatesAndCreation(const Entry &left, const Entry &right);

    std::optional<quint64> m_revision;
    std::vector<Entry> m_entries;        // in store order
    std::vector<const Video *> m_videos; // the same records, contiguous for quick checks
    std::vector<quint8> m_flags;         // per record: absent, deleted, excluded, read-only
    std::vector<qint32> m_ownerIds;      // per read-only record: index into m_owners
    QHash<QString, qint32> m_ownerIndex;
    std::array<Order, 4> m_orders;
    std::array<bool, 4> m_orderKept{};
    std::unique_ptr<TitleCollation> m_collation;
    std::vector<char> m_keep; // scratch: which records pass the filter

    std::optional<QStringList> m_years;
    std::optional<QStringList> m_sharedOwners;
    std::optional<QHash<QString, const Video *>> m_byID;
    mutable Work m_work;
};

} // namespace clipvane
