#pragma once

#include "AskVideo.h"

#include <QList>
#include <QString>
#include <QUuid>

namespace clipvane {

// One entry of the assistant conversation: a question, an answer with the videos it names, or
// the message of a question that failed.
struct AskMessage
{
    enum class Role { user, bot, error };

    QUuid id = QUuid::createUuid();
    Role role = Role::user;
    QString text;
    QList<AskVideo> videos; // only for bot answers

    static AskMessage user(QString question);
    static AskMessage bot(QString answer, QList<AskVideo> videos = {});
    static AskMessage error(QString message);
    // The panel's opening line; it is shown, never sent.
    static AskMessage greeting();
};

} // namespace clipvane
