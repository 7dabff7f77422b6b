#pragma once

#include <QUrl>
#include <QWidget>
#include <functional>
#include <qcorotask.h>

class QCheckBox;
class QPushButton;
class QSettings;

namespace clipvane {

class APIClient;

// The ways of adding videos besides the add sheet: the Telegram bot, and dragging or pasting a
// link in the window; then how what was added plays (whether the next video plays by itself when
// one ends, written to the standard settings at each change and read when a video ends).
class AddingSettingsTab : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kCopiedMs = 1500;

    // api and standard (the standard settings) must outlive the tab.
    AddingSettingsTab(APIClient &api, QSettings &standard, QWidget *parent = nullptr);

    // How an address is opened (the default browser; tests watch it instead).
    void setUrlOpener(std::function<void(const QUrl &)> opener) { m_openUrl = std::move(opener); }

    QPushButton *copyButton() const { return m_copy; }
    QPushButton *linkButton() const { return m_link; }
    QCheckBox *playNextBox() const { return m_playNext; }
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
    QCheckBox *m_playNext = nullptr;
    std::function<void(const QUrl &)> m_openUrl;
};

} // namespace clipvane
