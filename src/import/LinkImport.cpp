#include "LinkImport.h"

#include "LinkFileReader.h"
#include "LocalEdits.h"

#include <QFileInfo>
#include <QThread>

namespace clipvane {

QString ImportSummary::text() const
{
    QStringList parts;
    if (added > 0)
        parts.append(added == 1 ? LinkImport::tr("Added 1 video.") : LinkImport::tr("Added %L1 videos.").arg(added));
    if (alreadyThere > 0)
        parts.append(LinkImport::tr("%L1 already in your library.").arg(alreadyThere));
    if (refusedCount > 0)
        parts.append(LinkImport::tr("%L1 not added.").arg(refusedCount));
    if (unreadable.size() == 1)
        parts.append(LinkImport::tr("1 file couldn't be read."));
    else if (unreadable.size() > 1)
        parts.append(LinkImport::tr("%L1 files couldn't be read.").arg(unreadable.size()));
    if (parts.isEmpty())
        return LinkImport::tr("No videos found.");
    return parts.join(u' ');
}

void ImportSummary::refuse(ImportProblem problem)
{
    if (++refusedCount <= kKeptRefusals)
        refused.append(std::move(problem));
}

LinkImport::LinkImport(LocalEdits &edits, const QStringList &files, QObject *parent)
    : QObject(parent)
    , m_edits(edits)
    , m_files(files)
{}

LinkImport::~LinkImport()
{
    m_cancelled = true;
    {
        const QMutexLocker lock(&m_mutex);
        m_room.wakeAll();
    }
    if (m_reader)
        m_reader->wait();
}

void LinkImport::start()
{
    if (m_started)
        return;
    m_started = true;
    for (const QString &file : m_files)
        m_bytesTotal += QFileInfo(file).size();
    m_reader.reset(QThread::create([this] { read(); }));
    m_reader->start();
}

void LinkImport::cancel()
{
    if (!isRunning() || m_cancelled.exchange(true))
        return;
    {
        const QMutexLocker lock(&m_mutex);
        m_room.wakeAll();
    }
    QMetaObject::invokeMethod(this, &LinkImport::finish, Qt::QueuedConnection);
}

void LinkImport::read()
{
    Batch batch;
    qint64 bytes = 0;
    qint64 toldAt = 0;
    const auto flush = [&] {
        batch.bytesRead = toldAt = bytes;
        send(std::exchange(batch, Batch()));
    };
    LinkFileReader::Hooks hooks;
    int file = 0;
    hooks.found = [&](FoundLink link) {
        batch.links.append(Found{std::move(link.text), file, link.line, std::move(link.refusal)});
        if (batch.links.size() >= kBatch)
            flush();
    };
    hooks.read = [&](qint64 size) {
        bytes += size;
        if (bytes - toldAt >= kProgressBytes)
            flush();
    };
    hooks.cancelled = [this] { return m_cancelled.load(); };
    for (; file < m_files.size() && !m_cancelled; ++file) {
        const QString why = LinkFileReader::read(m_files.at(file), hooks);
        if (!why.isEmpty())
            batch.unreadable.append(ImportProblem{m_files.at(file), 0, QString(), why});
    }
    batch.last = true;
    flush();
}

void LinkImport::send(Batch batch)
{
    bool wasEmpty = false;
    {
        const QMutexLocker lock(&m_mutex);
        while (m_queue.size() >= kBatchesAhead && !m_cancelled)
            m_room.wait(&m_mutex);
        if (m_cancelled)
            return;
        wasEmpty = m_queue.isEmpty();
        m_queue.append(std::move(batch));
    }
    if (wasEmpty)
        QMetaObject::invokeMethod(this, &LinkImport::takeBatches, Qt::QueuedConnection);
}

void LinkImport::takeBatches()
{
    QList<Batch> batches;
    {
        const QMutexLocker lock(&m_mutex);
        batches.swap(m_queue);
        m_room.wakeAll();
    }
    for (const Batch &batch : std::as_const(batches)) {
        if (m_cancelled || m_done)
            return;
        add(batch);
        if (batch.last)
            finish();
    }
}

void LinkImport::add(const Batch &batch)
{
    QStringList texts;
    QList<const Found *> taken; // the links handed to the library, in the order of texts
    texts.reserve(batch.links.size());
    taken.reserve(batch.links.size());
    for (const Found &found : batch.links) {
        if (!found.refusal.isEmpty()) {
            m_summary.refuse(ImportProblem{m_files.at(found.file), found.line, found.text, found.refusal});
            continue;
        }
        texts.append(found.text);
        taken.append(&found);
    }
    const QList<AddOutcome> outcomes = texts.isEmpty() ? QList<AddOutcome>() : m_edits.addBatch(texts);
    for (qsizetype i = 0; i < outcomes.size(); ++i) {
        const AddOutcome &outcome = outcomes.at(i);
        switch (outcome.kind) {
        case AddOutcome::Kind::added:
            ++m_summary.added;
            m_summary.addedIDs.append(outcome.youtubeID);
            break;
        case AddOutcome::Kind::alreadyThere:
            ++m_summary.alreadyThere;
            break;
        case AddOutcome::Kind::refused:
            m_summary.refuse(
                ImportProblem{m_files.at(taken.at(i)->file), taken.at(i)->line, outcome.text, outcome.reason});
            break;
        case AddOutcome::Kind::notAVideoLink: // the readers hand over video links only
            break;
        }
    }
    m_summary.unreadable.append(batch.unreadable);
    m_found += int(batch.links.size());
    Q_EMIT progress(batch.bytesRead, m_bytesTotal, m_found);
}

void LinkImport::finish()
{
    if (m_done)
        return;
    m_done = true;
    if (m_reader)
        m_reader->wait();
    if (m_summary.added > 0)
        m_edits.importDone();
    Q_EMIT finished(m_summary);
}

} // namespace clipvane
