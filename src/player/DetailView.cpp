#include "DetailView.h"

#include "AppSignals.h"
#include "AppState.h"
#include "CircleButton.h"
#include "DetailInfoPanel.h"
#include "Fonts.h"
#include "LoadingLayer.h"
#include "NoticeLayer.h"
#include "Palette.h"
#include "PillButton.h"
#include "PlayerController.h"
#include "PlayerFrame.h"
#include "PlayerView.h"
#include "SyncEngine.h"
#include "UpNextCard.h"
#include "UpNextCountdown.h"
#include "VideoStore.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QShortcut>
#include <QTimer>

namespace clipvane {

namespace {

// The measures that change with browse mode.
struct ModeMeasures
{
    qreal cornerRadius;
    qreal borderWidth;
    int horizontalPadding;
    int topPadding;
    int bottomPadding; // room for the information panel
};

ModeMeasures measuresFor(bool browsing)
{
    return browsing ? ModeMeasures{0, 0, 30, 22, DetailInfoPanel::kBrowseHeight}
                    : ModeMeasures{8, 1, 22, 22, DetailInfoPanel::kNormalHeight};
}

constexpr int kNoticeMargin = 22;
constexpr qreal kNoticeRadius = 8;
constexpr int kCornerPadding = 14;
constexpr int kPreviousTop = 12;
constexpr int kNextBottom = 98;
constexpr double kAspect = 16.0 / 9.0;
constexpr int kUpNextMargin = 16;

QRect fitted(const QRect &area)
{
    if (area.width() <= 0 || area.height() <= 0)
        return {area.topLeft(), QSize(0, 0)};
    int width = area.width();
    int height = int(std::lround(width / kAspect));
    if (height > area.height()) {
        height = area.height();
        width = int(std::lround(height * kAspect));
    }
    return {area.left() + (area.width() - width) / 2, area.top() + (area.height() - height) / 2, width, height};
}

QRegion roundedRegion(const QSize &size, qreal radius)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), radius, radius);
    return QRegion(path.toFillPolygon().toPolygon());
}

bool isWebAddress(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == u"https" || scheme == u"http") && !url.host().isEmpty();
}

} // namespace

DetailView::DetailView(AppState &state, const QUrl &playerPageURL, QWidget *parent)
    : QWidget(parent)
    , m_state(state)
    , m_controller(state.player())
    , m_player(new PlayerView(state.player(), playerPageURL, this))
    , m_playerFrame(new PlayerFrame(this))
    , m_loading(new LoadingLayer(this))
    , m_cannotEmbed(new NoticeLayer(Palette::black(0.96), 10, this))
    , m_empty(new NoticeLayer(Palette::grey(0.035), 10, this))
    , m_linkNotice(new NoticeLayer(Palette::card(), 10, this))
    , m_panel(new DetailInfoPanel(this))
    , m_previous(new CircleButton(QStringLiteral("chevron.up"), 14, 9, this))
    , m_next(new CircleButton(QStringLiteral("chevron.down"), 14, 9, this))
    , m_counter(new QLabel(this))
    , m_close(new CircleButton(QStringLiteral("xmark"), 13, 9, this))
    , m_upNext(new UpNextCard(state.upNext(), m_player))
{
    setAutoFillBackground(false);
    setAttribute(Qt::WA_Hover);
    setMinimumSize(320, 260);
    buildNotices();
    buildBrowseControls();

    connect(m_panel, &DetailInfoPanel::openOnYouTubeClicked, this, [this] {
        if (m_video)
            PlayerController::openOnYouTube(m_video->youtubeID, m_video->url);
    });
    connect(m_panel, &DetailInfoPanel::copyLinkClicked, this, &DetailView::copyLink);
    connect(m_panel, &DetailInfoPanel::shareClicked, this, &DetailView::share);
    connect(m_panel, &DetailInfoPanel::editClicked, this, [this] {
        if (m_video)
            m_state.setEditingID(m_video->youtubeID);
    });
    connect(m_panel, &DetailInfoPanel::toggleExcludedClicked, this, &DetailView::toggleExcluded);
    connect(m_panel, &DetailInfoPanel::deleteClicked, this, [this] {
        if (m_video)
            m_state.setPendingDeleteID(m_video->youtubeID);
    });

    connect(&m_controller, &PlayerController::isLoadingChanged, this, &DetailView::refresh);
    connect(&m_controller, &PlayerController::embedErrorChanged, this, &DetailView::refresh);
    connect(&m_state, &AppState::browsingChanged, this, &DetailView::refresh);
    connect(&AppSignals::instance(), &AppSignals::macTogglePlayback, this, &DetailView::togglePlayback);
    connect(&m_state, &AppState::fullScreenChanged, this, &DetailView::setFullScreen);
    connect(m_player, &PlayerView::pageFullScreenRequested, &m_state, &AppState::setFullScreen);
    // The card rides on the player, into full screen too.
    connect(&state.upNext(), &UpNextCountdown::changed, this, &DetailView::placeUpNext);
    m_player->installEventFilter(this);
    refresh();
}

DetailView::~DetailView()
{
    // The player may lie on the window: it comes home to be destroyed with the pane.
    setFullScreen(false);
    m_state.setFullScreen(false);
}

void DetailView::buildNotices()
{
    m_cannotEmbed->addSymbol(QStringLiteral("play.slash"), 26, Palette::muted());
    m_cannotEmbed->addText(tr("This video can't be played inside the app."), Fonts::font(FontFace::regular, 13),
                           Palette::grey(0.85));
    m_cannotEmbed->addText(tr("Some videos only allow playback on YouTube itself."),
                           Fonts::font(FontFace::regular, 11.5), Palette::muted());
    auto *open = new PillButton(QStringLiteral("play.rectangle.fill"), tr("Open in YouTube"),
                                PillButton::Style::prominent, m_cannotEmbed);
    connect(open, &QAbstractButton::clicked, this, [this] {
        if (m_video)
            PlayerController::openOnYouTube(m_video->youtubeID, m_video->url);
    });
    m_cannotEmbed->addWidget(open, 4);

    m_empty->setCornerRadius(kNoticeRadius);
    m_empty->addSymbol(QStringLiteral("film.stack"), 38, Palette::grey(0.26));
    m_empty->addText(tr("Pick a video from the list"), Fonts::font(FontFace::regular, 13), Palette::grey(0.4));

    m_linkNotice->setCornerRadius(kNoticeRadius);
    m_linkNotice->addSymbol(QStringLiteral("link"), 28, Palette::muted());
    m_linkNotice->addText(tr("This entry isn't a standard YouTube link."), Fonts::font(FontFace::regular, 13),
                          Palette::muted());
    auto *openLink = new PillButton(QString(), tr("Open link"), PillButton::Style::ordinary, m_linkNotice);
    openLink->setMetrics(Fonts::font(FontFace::medium, 13), 0, QMargins(12, 6, 12, 6), 6);
    openLink->setLook(Qt::white, Palette::card());
    connect(openLink, &QAbstractButton::clicked, this, &DetailView::openLink);
    m_linkNotice->addWidget(openLink);
}

void DetailView::buildBrowseControls()
{
    m_previous->setAccessibleName(tr("Previous video"));
    m_next->setAccessibleName(tr("Next video"));
    connect(m_previous, &QAbstractButton::clicked, this, [this] { page(-1); });
    connect(m_next, &QAbstractButton::clicked, this, [this] { page(+1); });

    m_counter->setFont(Fonts::font(FontFace::regular, 11));
    m_counter->setAccessibleDescription(tr("Position in the list"));
    m_counter->setStyleSheet(QStringLiteral("QLabel { color: rgba(255, 255, 255, 179); background: rgba(0, 0, 0, 115);"
                                            " border-radius: 5px; padding: 5px 9px; }"));

    for (QWidget *control : QList<QWidget *>{m_previous, m_next, m_counter}) {
        auto *effect = new QGraphicsOpacityEffect(control);
        effect->setOpacity(0);
        control->setGraphicsEffect(effect);
        auto *fade = new QPropertyAnimation(effect, "opacity", control);
        fade->setDuration(int(kHoverFade.count()));
        fade->setEasingCurve(QEasingCurve::OutCubic);
        m_hoverEffects << effect;
        m_hoverFades << fade;
    }

    m_close->setToolTip(tr("Back to the list (Esc)"));
    m_close->setAccessibleName(m_close->toolTip());
    connect(m_close, &QAbstractButton::clicked, this, [this] { m_state.setBrowsing(false); });
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), m_close);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, m_close, &QAbstractButton::click);
    // The assistant's panel lies above the player and takes Escape first: two shortcuts for one
    // key would leave Qt firing neither.
    escape->setEnabled(!m_state.showAsk());
    connect(&m_state, &AppState::showAskChanged, escape, [escape](bool shown) { escape->setEnabled(!shown); });
}

void DetailView::setVideo(const std::optional<Video> &video)
{
    m_video = video;
    refresh();
}

void DetailView::setPosition(Position position)
{
    m_position = position;
    refresh();
}

void DetailView::setOnPage(std::function<void(int)> onPage)
{
    m_onPage = std::move(onPage);
    refresh();
}

void DetailView::setLibrary(VideoStore *store, SyncEngine *sync)
{
    m_store = store;
    m_sync = sync;
}

void DetailView::togglePlayback()
{
    if (m_controller.isPlaying())
        m_controller.pause();
    else
        m_controller.play();
}

bool DetailView::isEmbeddable(const std::optional<Video> &video)
{
    return video && PlayerController::isPlayableID(video->youtubeID);
}

DetailView::Layer DetailView::layer() const
{
    if (!m_video)
        return Layer::empty;
    if (!isEmbeddable(m_video))
        return Layer::linkNotice;
    // The error lies above the loading layer when both apply.
    if (m_controller.hasEmbedError())
        return Layer::cannotEmbed;
    if (m_controller.isLoading())
        return Layer::loading;
    return Layer::player;
}

bool DetailView::browsing() const
{
    return m_state.browsing();
}

QString DetailView::positionText() const
{
    return tr("%1 of %2").arg(m_position.index + 1).arg(m_position.total);
}

QRect DetailView::playerRect() const
{
    const ModeMeasures m = measuresFor(browsing());
    return fitted(rect().adjusted(m.horizontalPadding, m.topPadding, -m.horizontalPadding, -m.bottomPadding));
}

QUrl DetailView::mailAddress(const QString &subject, const QUrl &link)
{
    return QUrl::fromEncoded("mailto:?subject=" + QUrl::toPercentEncoding(subject) +
                             "&body=" + QUrl::toPercentEncoding(link.toString(QUrl::FullyEncoded)));
}

QUrl DetailView::shareAddress(const Video &video)
{
    return PlayerController::videoAddress(video.youtubeID, video.url);
}

void DetailView::refresh()
{
    const bool browse = browsing();
    const Layer shown = layer();
    const bool embeddable = isEmbeddable(m_video);

    // Full screen is for a video the player shows; anything else returns the player to the pane.
    if (isFullScreen() && !embeddable)
        m_state.setFullScreen(false);
    // The web view stays alive when hidden: playback is never paused by the pane.
    m_player->setVisible(embeddable);
    m_playerFrame->setVisible(embeddable);
    m_loading->setVisible(embeddable && m_controller.isLoading());
    m_cannotEmbed->setVisible(shown == Layer::cannotEmbed);
    m_empty->setVisible(shown == Layer::empty);
    m_linkNotice->setVisible(shown == Layer::linkNotice);

    m_panel->setVisible(m_video.has_value());
    if (m_video)
        m_panel->setVideo(*m_video, browse);

    m_player->setOnPage(browse && m_onPage ? PlayerView::OnPage([this](int direction) { page(direction); })
                                           : PlayerView::OnPage());

    for (QWidget *control : QList<QWidget *>{m_previous, m_next, m_counter, m_close})
        control->setVisible(browse);
    m_previous->setEnabled(m_position.index >= 1);
    m_next->setEnabled(m_position.index < m_position.total - 1);
    m_counter->setText(positionText());
    relayout();
    update();
}

void DetailView::relayout()
{
    const bool browse = browsing();
    const ModeMeasures m = measuresFor(browse);
    const QRect playerArea = playerRect();
    if (m_fullScreenHost) {
        m_player->setGeometry(m_fullScreenHost->rect());
        m_player->clearMask();
        m_player->raise();
    } else {
        m_player->setGeometry(playerArea);
        if (m.cornerRadius > 0 && !playerArea.isEmpty())
            m_player->setMask(roundedRegion(playerArea.size(), m.cornerRadius));
        else
            m_player->clearMask();
    }
    m_playerFrame->setGeometry(playerArea);
    m_playerFrame->setShape(m.cornerRadius, m.borderWidth);
    m_loading->setGeometry(playerArea);
    m_cannotEmbed->setGeometry(playerArea);
    m_cannotEmbed->setCornerRadius(m.cornerRadius);

    const QRect noticeArea =
        rect().adjusted(kNoticeMargin, kNoticeMargin, -kNoticeMargin, -(kNoticeMargin + m.bottomPadding));
    m_empty->setGeometry(noticeArea);
    m_linkNotice->setGeometry(noticeArea);

    m_panel->setGeometry(0, height() - m.bottomPadding, width(), m.bottomPadding);

    const QSize chevron = m_previous->sizeHint();
    m_previous->setGeometry((width() - chevron.width()) / 2, kPreviousTop, chevron.width(), chevron.height());
    m_next->setGeometry((width() - chevron.width()) / 2, height() - kNextBottom - chevron.height(), chevron.width(),
                        chevron.height());
    m_counter->adjustSize();
    m_counter->move(kCornerPadding, kCornerPadding);
    const QSize close = m_close->sizeHint();
    m_close->setGeometry(width() - kCornerPadding - close.width(), kCornerPadding, close.width(), close.height());

    // Back to front: player, its frame, the covering layers, notices, panel, then the controls.
    m_playerFrame->raise();
    m_loading->raise();
    m_cannotEmbed->raise();
    m_empty->raise();
    m_linkNotice->raise();
    m_panel->raise();
    m_previous->raise();
    m_next->raise();
    m_counter->raise();
    m_close->raise();
}

void DetailView::setHovering(bool hovering)
{
    if (m_hovering == hovering)
        return;
    m_hovering = hovering;
    for (int i = 0; i < m_hoverFades.size(); ++i) {
        QPropertyAnimation *fade = m_hoverFades[i];
        fade->stop();
        fade->setStartValue(m_hoverEffects[i]->opacity());
        fade->setEndValue(hovering ? 1.0 : 0.0);
        fade->start();
    }
    Q_EMIT hoveringChanged(hovering);
}

void DetailView::copyLink()
{
    if (!m_video)
        return;
    QApplication::clipboard()->setText(m_video->url);
    m_copied = true;
    m_panel->setCopied(true);
    // Each press schedules its own reset; a later press does not postpone an earlier one.
    QTimer::singleShot(kCopiedFor, this, [this] {
        m_copied = false;
        m_panel->setCopied(false);
    });
}

void DetailView::share()
{
    if (!m_video)
        return;
    const QUrl address = shareAddress(*m_video);
    const QString title = m_video->title;
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("shareMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(tr("Email Link"), this,
                    [address, title] { QDesktopServices::openUrl(mailAddress(title, address)); });
    menu->addAction(tr("Copy Link"), this,
                    [address] { QApplication::clipboard()->setText(address.toString(QUrl::FullyEncoded)); });
    const QWidget *anchor = qobject_cast<QWidget *>(sender());
    menu->popup(anchor ? anchor->mapToGlobal(QPoint(0, anchor->height())) : QCursor::pos());
}

void DetailView::toggleExcluded()
{
    if (!m_video || !m_store || !m_sync)
        return;
    m_sync->history().setExcluded({m_video->youtubeID}, !m_video->excluded);
    if (const Video *record = m_store->find(m_video->youtubeID)) {
        m_video = *record;
        refresh();
    }
}

void DetailView::openLink()
{
    if (!m_video)
        return;
    const QUrl url(m_video->url, QUrl::StrictMode);
    if (isWebAddress(url))
        QDesktopServices::openUrl(url);
}

void DetailView::page(int direction)
{
    if (m_onPage)
        m_onPage(direction);
}

void DetailView::setFullScreen(bool fullScreen)
{
    if (fullScreen == isFullScreen())
        return;
    if (fullScreen) {
        if (layer() == Layer::empty || layer() == Layer::linkNotice) {
            m_state.setFullScreen(false);
            return;
        }
        // The player alone, over the toolbar, the list and the menus, in the window that already
        // holds the keys' commands: the shortcuts, Space and paging work as before.
        m_fullScreenHost = window();
        m_stateBeforeFullScreen = m_fullScreenHost->windowState();
        if (m_fullScreenHost != this)
            m_player->setParent(m_fullScreenHost);
        m_fullScreenHost->installEventFilter(this);
        m_fullScreenHost->setWindowState(m_stateBeforeFullScreen | Qt::WindowFullScreen);
    } else {
        m_fullScreenHost->removeEventFilter(this);
        if (m_fullScreenHost != this)
            m_player->setParent(this);
        m_fullScreenHost->setWindowState(m_stateBeforeFullScreen & ~Qt::WindowFullScreen);
        m_fullScreenHost = nullptr;
        m_player->leavePageFullScreen();
    }
    refresh();
}

void DetailView::placeUpNext()
{
    const QSize size = m_upNext->sizeHint();
    m_upNext->setGeometry(m_player->width() - kUpNextMargin - UpNextCard::kWidth,
                          m_player->height() - kUpNextMargin - size.height(), UpNextCard::kWidth, size.height());
}

bool DetailView::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Resize) {
        if (watched == m_player)
            placeUpNext();
        else if (watched == m_fullScreenHost)
            relayout();
    }
    return QWidget::eventFilter(watched, event);
}

void DetailView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}

void DetailView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    relayout();
}

void DetailView::enterEvent(QEnterEvent *event)
{
    setHovering(true);
    QWidget::enterEvent(event);
}

void DetailView::leaveEvent(QEvent *event)
{
    setHovering(false);
    QWidget::leaveEvent(event);
}

} // namespace clipvane
