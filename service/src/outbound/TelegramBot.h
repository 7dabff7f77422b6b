#pragma once

#include "outbound/OutboundHttp.h"

#include <QJsonObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace clipvane::service {

// token empty = no bot
struct TelegramConfig
{
    QString botToken;
    QString apiBase;
    QString botName;
    // How long one getUpdates call may wait for news at Telegram.
    int pollTimeoutSeconds = 25;
    // First pause after a failed poll; it doubles on each further failure, up to a minute.
    std::chrono::milliseconds retryDelay{1000};
};

// Telegram's replies to the user.
namespace TelegramTexts {
inline constexpr char16_t linked[] = u"Linked! Send me a YouTube link to add it to your library.";
inline constexpr char16_t badCode[] = u"That link has expired or was already used. In Clipvane, open Settings → "
                                      u"Adding videos and press “Link my account” to get a new one.";
inline constexpr char16_t welcome[] = u"Hi! I add YouTube links to your Clipvane library. To link this chat, open "
                                      u"Settings → Adding videos in Clipvane and press “Link my account”.";
inline constexpr char16_t notAdded[] = u"I couldn't add that link. If this chat isn't linked yet, open Settings → "
                                       u"Adding videos in Clipvane and press “Link my account”.";
inline constexpr char16_t hint[] = u"Send me a YouTube link to add it to your library.";
inline constexpr char16_t addedPrefix[] = u"Added: ";
} // namespace TelegramTexts

class TelegramBot
{
public:
    struct Callbacks
    {
        // "/start CODE": true when the code was valid, unexpired and unused (then it is consumed).
        std::function<bool(const QString &code, qint64 chatId)> linkChat;
        // A link from a linked chat: the added video's title, or none when the chat is not
        // linked or the text holds no link the service accepts.
        std::function<std::optional<QString>(qint64 chatId, const QString &text)> addLink;
    };

    TelegramBot(TelegramConfig config, Callbacks callbacks);
    ~TelegramBot(); // stops and joins the worker
    TelegramBot(const TelegramBot &) = delete;
    TelegramBot &operator=(const TelegramBot &) = delete;

    void start();                                // long-polls getUpdates in its own thread when a token is set
    void stop();                                 // interrupts a running poll; a stopped bot does not start again
    QString deepLink(const QString &code) const; // https://t.me/<botName>?start=<code>

    bool enabled() const;

private:
    void run();
    bool pollOnce();
    void confirmProcessed();
    void handleUpdate(const QJsonObject &update);
    QString replyTo(qint64 chatId, const QString &text);
    void sendMessage(qint64 chatId, const QString &text);
    bool waitFor(std::chrono::milliseconds delay);
    std::string methodUrl(const char *method) const;

    TelegramConfig m_config;
    Callbacks m_callbacks;
    HttpCancel m_cancel;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;    // guarded by m_mutex
    qint64 m_offset = 0;        // worker thread only
    bool m_unconfirmed = false; // worker thread only
    std::thread m_thread;       // last: it uses every member above
};

} // namespace clipvane::service
