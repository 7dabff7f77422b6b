#include "WebPlayerPage.h"

#include <QWebEnginePage>

namespace clipvane {

WebPlayerPage::WebPlayerPage(QWebEnginePage &page, QObject *parent)
    : PlayerPage(parent)
    , m_page(&page)
{}

void WebPlayerPage::runScript(const QString &script)
{
    if (m_page)
        m_page->runJavaScript(script);
}

} // namespace clipvane
