#pragma once

#include "FamilyLists.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <optional>

namespace clipvane {

// One video named in an assistant's answer.
struct AskVideo
{
    QString title;
    QString url;
    QString youtubeID;
    QString duration;
    QString year; // "" unless the reply's year reads as 1 or more

    // None when "title" or "url" is missing or not a string.
    static std::optional<AskVideo> fromJson(const QJsonObject &object);

    bool operator==(const AskVideo &) const = default;
};

struct AskAnswer
{
    QString answer;
    QList<AskVideo> videos;

    // None when "answer" is missing or not a string. "videos" is read only when it is an
    // array of objects; videos that lack a title or url are left out.
    static std::optional<AskAnswer> fromJson(const QJsonObject &object);

    bool operator==(const AskAnswer &) const = default;
};

} // namespace clipvane
