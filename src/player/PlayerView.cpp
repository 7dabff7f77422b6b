#include "PlayerView.h"

#include "Bridge.h"
#include "PagingWebView.h"
#include "PlayerController.h"
#include "StartupTrace.h"
#include "WebPlayerPage.h"

#include <QFile>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineFullScreenRequest>
#include <QWebEnginePage>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>

namespace clipvane {

namespace {

// Defines the handler the player page posts to (window.webkit.messageHandlers.player) and
// forwards each message over the web channel. Messages posted before the channel is up are
// queued (a bounded number), so the page's "ready" is never lost. Each body is copied through
// JSON, so only plain data crosses.
constexpr char kForwarder[] = R"JS(
(function () {
  'use strict';
  var kMaxQueued = 64;
  var queued = [];
  var target = null;
  var attempts = 0;

  function flush() {
    while (target && queued.length) {
      target.postMessage(queued.shift());
    }
  }

  function post(body) {
    var copy;
    try {
      copy = body === undefined ? null : JSON.parse(JSON.stringify(body));
    } catch (e) {
      return;
    }
    queued.push(copy === undefined ? null : copy);
    if (queued.length > kMaxQueued) {
      queued.shift();
    }
    flush();
  }

  function connect() {
    if (typeof qt === 'undefined' || !qt.webChannelTransport || typeof QWebChannel === 'undefined') {
      attempts += 1;
      if (attempts < 200) {
        setTimeout(connect, 25);
      }
      return;
    }
    new QWebChannel(qt.webChannelTransport, function (channel) {
      target = channel.objects.player;
      flush();
    });
  }

  var handler = Object.freeze({ postMessage: post });
  var handlers = Object.freeze({ player: handler });
  window.webkit = Object.freeze({ messageHandlers: handlers });
  connect();
})();
)JS";

} // namespace

QString PlayerView::bridgeScript()
{
    QFile channelScript(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    QString script;
    if (channelScript.open(QIODevice::ReadOnly))
        script = QString::fromUtf8(channelScript.readAll());
    return script + QLatin1Char('\n') + QString::fromUtf8(kForwarder);
}

PlayerView::PlayerView(PlayerController &controller, const QUrl &pageURL, QWidget *parent)
    : QWidget(parent)
    , m_controller(controller)
    , m_pageURL(pageURL)
    , m_bridge(new Bridge(controller, this))
    , m_channel(new QWebChannel(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // Black around the video where the screen's shape is not the video's.
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);
    m_channel->registerObject(QStringLiteral("player"), m_bridge);
    // Starting the web engine costs more than everything else the window shows: it waits until
    // the window has been painted once. A player that is not on screen by then is made on the
    // first loop turn, so a pane used without a window still gets its page.
    QTimer::singleShot(0, this, [this] {
        if (!window()->isVisible())
            ensureView();
    });
}

void PlayerView::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    if (!m_view && !m_viewQueued) {
        m_viewQueued = true;
        QTimer::singleShot(0, this, &PlayerView::ensureView);
    }
}

PagingWebView &PlayerView::webView()
{
    ensureView();
    return *m_view;
}

void PlayerView::ensureView()
{
    if (m_view)
        return;
    StartupTrace::mark("player view");
    m_view = new PagingWebView(this);
    layout()->addWidget(m_view);

    QWebEnginePage *page = m_view->page();
    page->settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
    page->settings()->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, true);
    // The page only fills its own view; the window decides how large that view is.
    connect(page, &QWebEnginePage::fullScreenRequested, this, [this](QWebEngineFullScreenRequest request) {
        request.accept();
        m_pageFullScreen = request.toggleOn();
        Q_EMIT pageFullScreenRequested(request.toggleOn());
    });
    page->setBackgroundColor(Qt::transparent);

    page->setWebChannel(m_channel, QWebEngineScript::MainWorld);

    QWebEngineScript forwarder;
    forwarder.setName(QStringLiteral("clipvane-player-bridge"));
    forwarder.setInjectionPoint(QWebEngineScript::DocumentCreation);
    forwarder.setWorldId(QWebEngineScript::MainWorld);
    forwarder.setRunsOnSubFrames(false);
    forwarder.setSourceCode(bridgeScript());
    page->scripts().insert(forwarder);

    m_controller.attach(new WebPlayerPage(*page, m_view));

    // A page that never finishes loading is stopped; the controller's requests stay pending.
    m_loadTimeout.setSingleShot(true);
    connect(&m_loadTimeout, &QTimer::timeout, m_view, &QWebEngineView::stop);
    connect(m_view, &QWebEngineView::loadFinished, &m_loadTimeout, &QTimer::stop);
    m_loadTimeout.start(kPageLoadTimeout);
    m_view->load(m_pageURL);
    applyPaging();
}

PlayerView::~PlayerView()
{
    m_channel->deregisterObject(m_bridge);
    if (!m_view)
        return;
    // The page refers to the channel: the view goes first, the channel and the bridge after.
    m_view->page()->setWebChannel(nullptr);
    delete m_view;
}

void PlayerView::leavePageFullScreen()
{
    if (!m_pageFullScreen || !m_view)
        return;
    m_pageFullScreen = false;
    m_view->page()->triggerAction(QWebEnginePage::ExitFullScreen);
}

void PlayerView::setOnPage(OnPage onPage)
{
    m_onPage = std::move(onPage);
    applyPaging();
}

void PlayerView::applyPaging()
{
    if (!m_view)
        return;
    if (!m_onPage) {
        m_view->setOnWheel({});
        m_view->setOnKey({});
        return;
    }
    m_view->setOnWheel([this](double delta, bool precise) { m_paging.handleWheel(delta, precise, m_onPage); });
    m_view->setOnKey([this](int direction) { m_onPage(direction); });
}

} // namespace clipvane
