#pragma once

#include "APIVideo.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace clipvane {

// One page of the video list.
struct VideoPage
{
    qint64 now = 0;
    QString familyRev = QStringLiteral("0");
    int total = 0;
    bool widget = true;
    QList<APIVideo> videos; // objects without a usable "youtube_id" are dropped
    int objectCount = 0;    // objects in "videos", dropped ones included: decides whether a page is full

    // None when the object has no keys or "videos" is missing or not an array of objects.
    static std::optional<VideoPage> fromJson(const QJsonObject &object);
};

} // namespace clipvane
