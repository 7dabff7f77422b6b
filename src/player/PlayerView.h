#pragma once

#include "PagingCoordinator.h"

#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <chrono>
#include <functional>

class QWebChannel;

namespace clipvane {

class Bridge;
class PagingWebView;
class PlayerController;

// Puts the player page on screen: a web view that may play without a click, with a
// transparent background, whose page reaches the controller through the Bridge under the
// name "player". The view is made once the player has been painted (or is asked for), and is
// handed to the controller before the page is requested; loads asked for earlier wait. With a
// paging action set, the wheel and the paging keys over the player page through the list.
class PlayerView : public QWidget
{
    Q_OBJECT

public:
    using OnPage = std::function<void(int direction)>;
    static constexpr std::chrono::seconds kPageLoadTimeout{60};

    // pageURL: the player page on the service's web origin.
    PlayerView(PlayerController &controller, const QUrl &pageURL, QWidget *parent = nullptr);
    // Takes the bridge off the channel first, so no message reaches the controller while the
    // page is torn down.
    ~PlayerView() override;

    // An empty action turns paging off: the page gets the wheel and the keys again.
    void setOnPage(OnPage onPage);
    // Makes the view now if it was not made yet.
    PagingWebView &webView();

    // The script put into every document of the player page before the page's own scripts.
    static QString bridgeScript();

    // Takes the page out of its own full screen (the embed's button put it there), if it is.
    void leavePageFullScreen();
    bool isPageFullScreen() const { return m_pageFullScreen; }

Q_SIGNALS:
    // The page asked to fill the screen (the embed's full-screen button) or to stop; granted.
    void pageFullScreenRequested(bool fullScreen);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void ensureView();
    void applyPaging();

    PlayerController &m_controller;
    QUrl m_pageURL;
    Bridge *m_bridge;
    QWebChannel *m_channel;
    PagingWebView *m_view = nullptr;
    bool m_viewQueued = false;
    PagingCoordinator m_paging;
    OnPage m_onPage;
    QTimer m_loadTimeout;
    bool m_pageFullScreen = false;
};

} // namespace clipvane
