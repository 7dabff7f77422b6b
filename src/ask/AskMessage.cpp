#include "AskMessage.h"

#include <QCoreApplication>

namespace clipvane {

AskMessage AskMessage::user(QString question)
{
    AskMessage message;
    message.role = Role::user;
    message.text = std::move(question);
    return message;
}

AskMessage AskMessage::bot(QString answer, QList<AskVideo> videos)
{
    AskMessage message;
    message.role = Role::bot;
    message.text = std::move(answer);
    message.videos = std::move(videos);
    return message;
}

AskMessage AskMessage::error(QString message)
{
    AskMessage entry;
    entry.role = Role::error;
    entry.text = std::move(message);
    return entry;
}

AskMessage AskMessage::greeting()
{
    return bot(QCoreApplication::translate("AskPanel", "Ask me about your videos — e.g. “Find me a video "
                                                       "of me in Paris”, “what did I add this week?”"));
}

} // namespace clipvane
