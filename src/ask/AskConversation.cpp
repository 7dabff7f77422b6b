#include "AskConversation.h"

#include <QCoreApplication>

namespace clipvane {

namespace {

bool isSpaceOrTab(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

} // namespace

AskConversation::AskConversation()
{
    m_messages.append(AskMessage::greeting());
}

bool AskConversation::canSend(const QString &draft, bool thinking)
{
    if (thinking)
        return false;
    return std::any_of(draft.cbegin(), draft.cend(), [](QChar c) { return !isSpaceOrTab(c); });
}

std::optional<AskConversation::Outgoing> AskConversation::begin(const QString &draft)
{
    const QString question = draft.trimmed();
    if (question.isEmpty() || m_thinking)
        return std::nullopt;
    m_messages.append(AskMessage::user(question));
    m_thinking = true;
    return Outgoing{question, history(m_messages)};
}

void AskConversation::finish(const ApiResult<AskAnswer> &result)
{
    if (result)
        m_messages.append(AskMessage::bot(result->answer, result->videos));
    else
        m_messages.append(AskMessage::error(errorText(result.error())));
    m_thinking = false;
}

QList<AskExchange> AskConversation::history(const QList<AskMessage> &messages)
{
    QList<AskExchange> pairs;
    std::optional<QString> pending;
    for (qsizetype i = 1; i < messages.size(); ++i) {
        const AskMessage &message = messages.at(i);
        switch (message.role) {
        case AskMessage::Role::user:
            pending = message.text;
            break;
        case AskMessage::Role::bot:
            if (pending) {
                pairs.append({*pending, message.text});
                pending.reset();
            }
            break;
        case AskMessage::Role::error:
            break;
        }
    }
    if (pairs.size() > kHistoryPairs)
        pairs = pairs.mid(pairs.size() - kHistoryPairs);
    return pairs;
}

QString AskConversation::errorText(const APIError &error)
{
    switch (error.kind()) {
    case APIError::Kind::http:
    case APIError::Kind::badResponse:
    case APIError::Kind::unauthorized:
        return error.description();
    case APIError::Kind::transport:
    case APIError::Kind::parse:
    case APIError::Kind::timedOut:
        break;
    }
    return QCoreApplication::translate("AskPanel", "Something went wrong \u2014 try again.");
}

} // namespace clipvane
