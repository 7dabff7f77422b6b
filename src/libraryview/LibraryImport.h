#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>

class QWidget;

namespace clipvane {

class LinkImport;
class StatusLine;
class SyncEngine;
struct ImportSummary;

// The window's import of files of links, chosen in File ▸ Import… or dropped onto the list:
// one at a time, its progress and then what came of it in the status line.
class LibraryImport : public QObject
{
    Q_OBJECT

public:
    // How many refusals the status line names by file and line.
    static constexpr int kRefusalsShown = 3;

    LibraryImport(SyncEngine &sync, StatusLine &status, QObject *parent = nullptr);
    ~LibraryImport() override;

    // Asks for the files in a file dialog over parent, then imports them.
    void chooseFiles(QWidget *parent);
    // False (and the status line says why) while another import runs.
    bool start(const QStringList &files);
    // Stops the running import; what it added stays, and Edit ▸ Undo takes it back.
    void stop();
    bool isRunning() const;

    // What the status line shows once an import is done.
    static QString finishedText(const ImportSummary &summary);

private:
    void progressed(int videosFound);
    void finished(const ImportSummary &summary);

    SyncEngine &m_sync;
    StatusLine &m_status;
    QPointer<LinkImport> m_running;
    bool m_stopping = false;
};

} // namespace clipvane
