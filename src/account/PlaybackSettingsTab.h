#pragma once

#include <QWidget>

class QCheckBox;
class QSettings;

namespace clipvane {

// How the player behaves: whether the next video of the list plays by itself when one ends.
// Written to the standard settings at each change; the window reads it when a video ends.
class PlaybackSettingsTab : public QWidget
{
    Q_OBJECT

public:
    // standard: the standard settings, which must outlive the tab.
    explicit PlaybackSettingsTab(QSettings &standard, QWidget *parent = nullptr);

    QCheckBox *playNextBox() const { return m_playNext; }

private:
    QSettings &m_standard;
    QCheckBox *m_playNext;
};

} // namespace clipvane
