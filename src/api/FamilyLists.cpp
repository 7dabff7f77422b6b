#include "FamilyLists.h"

#include <QJsonArray>

namespace clipvane {

namespace {

// All or nothing: one entry that is not a text discards the whole list.
QStringList textList(const QJsonValue &value)
{
    if (!value.isArray())
        return {};
    const QJsonArray array = value.toArray();
    QStringList texts;
    texts.reserve(array.size());
    for (const QJsonValue &entry : array) {
        if (!entry.isString())
            return {};
        texts.append(entry.toString());
    }
    return texts;
}

} // namespace

FamilyLists FamilyLists::fromJson(const QJsonObject &object)
{
    FamilyLists lists;
    lists.members = textList(object.value(QLatin1String("members")));
    lists.sharedWithMe = textList(object.value(QLatin1String("shared_with_me")));
    lists.declined = textList(object.value(QLatin1String("declined")));
    return lists;
}

} // namespace clipvane
