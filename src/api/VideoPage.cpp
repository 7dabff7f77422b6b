#include "VideoPage.h"

#include "JsonRead.h"

#include <QJsonArray>
#include <algorithm>

namespace clipvane {

namespace {

// A JSON Boolean, or the numbers 0 and 1; anything else leaves the assistant offered.
bool widgetFlag(const QJsonValue &value)
{
    if (value.isBool())
        return value.toBool();
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (number == 0.0)
            return false;
    }
    return true;
}

} // namespace

qint64 VideoPage::maxJsonBytes(int limit)
{
    // The page's own keys and a revision tag of any sane length.
    constexpr qint64 kFrameBytes = 4096;
    return kFrameBytes + qint64(std::max(limit, 0)) * APIVideo::kMaxJsonBytes;
}

std::optional<VideoPage> VideoPage::fromJson(const QJsonObject &object, int limit, QString *why)
{
    if (object.isEmpty())
        return std::nullopt;
    const QJsonValue list = object.value(QLatin1String("videos"));
    if (!list.isArray())
        return std::nullopt;
    const QJsonArray array = list.toArray();
    if (array.size() > limit) {
        if (why != nullptr)
            *why = QStringLiteral("a page held %1 videos where at most %2 were asked for").arg(array.size()).arg(limit);
        return std::nullopt;
    }

    VideoPage page;
    page.videos.reserve(array.size());
    for (const QJsonValue &entry : array) {
        // One malformed entry means the page cannot be trusted as a whole.
        if (!entry.isObject())
            return std::nullopt;
        ++page.objectCount;
        auto video = APIVideo::fromJson(entry.toObject());
        if (!video)
            continue;
        if (QString broken = video->boundBroken(); !broken.isEmpty()) {
            if (why != nullptr)
                *why = std::move(broken);
            return std::nullopt;
        }
        page.videos.append(std::move(*video));
    }

    page.now = JsonRead::toInt64(object.value(QLatin1String("now")));
    page.familyRev = JsonRead::text(object.value(QLatin1String("family_rev")), QStringLiteral("0"));
    page.total = JsonRead::toInt(object.value(QLatin1String("total")));
    page.widget = widgetFlag(object.value(QLatin1String("widget")));
    return page;
}

} // namespace clipvane
