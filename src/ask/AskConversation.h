#pragma once

#include "APIClient.h"
#include "AskMessage.h"

#include <QList>
#include <QString>
#include <optional>

namespace clipvane {

// The assistant conversation without its window: the messages, the one-question-at-a-time
// guard, the history sent with each question and the texts a failed question leaves behind.
// It lives only as long as the panel that shows it.
class AskConversation
{
public:
    // Earlier exchanges sent with a question: enough context for follow-ups, small enough to
    // keep the request short.
    static constexpr int kHistoryPairs = 5;

    struct Outgoing
    {
        QString question;
        QList<AskExchange> history;
    };

    // Starts with the greeting.
    AskConversation();

    const QList<AskMessage> &messages() const { return m_messages; }
    bool thinking() const { return m_thinking; }

    // Whether the send button is enabled: something besides spaces and tabs is typed and no
    // question is waiting for its answer.
    static bool canSend(const QString &draft, bool thinking);

    // The guards of a send. None when the draft holds only white space or a question is still
    // waiting; otherwise the question is appended, the conversation waits, and what to send is
    // returned (the history leaves out the question itself).
    std::optional<Outgoing> begin(const QString &draft);
    // Ends the wait with the answer or the error's message.
    void finish(const ApiResult<AskAnswer> &result);

    // Question-and-answer pairs of the conversation, oldest first, at most the last
    // kHistoryPairs. The first message (the greeting) is skipped; a failed question stays
    // pending until the next question replaces it.
    static QList<AskExchange> history(const QList<AskMessage> &messages);
    // What a failed question shows: the service's own answers by their description, anything
    // else (the network, a reply that is not JSON) one general sentence.
    static QString errorText(const APIError &error);

private:
    QList<AskMessage> m_messages;
    bool m_thinking = false;
};

} // namespace clipvane
