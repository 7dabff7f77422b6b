#pragma once

#include <QList>
#include <QString>

#include <chrono>
#include <optional>

namespace clipvane::service {

// An OpenAI-compatible chat endpoint; base empty = no model, built-in answers only.
struct ChatModelConfig
{
    QString base;
    QString apiKey;
    QString model;
    // Bounds one completion; the application waits at most a minute for the whole answer.
    std::chrono::milliseconds timeout{30000};
};

struct ChatMessage
{
    QString role; // "system", "user" or "assistant"
    QString content;
};

// One blocking call to <base>/chat/completions.
class ChatModel
{
public:
    explicit ChatModel(ChatModelConfig config);

    bool configured() const;
    // The model's reply text; none on any failure (unreachable, refused, malformed, empty).
    std::optional<QString> complete(const QList<ChatMessage> &messages) const;

private:
    ChatModelConfig m_config;
};

} // namespace clipvane::service
