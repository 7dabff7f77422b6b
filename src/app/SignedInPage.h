#pragma once

#include <QTimer>
#include <QWidget>

class QLabel;

namespace clipvane {

class SyncEngine;
class VideoStore;

// The signed-in side of the main window until the library view takes its place: how many
// videos the library holds and how the sync stands.
class SignedInPage : public QWidget
{
    Q_OBJECT

public:
    SignedInPage(SyncEngine &sync, VideoStore &store, QWidget *parent = nullptr);

    QString countText() const;

private:
    void refresh();

    SyncEngine &m_sync;
    VideoStore &m_store;
    QLabel *m_count;
    QLabel *m_status;
    QTimer m_refresh;
};

} // namespace clipvane
