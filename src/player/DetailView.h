#pragma once

#include "Video.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <optional>

class QGraphicsOpacityEffect;
class QLabel;
class QPropertyAnimation;
class QPushButton;

namespace clipvane {

class CircleButton;
class DetailInfoPanel;
class LoadingLayer;
class AppState;
class PlayerView;
class NoticeLayer;
class PlayerFrame;
class PlayerController;
class SyncEngine;
class UpNextCard;
class VideoStore;

// The detail side of the main window: the selected video in the embedded player (or a notice
// where it cannot be embedded), and under it the title, a line of facts and the actions. In
// browse mode the player goes edge to edge with more room, the panel lies on a gradient over
// the bottom, and hovering shows the position and previous/next buttons; the wheel and the
// paging keys over the player page through the list. The pane never loads a video itself:
// the library does that through the controller; the pane shows what the controller reports.
class DetailView : public QWidget
{
    Q_OBJECT

public:
    // What the player area shows, decided from the video and the controller.
    enum class Layer { empty, linkNotice, player, loading, cannotEmbed };
    Q_ENUM(Layer)

    struct Position
    {
        int index = 0; // among the playable records of the visible list
        int total = 0;
    };

    static constexpr std::chrono::milliseconds kCopiedFor{1500};
    static constexpr std::chrono::milliseconds kHoverFade{180};

    // state: the window state (browse mode, editing and deleting IDs) and its player.
    // playerPageURL: the player page on the service's web origin.
    DetailView(AppState &state, const QUrl &playerPageURL, QWidget *parent = nullptr);
    ~DetailView() override;

    // The selected record (a copy); none shows the empty state.
    void setVideo(const std::optional<Video> &video);
    std::optional<Video> video() const { return m_video; }
    void setPosition(Position position);
    // Moves the selection by +1 or -1; used by the chevrons and, in browse mode, by the wheel
    // and keys over the player.
    void setOnPage(std::function<void(int direction)> onPage);
    // Where the exclude action is applied; without them the action does nothing.
    void setLibrary(VideoStore *store, SyncEngine *sync);

    void togglePlayback();

    // What shows, for tests and the window's accessibility.
    Layer layer() const;
    bool browsing() const;
    bool hovering() const { return m_hovering; }
    bool copied() const { return m_copied; }
    QString positionText() const;
    QRect playerRect() const;
    DetailInfoPanel &infoPanel() const { return *m_panel; }
    PlayerView &player() const { return *m_player; }
    UpNextCard &upNextCard() const { return *m_upNext; }
    // The player lies over the whole window, which fills the screen.
    bool isFullScreen() const { return m_fullScreenHost != nullptr; }

    // The address the share menu hands on: the stored link, or the short link.
    static QUrl shareAddress(const Video &video);
    // A new e-mail with the title as subject and the link as body.
    static QUrl mailAddress(const QString &subject, const QUrl &link);
    static bool isEmbeddable(const std::optional<Video> &video);

Q_SIGNALS:
    void hoveringChanged(bool hovering);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void buildNotices();
    void buildBrowseControls();
    void refresh();
    void relayout();
    void setHovering(bool hovering);
    void copyLink();
    void share();
    void toggleExcluded();
    void openLink();
    void page(int direction);
    void setFullScreen(bool fullScreen);
    void placeUpNext();

    AppState &m_state;
    PlayerController &m_controller;
    std::optional<Video> m_video;
    Position m_position;
    std::function<void(int)> m_onPage;
    QPointer<VideoStore> m_store;
    QPointer<SyncEngine> m_sync;
    bool m_copied = false;
    bool m_hovering = false;

    PlayerView *m_player;
    PlayerFrame *m_playerFrame;
    LoadingLayer *m_loading;
    NoticeLayer *m_cannotEmbed;
    NoticeLayer *m_empty;
    NoticeLayer *m_linkNotice;
    DetailInfoPanel *m_panel;
    CircleButton *m_previous;
    CircleButton *m_next;
    QLabel *m_counter;
    CircleButton *m_close;
    QList<QGraphicsOpacityEffect *> m_hoverEffects;
    QList<QPropertyAnimation *> m_hoverFades;
    UpNextCard *m_upNext;
    QPointer<QWidget> m_fullScreenHost; // the window the player covers while full screen
    Qt::WindowStates m_stateBeforeFullScreen;
};

} // namespace clipvane
