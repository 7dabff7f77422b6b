#pragma once

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
};

struct FamilyLists
{
    QStringList members;      // people the user shares the library with
    QStringList sharedWithMe; // owners whose libraries the user sees

    static FamilyLists fromJson(const QJsonObject &object);
};

} // namespace clipvane
