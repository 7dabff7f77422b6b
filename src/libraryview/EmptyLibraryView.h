#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace clipvane {

class SyncEngine;

// Takes the list's place while the store holds no record at all: an invitation to add the
// first video, or, while the first sync runs, how far the download has come.
class EmptyLibraryView : public QWidget
{
    Q_OBJECT

public:
    explicit EmptyLibraryView(SyncEngine &sync, QWidget *parent = nullptr);

    // The key of "Add Video…" as this platform writes it ("Ctrl+N", "⌘N").
    static QString addShortcutText();
    QString messageText() const;
    bool showsProgress() const;

private:
    void refresh();

    SyncEngine &m_sync;
    QLabel *m_symbol;
    QProgressBar *m_spinner;
    QLabel *m_title;
    QLabel *m_message;
    QLabel *m_progress;
};

} // namespace clipvane
