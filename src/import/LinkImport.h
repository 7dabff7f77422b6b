#pragma once

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QWaitCondition>
#include <atomic>
#include <memory>

class QThread;

namespace clipvane {

class LocalEdits;

// A link or a file an import could not take, and why.
struct ImportProblem
{
    QString file;
    qint64 line = 0; // 1-based; 0 for the file as a whole
    QString text;
    QString reason;
};

// What came of an import.
struct ImportSummary
{
    // A file of millions of bad rows must not hold them all: beyond this many only the count grows.
    static constexpr int kKeptRefusals = 1000;

    int added = 0;
    int alreadyThere = 0;            // within the files and against the library
    QList<ImportProblem> refused;    // IDs the service would never take, with file and line: the first kKeptRefusals
    int refusedCount = 0;            // all of them, kept or not
    QList<ImportProblem> unreadable; // files that could not be read at all (line 0), with the reason
    QStringList addedIDs;            // the videos this import added (what an undo removes)
    bool allFilesRead() const { return unreadable.isEmpty(); }
    QString text() const; // a short summary for the status line and the terminal
    void refuse(ImportProblem problem);
};

// Adds the videos of every link in some files (exports of playlists and watch histories,
// bookmarks, notes, mail) to the library. The files are read off the owner's thread; every
// video goes through LocalEdits on the owner's thread, in batches of one save each, and one
// sync is asked for at the end. Each video is added once: the second naming of a video, in the
// same file or another, counts as already there.
class LinkImport : public QObject
{
    Q_OBJECT

public:
    // Links per call to LocalEdits: one store transaction each.
    static constexpr int kBatch = 500;
    // Batches read ahead of the library; the reader waits beyond, so memory stays bounded.
    static constexpr int kBatchesAhead = 4;
    // Progress is told at least this often while a long file without links is read.
    static constexpr qint64 kProgressBytes = 4 * 1024 * 1024;

    LinkImport(LocalEdits &edits, const QStringList &files, QObject *parent = nullptr);
    ~LinkImport() override;

    // Returns at once; finished() follows, always from the event loop.
    void start();
    // Stops reading and adding; what was added stays added and is in the summary.
    void cancel();
    bool isRunning() const { return m_started && !m_done; }

Q_SIGNALS:
    void progress(qint64 bytesRead, qint64 bytesTotal, int videosFound);
    void finished(const clipvane::ImportSummary &summary);

private:
    struct Found
    {
        QString text;
        int file = 0;
        qint64 line = 0;
        QString refusal;
    };
    struct Batch
    {
        QList<Found> links;
        QList<ImportProblem> unreadable;
        qint64 bytesRead = 0;
        bool last = false;
    };

    // On the reading thread.
    void read();
    void send(Batch batch);
    // On the owner's thread.
    void takeBatches();
    void add(const Batch &batch);
    void finish();

    LocalEdits &m_edits;
    const QStringList m_files;
    qint64 m_bytesTotal = 0;
    ImportSummary m_summary;
    int m_found = 0;
    bool m_started = false;
    bool m_done = false;

    std::atomic<bool> m_cancelled{false};
    QMutex m_mutex;
    QWaitCondition m_room;
    QList<Batch> m_queue;
    // Declared last: its destruction waits for the reading thread, which uses the members above.
    std::unique_ptr<QThread> m_reader;
};

} // namespace clipvane
