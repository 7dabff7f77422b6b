#pragma once

#include "LocalEdits.h"

#include <QWidget>
#include <functional>

class QLabel;
class QPushButton;
class QTimer;

namespace clipvane {

class SyncEngine;

// The foot of the library column: how many videos are listed of how many, and how the sync
// stands (or its last error). A service address that was configured but refused is named here
// too, so the user sees why the library talks to another service.
class StatusLine : public QWidget
{
    Q_OBJECT

public:
    StatusLine(SyncEngine &sync, QWidget *parent = nullptr);

    void setCounts(qsizetype visible, qsizetype count);
    QString countText() const;
    // A notice under the counts: in red when it tells of a problem; a lasting one (an import's
    // progress) stays until the next notice, any other goes after a while.
    void showNotice(const QString &text, bool isError = false, bool lasting = false);
    // A lasting notice of work under way, with a button that stops it (until the next notice).
    void showProgress(const QString &text, const QString &stopTitle, std::function<void()> stop);
    QString noticeText() const;
    QPushButton &stopButton() { return *m_stop; }

private:
    void updateSync();
    // What came of the last add, from any door: the sheet, a drop, a paste, an opened link.
    void showAdded(const QList<AddOutcome> &outcomes);

    SyncEngine &m_sync;
    QLabel *m_count;
    QLabel *m_status;
    QLabel *m_notice;
    QLabel *m_refusal;
    QPushButton *m_stop;
    std::function<void()> m_stopWork;
    QTimer *m_noticeTimer;
};

} // namespace clipvane
