#pragma once

#include <QJsonObject>
#include <QStringList>

namespace clipvane {

// Who shares with whom: the two lists of the family reply.
struct FamilyLists
{
    QStringList members;      // people the user shares the library with
    QStringList sharedWithMe; // owners whose libraries the user sees
    QStringList declined{};   // owners whose shares the user declined; only when asked for

    // Never fails: a missing list, or one holding anything but texts, reads as empty.
    static FamilyLists fromJson(const QJsonObject &object);

    bool operator==(const FamilyLists &) const = default;
};

} // namespace clipvane
