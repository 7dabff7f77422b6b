#pragma once

#include <QUrl>
#include <QWidget>
#include <functional>
#include <qcorotask.h>

class QPushButton;

namespace clipvane {

class APIClient;

// The ways of adding videos besides the add sheet: the Telegram bot, and dragging or pasting a
// link in the window.
class AddingSettingsTab : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kCopiedMs = 1500;

    // api must outlive the tab.
    explicit AddingSettingsTab(APIClient &api, QWidget *parent = nullptr);

    // How an address is opened (the default browser; tests watch it instead).
    void setUrlOpener(std::function<void(const QUrl &)> opener) { m_openUrl = std::move(opener); }

    QPushButton *copyButton() const { return m_copy; }
    QPushButton *linkButton() const { return m_link; }
    // The text about the window, in this platform's words.
    static QString windowHint();
    static QString windowSectionTitle();

Q_SIGNALS:
    // "Link my account" finished, whether anything was opened or not.
    void linkSettled();

private:
    void copyBotLink();
    QCoro::Task<> linkAccount();

    APIClient &m_api;
    QPushButton *m_copy = nullptr;
    QPushButton *m_link = nullptr;
    std::function<void(const QUrl &)> m_openUrl;
};

} // namespace clipvane
