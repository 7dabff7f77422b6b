#pragma once

#include <QPointer>
#include <QWebEngineView>
#include <functional>

namespace clipvane {

// The player's web view, able to take over the scroll wheel and the paging keys (Up, Down, J,
// K) while paging is on. Its input arrives at its focus proxy, a child widget the engine
// creates (and may replace), so the handlers watch that child.
class PagingWebView : public QWebEngineView
{
    Q_OBJECT

public:
    // Receives every wheel event's vertical delta and whether it is precise; the page does not
    // scroll while set.
    using OnWheel = std::function<void(double delta, bool precise)>;
    // Receives +1 (next) or -1 (previous) for a paging key, which the page then does not get.
    using OnKey = std::function<void(int direction)>;

    explicit PagingWebView(QWidget *parent = nullptr);

    void setOnWheel(OnWheel onWheel) { m_onWheel = std::move(onWheel); }
    void setOnKey(OnKey onKey) { m_onKey = std::move(onKey); }
    bool isPaging() const { return bool(m_onWheel); }

    bool eventFilter(QObject *watched, QEvent *event) override;

protected:
    bool event(QEvent *event) override;

private:
    void watchFocusProxy();

    OnWheel m_onWheel;
    OnKey m_onKey;
    QPointer<QWidget> m_watched;
};

} // namespace clipvane
