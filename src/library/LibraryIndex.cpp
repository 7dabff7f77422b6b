#include "LibraryIndex.h"

#include "Duration.h"
#include "LibraryLists.h"
#include "TextRules.h"
#include "TitleSearch.h"
#include "Video.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace clipvane {

namespace {

// An upload date packed into whole numbers, so most comparisons of two dates are three
// integer comparisons: twelve UTF-16 units remapped to code-point order, four per number.
constexpr qsizetype kPackedUnits = 12;
constexpr qsizetype kUnitsPerWord = 4;
constexpr int kUnitBits = 16;
using PackedDate = std::array<quint64, kPackedUnits / kUnitsPerWord>;

enum Flag : quint8 {
    kAbsent = 1, // a null pointer in the records
    kDeleted = 2,
    kExcluded = 4,
    kReadOnly = 8,
    kWatched = 16,
};

// Bits of the sort modes whose key of a record is unchanged since the last refresh.
constexpr quint8 modeBit(SortMode sort)
{
    return quint8(1U << unsigned(sort));
}
constexpr quint8 kDateModes = modeBit(SortMode::newest) | modeBit(SortMode::oldest);

// Mending an order costs a pass over it plus a search per changed record; beyond this share
// of changed records a fresh sort is as quick and simpler.
constexpr size_t kMendLimitDivisor = 4;

// -1, 0 or 1, word by word: std::array's own comparisons go through memcmp, which costs a call
// per comparison, and sorting a large library compares dates millions of times.
int comparePacked(const PackedDate &left, const PackedDate &right)
{
    for (size_t i = 0; i < left.size(); ++i) {
        if (left[i] != right[i])
            return left[i] < right[i] ? -1 : 1;
    }
    return 0;
}

PackedDate packDate(QStringView date)
{
    PackedDate packed{};
    const qsizetype units = std::min(date.size(), kPackedUnits);
    for (qsizetype i = 0; i < units; ++i) {
        const int shift = kUnitBits * int(kUnitsPerWord - 1 - i % kUnitsPerWord);
        packed[size_t(i / kUnitsPerWord)] |= quint64(TextRules::codePointOrderUnit(date[i].unicode())) << shift;
    }
    return packed;
}

// The length of Video::yearText() without making the text: dates of plain characters (the
// usual "YYYY-MM-DD") have one unit per grapheme cluster, and any other date asks the record.
qsizetype yearLength(const Video &video)
{
    constexpr qsizetype kYearUnits = 4;
    constexpr char16_t kPlainFirst = 0x20;
    constexpr char16_t kPlainEnd = 0x300; // combining marks start here
    const QString &date = video.uploadDate;
    for (qsizetype i = 0; i < date.size() && i <= kYearUnits; ++i) {
        if (date[i].unicode() < kPlainFirst || date[i].unicode() >= kPlainEnd)
            return video.yearText().size();
    }
    return std::min(date.size(), kYearUnits);
}

} // namespace

struct LibraryIndex::Entry
{
    // Copies of the fields the derived values come from. A record changed in place is
    // noticed by comparing them with the record, never assumed from its address.
    QString title;
    QString uploadDate;
    QString duration;
    qint64 createdAt = 0;

    // TitleSearch::fold(title), made when a search first needs it: a library that is never
    // searched keeps no second copy of its titles.
    std::optional<QString> searchText;
    std::optional<TitleCollation::Key> titleKey; // made when the title order is first needed
    PackedDate date{};
    // durationSeconds(), made when the length order is first needed: most starts never sort by
    // length, and reading 100,000 durations is a good part of building the first order.
    std::optional<qint64> seconds;
    qsizetype yearLength = 0; // the year text is uploadDate's first yearLength units
};

LibraryIndex::LibraryIndex()
    : m_collation(std::make_unique<TitleCollation>())
{}

LibraryIndex::~LibraryIndex() = default;

QList<const Video *> LibraryIndex::visible(const QList<const Video *> &records, quint64 revision,
                                           const LibraryFilter &filter)
{
    checkLocale();
    refresh(records, revision);
    const Order &sorted = order(filter.sort);

    const TitleSearch words(filter.search);
    std::vector<char> hiddenOwners(size_t(m_ownerIndex.size()), 0);
    bool anyHidden = false;
    for (const QString &owner : filter.hiddenOwners) {
        const auto found = m_ownerIndex.constFind(owner);
        if (found != m_ownerIndex.constEnd()) {
            hiddenOwners[size_t(*found)] = 1;
            anyHidden = true;
        }
    }
    const quint8 excluded = filter.showExcluded ? kExcluded : 0;
    const quint8 hidden = filter.hideWatched ? kWatched : 0;

    // Filter in store order (the records lie in memory in that order), then walk the order.
    const size_t count = m_entries.size();
    m_keep.assign(count, 0);
    qsizetype kept = 0;
    for (size_t i = 0; i < count; ++i) {
        const quint8 flags = m_flags[i];
        if ((flags & (kAbsent | kDeleted | hidden)) != 0 || (flags & kExcluded) != excluded)
            continue;
        if (anyHidden && (flags & kReadOnly) != 0 && hiddenOwners[size_t(m_ownerIds[i])] != 0)
            continue;
        const Entry &entry = m_entries[i];
        if (!filter.year.isEmpty() && QStringView(entry.uploadDate).first(entry.yearLength) != filter.year)
            continue;
        if (!words.isEmpty() && !words.matches(searchText(m_entries[i])))
            continue;
        m_keep[i] = 1;
        ++kept;
    }

    QList<const Video *> result;
    result.reserve(kept);
    for (const quint32 i : sorted) {
        if (m_keep[i] != 0)
            result.append(m_videos[i]);
    }
    return result;
}

void LibraryIndex::prepare(const QList<const Video *> &records, quint64 revision, SortMode sort)
{
    checkLocale();
    refresh(records, revision);
    order(sort);
}

const QStringList &LibraryIndex::years(const QList<const Video *> &records, quint64 revision)
{
    refresh(records, revision);
    if (!m_years)
        m_years = LibraryLists::years(records);
    return *m_years;
}

const QStringList &LibraryIndex::sharedOwners(const QList<const Video *> &records, quint64 revision)
{
    refresh(records, revision);
    if (!m_sharedOwners)
        m_sharedOwners = LibraryLists::sharedOwners(records);
    return *m_sharedOwners;
}

const QHash<QString, const Video *> &LibraryIndex::byID(const QList<const Video *> &records, quint64 revision)
{
    refresh(records, revision);
    if (!m_byID)
        m_byID = LibraryLists::byID(records);
    return *m_byID;
}

bool LibraryIndex::matchesKept(const QList<const Video *> &records) const
{
    return size_t(records.size()) == m_videos.size() &&
           (m_videos.empty() ||
            std::memcmp(records.constData(), m_videos.data(), m_videos.size() * sizeof(const Video *)) == 0);
}

void LibraryIndex::refresh(const QList<const Video *> &records, quint64 revision)
{
    // A list of other records under the same revision (a caller's mistake) still gets a
    // right answer: membership is checked on every call, it costs one memory comparison.
    const bool sameRecords = matchesKept(records);
    if (m_revision == revision && sameRecords)
        return;

    const size_t count = size_t(records.size());
    std::vector<quint8> keptKeys(count, 0);
    std::vector<qint32> oldToNew;
    if (sameRecords) {
        // The usual change: fields edited in place. Entries are brought up to date where they are.
        oldToNew.resize(count);
        for (size_t i = 0; i < count; ++i) {
            oldToNew[i] = m_videos[i] != nullptr ? qint32(i) : -1;
            if (m_videos[i] != nullptr)
                keptKeys[i] = update(m_entries[i], &m_entries[i], *m_videos[i]);
        }
    } else {
        oldToNew = rebuildEntries(records, keptKeys);
    }
    refreshFilterFields();

    // Kept orders tie-break by store position; they can be mended only while the records
    // that stay keep their relative store order.
    bool storeOrderKept = true;
    qint32 last = -1;
    for (const qint32 position : oldToNew) {
        if (position < 0)
            continue;
        if (position <= last) {
            storeOrderKept = false;
            break;
        }
        last = position;
    }
    for (const SortMode sort : kAllSortModes) {
        if (m_orderKept[size_t(sort)] && storeOrderKept)
            mendOrder(sort, oldToNew, keptKeys);
        else
            m_orderKept[size_t(sort)] = false;
    }

    m_revision = revision;
    m_years.reset();
    m_sharedOwners.reset();
    m_byID.reset();
}

std::vector<qint32> LibraryIndex::rebuildEntries(const QList<const Video *> &records, std::vector<quint8> &keptKeys)
{
    std::vector<Entry> old = std::move(m_entries);
    const std::vector<const Video *> oldVideos = std::move(m_videos);
    m_entries = std::vector<Entry>(size_t(records.size()));
    m_videos.assign(records.cbegin(), records.cend());

    std::vector<qint32> oldToNew(old.size(), -1);
    QHash<const Video *, qint32> oldPositions; // built only when records moved
    for (size_t i = 0; i < m_videos.size(); ++i) {
        const Video *video = m_videos[i];
        if (video == nullptr)
            continue;
        qint32 previous = -1;
        if (i < oldVideos.size() && oldVideos[i] == video && oldToNew[i] < 0) {
            previous = qint32(i);
        } else if (!old.empty()) {
            if (oldPositions.isEmpty()) {
                oldPositions.reserve(qsizetype(oldVideos.size()));
                for (size_t j = oldVideos.size(); j-- > 0;)
                    oldPositions.insert(oldVideos[j], qint32(j)); // the first of duplicates wins
            }
            const qint32 found = oldPositions.value(video, -1);
            if (found >= 0 && oldToNew[size_t(found)] < 0)
                previous = found;
        }
        if (previous >= 0)
            oldToNew[size_t(previous)] = qint32(i);
        keptKeys[i] = update(m_entries[i], previous >= 0 ? &old[size_t(previous)] : nullptr, *video);
    }
    return oldToNew;
}

quint8 LibraryIndex::update(Entry &entry, Entry *before, const Video &video)
{
    // before is the record's entry from the last refresh, or entry itself when updated in place.
    const bool inPlace = before == &entry;
    quint8 kept = 0;
    bool derived = false;

    if (before != nullptr && before->title == video.title) {
        if (!inPlace) {
            entry.title = std::move(before->title);
            entry.searchText = std::move(before->searchText);
            entry.titleKey = std::move(before->titleKey);
        }
        kept |= modeBit(SortMode::title);
    } else {
        derived = true;
        entry.title = video.title;
        entry.searchText.reset();
        entry.titleKey.reset();
    }

    if (before != nullptr && before->uploadDate == video.uploadDate) {
        if (!inPlace) {
            entry.uploadDate = std::move(before->uploadDate);
            entry.date = before->date;
            entry.yearLength = before->yearLength;
        }
        if (before->createdAt == video.createdAt)
            kept |= kDateModes;
    } else {
        derived = true;
        entry.uploadDate = video.uploadDate;
        entry.date = packDate(entry.uploadDate);
        entry.yearLength = yearLength(video);
    }
    entry.createdAt = video.createdAt;

    if (before != nullptr && before->duration == video.duration) {
        if (!inPlace) {
            entry.duration = std::move(before->duration);
            entry.seconds = before->seconds;
        }
        kept |= modeBit(SortMode::longest);
    } else {
        derived = true;
        const std::optional<qint64> secondsBefore = before != nullptr ? before->seconds : std::nullopt;
        entry.duration = video.duration;
        entry.seconds.reset();
        // Only a kept length order needs the new length: a length unchanged leaves it in place.
        if (secondsBefore) {
            ensureSeconds(entry);
            if (entry.seconds == secondsBefore)
                kept |= modeBit(SortMode::longest);
        }
    }
    if (derived)
        ++m_work.derived;
    return kept;
}

void LibraryIndex::refreshFilterFields()
{
    const size_t count = m_videos.size();
    m_flags.assign(count, 0);
    m_ownerIds.assign(count, -1);
    m_ownerIndex.clear();
    for (size_t i = 0; i < count; ++i) {
        const Video *video = m_videos[i];
        if (video == nullptr) {
            m_flags[i] = kAbsent;
            continue;
        }
        quint8 flags = 0;
        if (video->syncStateRaw == SyncStateRaw::needsDelete)
            flags |= kDeleted;
        if (video->excluded)
            flags |= kExcluded;
        if (video->watched)
            flags |= kWatched;
        if (video->readOnly) {
            flags |= kReadOnly;
            auto owner = m_ownerIndex.constFind(video->ownerEmail);
            if (owner == m_ownerIndex.constEnd())
                owner = m_ownerIndex.insert(video->ownerEmail, qint32(m_ownerIndex.size()));
            m_ownerIds[i] = *owner;
        }
        m_flags[i] = flags;
    }
}

void LibraryIndex::checkLocale()
{
    if (m_collation->locale() == QLocale())
        return;
    m_collation = std::make_unique<TitleCollation>();
    for (Entry &entry : m_entries)
        entry.titleKey.reset();
    m_orderKept[size_t(SortMode::title)] = false;
}

const LibraryIndex::Order &LibraryIndex::order(SortMode sort)
{
    if (!m_orderKept[size_t(sort)])
        buildOrder(sort);
    return m_orders[size_t(sort)];
}

const QString &LibraryIndex::searchText(Entry &entry)
{
    if (!entry.searchText)
        entry.searchText = TitleSearch::fold(entry.title);
    return *entry.searchText;
}

void LibraryIndex::ensureSeconds(Entry &entry)
{
    if (!entry.seconds)
        entry.seconds = Duration::seconds(entry.duration).value_or(0);
}

void LibraryIndex::ensureTitleKey(Entry &entry) const
{
    if (!entry.titleKey)
        entry.titleKey = m_collation->key(entry.title);
}

int LibraryIndex::compareDates(const Entry &left, const Entry &right)
{
    if (const int packed = comparePacked(left.date, right.date); packed != 0)
        return packed;
    // Equal packed units: the texts are equal as far as the shorter one goes or beyond twelve units.
    if (left.uploadDate.size() > kPackedUnits || right.uploadDate.size() > kPackedUnits)
        return TextRules::compareCodePoints(left.uploadDate, right.uploadDate);
    return left.uploadDate.size() < right.uploadDate.size() ? -1 : (left.uploadDate.size() > right.uploadDate.size());
}

int LibraryIndex::compareDatesAndCreation(const Entry &left, const Entry &right)
{
    const int byDate = compareDates(left, right);
    if (byDate != 0)
        return byDate;
    return left.createdAt < right.createdAt ? -1 : (left.createdAt > right.createdAt);
}

bool LibraryIndex::before(SortMode sort, quint32 a, quint32 b) const
{
    ++m_work.comparisons;
    const Entry &left = m_entries[a];
    const Entry &right = m_entries[b];
    int order = 0;
    switch (sort) {
    case SortMode::newest:
        order = -compareDatesAndCreation(left, right);
        break;
    case SortMode::oldest:
        order = compareDatesAndCreation(left, right);
        break;
    case SortMode::title:
        order = TitleCollation::compare(*left.titleKey, *right.titleKey);
        break;
    case SortMode::longest:
        order = *left.seconds > *right.seconds ? -1 : (*left.seconds < *right.seconds);
        break;
    }
    // Equal keys keep store order: the stable sort of the visible list does the same.
    return order != 0 ? order < 0 : a < b;
}

void LibraryIndex::buildOrder(SortMode sort)
{
    Order &sorted = m_orders[size_t(sort)];
    ++m_work.fullSorts;
    switch (sort) {
    case SortMode::newest:
    case SortMode::oldest: {
        const SortMode mirror = sort == SortMode::newest ? SortMode::oldest : SortMode::newest;
        if (m_orderKept[size_t(mirror)])
            sorted = mirrored(m_orders[size_t(mirror)]);
        else
            sorted = sortedByDate(sort == SortMode::newest);
        break;
    }
    case SortMode::title:
        for (Entry &entry : m_entries)
            ensureTitleKey(entry);
        sorted.resize(m_entries.size());
        std::iota(sorted.begin(), sorted.end(), quint32(0));
        std::sort(sorted.begin(), sorted.end(), [this](quint32 a, quint32 b) { return before(SortMode::title, a, b); });
        break;
    case SortMode::longest: {
        // Sorting the keys themselves rather than positions into the entries saves a cache miss
        // per comparison.
        std::vector<std::pair<qint64, quint32>> keys(m_entries.size());
        for (size_t i = 0; i < keys.size(); ++i) {
            ensureSeconds(m_entries[i]);
            keys[i] = {*m_entries[i].seconds, quint32(i)};
        }
        std::sort(keys.begin(), keys.end(), [](const auto &a, const auto &b) {
            return a.first != b.first ? a.first > b.first : a.second < b.second;
        });
        sorted.resize(keys.size());
        std::transform(keys.cbegin(), keys.cend(), sorted.begin(), [](const auto &key) { return key.second; });
        break;
    }
    }
    m_orderKept[size_t(sort)] = true;
}

LibraryIndex::Order LibraryIndex::sortedByDate(bool newestFirst) const
{
    struct Key
    {
        PackedDate date;
        qint64 createdAt;
        qsizetype length;
        quint32 position;
    };
    std::vector<Key> keys(m_entries.size());
    for (size_t i = 0; i < keys.size(); ++i) {
        const Entry &entry = m_entries[i];
        keys[i] = {entry.date, entry.createdAt, entry.uploadDate.size(), quint32(i)};
    }
    const auto ascending = [this](const Key &a, const Key &b) {
        if (const int packed = comparePacked(a.date, b.date); packed != 0)
            return packed;
        if (a.length > kPackedUnits || b.length > kPackedUnits) {
            const int byText = compareDates(m_entries[a.position], m_entries[b.position]);
            if (byText != 0)
                return byText;
        } else if (a.length != b.length) {
            return a.length < b.length ? -1 : 1;
        }
        return a.createdAt < b.createdAt ? -1 : (a.createdAt > b.createdAt);
    };
    std::sort(keys.begin(), keys.end(), [&ascending, newestFirst](const Key &a, const Key &b) {
        const int order = ascending(a, b);
        if (order != 0)
            return newestFirst ? order > 0 : order < 0;
        return a.position < b.position;
    });
    Order sorted(keys.size());
    std::transform(keys.cbegin(), keys.cend(), sorted.begin(), [](const Key &key) { return key.position; });
    return sorted;
}

LibraryIndex::Order LibraryIndex::mirrored(const Order &order) const
{
    // Oldest first is newest first read backwards, except that records with the same date and
    // creation time keep store order both ways: such runs are turned back.
    Order result(order.crbegin(), order.crend());
    for (size_t start = 0; start < result.size();) {
        size_t end = start + 1;
        while (end < result.size() && compareDatesAndCreation(m_entries[result[start]], m_entries[result[end]]) == 0)
            ++end;
        std::reverse(result.begin() + qsizetype(start), result.begin() + qsizetype(end));
        start = end;
    }
    return result;
}

void LibraryIndex::mendOrder(SortMode sort, const std::vector<qint32> &oldToNew, const std::vector<quint8> &keptKeys)
{
    const quint8 bit = modeBit(sort);
    Order changed;
    for (size_t i = 0; i < keptKeys.size(); ++i) {
        if ((keptKeys[i] & bit) == 0)
            changed.push_back(quint32(i));
    }
    if (changed.size() * kMendLimitDivisor > keptKeys.size()) {
        m_orderKept[size_t(sort)] = false;
        return;
    }
    for (const quint32 i : changed) {
        if (sort == SortMode::title)
            ensureTitleKey(m_entries[i]);
        else if (sort == SortMode::longest)
            ensureSeconds(m_entries[i]);
    }
    const auto less = [this, sort](quint32 a, quint32 b) { return before(sort, a, b); };
    std::sort(changed.begin(), changed.end(), less);

    // The records that stay, in their kept order under their new positions.
    Order staying;
    staying.reserve(keptKeys.size());
    for (const quint32 previous : m_orders[size_t(sort)]) {
        const qint32 position = oldToNew[previous];
        if (position >= 0 && (keptKeys[size_t(position)] & bit) != 0)
            staying.push_back(quint32(position));
    }

    Order mended;
    mended.reserve(keptKeys.size());
    auto from = staying.cbegin();
    for (const quint32 i : changed) {
        const auto at = std::lower_bound(from, staying.cend(), i, less);
        mended.insert(mended.end(), from, at);
        mended.push_back(i);
        from = at;
    }
    mended.insert(mended.end(), from, staying.cend());
    m_orders[size_t(sort)] = std::move(mended);
}

} // namespace clipvane
