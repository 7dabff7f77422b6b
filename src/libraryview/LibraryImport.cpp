#include "LibraryImport.h"

#include "EditHistory.h"
#include "LinkImport.h"
#include "StatusLine.h"
#include "SyncEngine.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

namespace clipvane {

LibraryImport::LibraryImport(SyncEngine &sync, StatusLine &status, QObject *parent)
    : QObject(parent)
    , m_sync(sync)
    , m_status(status)
{}

LibraryImport::~LibraryImport() = default;

bool LibraryImport::isRunning() const
{
    return m_running && m_running->isRunning();
}

void LibraryImport::chooseFiles(QWidget *parent)
{
    if (isRunning()) {
        start({});
        return;
    }
    // Opened, not run in a loop of its own: whatever asked for it (a menu, a screen reader's
    // action) gets its answer at once, and the window goes on painting behind the dialog.
    auto *dialog =
        new QFileDialog(parent, tr("Import Videos"), QStandardPaths::writableLocation(QStandardPaths::DownloadLocation),
                        tr("Exports, bookmarks and notes (*.csv *.json *.html *.htm *.txt *.md "
                           "*.eml);;All files (*)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    connect(dialog, &QFileDialog::filesSelected, this, [this](const QStringList &files) {
        if (!files.isEmpty())
            start(files);
    });
    dialog->open();
}

bool LibraryImport::start(const QStringList &files)
{
    if (isRunning()) {
        m_status.showNotice(tr("An import is already running."), true, false);
        return false;
    }
    if (files.isEmpty())
        return false;
    auto *import = new LinkImport(m_sync.edits(), files, this);
    m_running = import;
    connect(import, &LinkImport::progress, this, [this](qint64, qint64, int found) { progressed(found); });
    connect(import, &LinkImport::finished, this, &LibraryImport::finished);
    progressed(0);
    import->start();
    return true;
}

void LibraryImport::stop()
{
    if (!isRunning() || m_stopping)
        return;
    m_stopping = true;
    m_status.showNotice(tr("Stopping the import…"), false, true);
    m_running->cancel();
}

void LibraryImport::progressed(int videosFound)
{
    if (!m_stopping)
        m_status.showProgress(tr("Importing… %L1 videos found").arg(videosFound), tr("Stop Import"),
                              [this] { stop(); });
}

void LibraryImport::finished(const ImportSummary &summary)
{
    const bool nothingTaken = summary.added == 0 && summary.alreadyThere == 0;
    const QString text = finishedText(summary);
    m_status.showNotice(std::exchange(m_stopping, false) ? tr("Import stopped.") + u' ' + text : text,
                        nothingTaken || !summary.allFilesRead(), false);
    // Edit ▸ Undo takes the whole import back, not the last of its batches.
    m_sync.history().recordImport(summary.addedIDs);
    if (m_running)
        m_running->deleteLater();
}

QString LibraryImport::finishedText(const ImportSummary &summary)
{
    QStringList lines{summary.text()};
    for (qsizetype i = 0; i < std::min<qsizetype>(summary.refused.size(), kRefusalsShown); ++i) {
        const ImportProblem &problem = summary.refused.at(i);
        lines.append(
            tr("%1, line %2: %3").arg(QFileInfo(problem.file).fileName()).arg(problem.line).arg(problem.reason));
    }
    if (summary.refusedCount > kRefusalsShown)
        lines.append(tr("…and %L1 more.").arg(summary.refusedCount - kRefusalsShown));
    for (const ImportProblem &problem : summary.unreadable)
        lines.append(problem.reason);
    return lines.join(u'\n');
}

} // namespace clipvane
