#include "outbound/TelegramBot.h"

#include "outbound/OutboundHttp.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QtDebug>

#include <exception>

namespace clipvane::service {

namespace {

constexpr char16_t kDefaultApiBase[] = u"https://api.telegram.org";
constexpr char16_t kDefaultBotName[] = u"clipvane_bot";
constexpr auto kMaxRetryDelay = std::chrono::milliseconds(60000);
// Telegram answers a long poll after pollTimeoutSeconds; the connection gets this much longer.
constexpr int kPollGraceSeconds = 10;
constexpr int kSendTimeoutSeconds = 10;
constexpr int kConfirmTimeoutSeconds = 2;
constexpr qsizetype kMaxTitleInReply = 300;

const QRegularExpression &tokenPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9:_-]{1,200}$"));
    return pattern;
}

// Telegram lets a start parameter hold only these characters, at most 64 of them.
const QRegularExpression &codePattern()
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return pattern;
}

bool looksLikeLink(const QString &text)
{
    return text.contains(u"://") || text.contains(u"youtu", Qt::CaseInsensitive) ||
           text.contains(u"www.", Qt::CaseInsensitive);
}

QString valueOr(const QString &value, const char16_t *fallback)
{
    return value.trimmed().isEmpty() ? QString::fromUtf16(fallback) : value.trimmed();
}

} // namespace

TelegramBot::TelegramBot(TelegramConfig config, Callbacks callbacks)
    : m_config(std::move(config))
    , m_callbacks(std::move(callbacks))
{
    m_config.botToken = m_config.botToken.trimmed();
    m_config.apiBase = valueOr(m_config.apiBase, kDefaultApiBase);
    m_config.apiBase = withoutTrailingSlashes(m_config.apiBase);
    m_config.botName = valueOr(m_config.botName, kDefaultBotName);
    if (m_config.botName.startsWith(u'@'))
        m_config.botName.remove(0, 1);
    if (m_config.pollTimeoutSeconds < 0)
        m_config.pollTimeoutSeconds = 0;
}

TelegramBot::~TelegramBot()
{
    stop();
}

bool TelegramBot::enabled() const
{
    return !m_config.botToken.isEmpty();
}

void TelegramBot::start()
{
    if (!enabled() || m_thread.joinable())
        return;
    if (!tokenPattern().match(m_config.botToken).hasMatch()) {
        qWarning("telegram: the bot token holds characters a token never has; the bot stays off");
        return;
    }
    // Under the lock: a stop() from another thread may already be asking after the thread.
    std::lock_guard lock(m_mutex);
    if (m_stopping)
        return;
    m_thread = std::thread([this] { run(); });
}

void TelegramBot::stop()
{
    bool join = false;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        join = m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id();
    }
    m_cancel.cancel();
    m_wake.notify_all();
    if (join)
        m_thread.join();
}

QString TelegramBot::deepLink(const QString &code) const
{
    return u"https://t.me/"_qs + m_config.botName + u"?start="_qs + code;
}

bool TelegramBot::waitFor(std::chrono::milliseconds delay)
{
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_for(lock, delay, [this] { return m_stopping; });
}

std::string TelegramBot::methodUrl(const char *method) const
{
    return m_config.apiBase.toStdString() + "/bot" + m_config.botToken.toStdString() + "/" + method;
}

void TelegramBot::run()
{
    auto delay = m_config.retryDelay;
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                break;
        }
        if (pollOnce()) {
            delay = m_config.retryDelay;
            continue;
        }
        if (!waitFor(delay))
            break;
        delay = std::min(delay * 2, kMaxRetryDelay);
    }
    confirmProcessed();
}

bool TelegramBot::pollOnce()
{
    HttpRequest request;
    request.url = methodUrl("getUpdates") + "?offset=" + std::to_string(m_offset) +
                  "&timeout=" + std::to_string(m_config.pollTimeoutSeconds) +
                  "&allowed_updates=" + urlEncode("[\"message\"]");
    request.timeout = std::chrono::seconds(m_config.pollTimeoutSeconds + kPollGraceSeconds);
    request.cancel = &m_cancel;
    const HttpResult result = httpSend(request);
    // A poll that got an answer told Telegram everything below m_offset is done; one that was
    // cancelled or failed on the way may never have reached it.
    if (result.status != 0)
        m_unconfirmed = false;
    if (result.status != 200) {
        if (result.status != 0)
            qWarning("telegram: getUpdates failed with status %d", result.status);
        else if (result.error != "cancelled")
            qWarning("telegram: getUpdates failed: %s", result.error.c_str());
        return false;
    }
    const QJsonObject reply = QJsonDocument::fromJson(QByteArray::fromStdString(result.body)).object();
    if (!reply.value(u"ok").toBool() || !reply.value(u"result").isArray()) {
        qWarning("telegram: getUpdates gave an unexpected reply");
        return false;
    }
    for (const QJsonValue &value : reply.value(u"result").toArray()) {
        const QJsonObject update = value.toObject();
        const QJsonValue idValue = update.value(u"update_id");
        if (!idValue.isDouble())
            continue;
        const qint64 updateId = idValue.toInteger();
        // Telegram never repeats a confirmed update; a fake or a proxy might.
        if (updateId < m_offset)
            continue;
        m_offset = updateId + 1;
        m_unconfirmed = true;
        handleUpdate(update);
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            break;
    }
    return true;
}

// Without this, Telegram would hand the last batch over again after a restart.
void TelegramBot::confirmProcessed()
{
    if (!m_unconfirmed)
        return;
    HttpRequest request;
    request.url = methodUrl("getUpdates") + "?offset=" + std::to_string(m_offset) + "&timeout=0&limit=1";
    request.timeout = std::chrono::seconds(kConfirmTimeoutSeconds);
    const HttpResult result = httpSend(request);
    if (result.status != 200)
        qWarning("telegram: could not confirm the last updates (status %d, %s)", result.status, result.error.c_str());
    m_unconfirmed = false;
}

void TelegramBot::handleUpdate(const QJsonObject &update)
{
    const QJsonObject message = update.value(u"message").toObject();
    const QJsonValue chatIdValue = message.value(u"chat").toObject().value(u"id");
    if (!chatIdValue.isDouble())
        return;
    const qint64 chatId = chatIdValue.toInteger();
    QString reply;
    try {
        reply = replyTo(chatId, message.value(u"text").toString().trimmed());
    } catch (const std::exception &error) {
        // One bad update must not stop the bot nor be retried for ever.
        qWarning("telegram: handling a message failed: %s", error.what());
        return;
    }
    if (!reply.isEmpty())
        sendMessage(chatId, reply);
}

QString TelegramBot::replyTo(qint64 chatId, const QString &text)
{
    if (text.startsWith(u'/')) {
        const QStringList words = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        const QString command = words.first().section(u'@', 0, 0);
        if (command != u"/start")
            return QString::fromUtf16(TelegramTexts::welcome);
        if (words.size() < 2)
            return QString::fromUtf16(TelegramTexts::welcome);
        const QString code = words.at(1);
        const bool linked =
            codePattern().match(code).hasMatch() && m_callbacks.linkChat && m_callbacks.linkChat(code, chatId);
        return QString::fromUtf16(linked ? TelegramTexts::linked : TelegramTexts::badCode);
    }
    if (text.isEmpty() || !looksLikeLink(text))
        return QString::fromUtf16(TelegramTexts::hint);
    const std::optional<QString> title = m_callbacks.addLink ? m_callbacks.addLink(chatId, text) : std::nullopt;
    if (!title)
        return QString::fromUtf16(TelegramTexts::notAdded);
    QString shown = title->simplified();
    if (shown.size() > kMaxTitleInReply)
        shown = shown.left(kMaxTitleInReply - 1) + u'…';
    return QString::fromUtf16(TelegramTexts::addedPrefix) + shown;
}

void TelegramBot::sendMessage(qint64 chatId, const QString &text)
{
    QJsonObject body;
    body.insert(u"chat_id", chatId);
    body.insert(u"text", text);
    body.insert(u"disable_web_page_preview", true);
    HttpRequest request;
    request.method = "POST";
    request.url = methodUrl("sendMessage");
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
    request.contentType = "application/json";
    request.timeout = std::chrono::seconds(kSendTimeoutSeconds);
    request.cancel = &m_cancel;
    const HttpResult result = httpSend(request);
    if (result.status != 0 && result.status != 200)
        qWarning("telegram: sendMessage failed with status %d", result.status);
    else if (result.status == 0 && result.error != "cancelled")
        qWarning("telegram: sendMessage failed: %s", result.error.c_str());
}

} // namespace clipvane::service
