#include "assistant/ChatModel.h"

#include "outbound/OutboundHttp.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtDebug>

namespace clipvane::service {

namespace {

constexpr char16_t kDefaultModel[] = u"gpt-4o-mini";
constexpr double kTemperature = 0.2;
constexpr qsizetype kMaxAnswerLength = 8000;

} // namespace

ChatModel::ChatModel(ChatModelConfig config)
    : m_config(std::move(config))
{
    m_config.base = m_config.base.trimmed();
    m_config.base = withoutTrailingSlashes(m_config.base);
    if (m_config.model.trimmed().isEmpty())
        m_config.model = QString::fromUtf16(kDefaultModel);
}

bool ChatModel::configured() const
{
    return !m_config.base.isEmpty();
}

std::optional<QString> ChatModel::complete(const QList<ChatMessage> &messages) const
{
    if (!configured())
        return std::nullopt;
    QJsonArray list;
    for (const ChatMessage &message : messages)
        list.append(QJsonObject{{u"role"_qs, message.role}, {u"content"_qs, message.content}});
    const QJsonObject body{{u"model"_qs, m_config.model.trimmed()},
                           {u"messages"_qs, list},
                           {u"temperature"_qs, kTemperature},
                           {u"stream"_qs, false}};

    HttpRequest request;
    request.method = "POST";
    request.url = m_config.base.toStdString() + "/chat/completions";
    request.body = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
    request.contentType = "application/json";
    request.headers = {{"Accept", "application/json"}};
    if (!m_config.apiKey.trimmed().isEmpty())
        request.headers.emplace_back("Authorization", "Bearer " + m_config.apiKey.trimmed().toStdString());
    request.timeout = m_config.timeout;
    const HttpResult result = httpSend(request);
    if (result.status != 200) {
        if (result.status != 0)
            qWarning("assistant: the chat model answered with status %d", result.status);
        else
            qWarning("assistant: the chat model could not be reached: %s", result.error.c_str());
        return std::nullopt;
    }
    const QJsonObject reply = QJsonDocument::fromJson(QByteArray::fromStdString(result.body)).object();
    const QJsonObject message = reply.value(u"choices").toArray().at(0).toObject().value(u"message").toObject();
    QString content = message.value(u"content").toString().trimmed();
    if (content.isEmpty()) {
        qWarning("assistant: the chat model gave no answer text");
        return std::nullopt;
    }
    if (content.size() > kMaxAnswerLength)
        content = content.left(kMaxAnswerLength - 1) + u'…';
    return content;
}

} // namespace clipvane::service
