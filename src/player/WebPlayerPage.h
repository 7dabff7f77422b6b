#pragma once

#include "PlayerPage.h"

#include <QPointer>

class QWebEnginePage;

namespace clipvane {

// The player page of a web view, for the controller: a child of the view, so it goes away
// with it.
class WebPlayerPage : public PlayerPage
{
    Q_OBJECT

public:
    WebPlayerPage(QWebEnginePage &page, QObject *parent);

    void runScript(const QString &script) override;

private:
    QPointer<QWebEnginePage> m_page;
};

} // namespace clipvane
