#pragma once

#include "assistant/ChatModel.h"

#include <QList>
#include <QString>
#include <QtGlobal>

namespace clipvane::service {

struct LibraryVideo
{
    qint64 id = 0;
    QString youtubeID, title, url, uploadDate, duration, ownerEmail;
    qint64 createdAt = 0;
};

struct AssistantTurn
{
    QString question, answer;
};

struct AssistantReply
{
    QString answer;
    QList<LibraryVideo> videos;
};

class Assistant
{
public:
    explicit Assistant(ChatModelConfig config);

    // Blocking; thread-safe. nowMs: the server clock (tests pass a fixed one).
    AssistantReply answer(const QString &question, const QList<AssistantTurn> &history,
                          const QList<LibraryVideo> &library, qint64 nowMs) const;

private:
    ChatModel m_model;
};

} // namespace clipvane::service
