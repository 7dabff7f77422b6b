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

    // The most rows the service hands out in one page, whatever is asked for.
    static constexpr int kMaxRows = 1000;
    // The most bytes a compact page of limit rows can take, every text at the service's bounds.
    static qint64 maxJsonBytes(int limit);

    // None when the object has no keys, "videos" is missing or not an array of objects, or the
    // page breaks the service's bounds: more objects than the limit asked for, or a record
    // beyond APIVideo's bounds. A page is taken whole or not at all; why says what was wrong.
    static std::optional<VideoPage> fromJson(const QJsonObject &object, int limit = kMaxRows, QString *why = nullptr);
};

} // namespace clipvane
