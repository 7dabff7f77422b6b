#pragma once

#include "SyncState.h"
#include "Video.h"

#include <QList>
#include <QString>
#include <memory>
#include <vector>

namespace clipvane::test {

// One record as a test describes it; fields not named keep these defaults.
struct RecordSeed
{
    QString id{};
    QString title{};
    QString uploadDate{};
    QString duration{};
    qint64 createdAt = 0;
    bool excluded = false;
    QString syncState = SyncStateRaw::synced;
    QString ownerEmail{};
    bool readOnly = false;
};

// Owns records at stable addresses and hands them out as the store does: a list of pointers
// in store order.
class LibraryFixture
{
public:
    LibraryFixture() = default;
    explicit LibraryFixture(const QList<RecordSeed> &seeds)
    {
        for (const RecordSeed &seed : seeds)
            add(seed);
    }

    Video *add(const RecordSeed &seed)
    {
        auto video = std::make_unique<Video>(seed.id, seed.title, QString(), seed.uploadDate, seed.duration,
                                             seed.excluded, QString(), seed.createdAt, 0, seed.syncState);
        video->ownerEmail = seed.ownerEmail;
        video->readOnly = seed.readOnly;
        m_records.append(video.get());
        m_owned.push_back(std::move(video));
        return m_records.constLast();
    }

    // Removes and frees the record, as the store does: a later record may get its address.
    void remove(qsizetype position)
    {
        Video *video = m_records.takeAt(position);
        std::erase_if(m_owned, [video](const std::unique_ptr<Video> &owned) { return owned.get() == video; });
    }

    // Changes the store order; the record keeps its address.
    void move(qsizetype from, qsizetype to) { m_records.move(from, to); }

    const QList<Video *> &records() const { return m_records; }

    static QStringList ids(const QList<Video *> &videos)
    {
        QStringList result;
        for (const Video *video : videos)
            result.append(video->youtubeID);
        return result;
    }

private:
    std::vector<std::unique_ptr<Video>> m_owned;
    QList<Video *> m_records;
};

} // namespace clipvane::test
