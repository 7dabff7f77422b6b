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
// name "player". The view is handed to the controller before the page is requested. With a
// paging action set, the wheel and the paging keys over the player page through the list.
class MacPlayer : public QWidget
{
    Q_OBJECT

public:
    using OnPage = std::function<void(int direction)>;
    static constexpr std::chrono::seconds kPageLoadTimeout{60};

    // pageURL: the player page on the service's web origin.
    MacPlayer(PlayerController &controller, const QUrl &pageURL, QWidget *parent = nullptr);
    // Takes the bridge off the channel first, so no message reaches the controller while the
    // page is torn down.
    ~MacPlayer() override;

    // An empty action turns paging off: the page gets the wheel and the keys again.
    void setOnPage(OnPage onPage);
    PagingWebView &webView() const { return *m_view; }

    // The script put into every document of the player page before the page's own scripts.
    static QString bridgeScript();

private:
    Bridge *m_bridge;
    QWebChannel *m_channel;
    PagingWebView *m_view;
    PagingCoordinator m_paging;
    OnPage m_onPage;
    QTimer m_loadTimeout;
};

} // namespace clipvane
