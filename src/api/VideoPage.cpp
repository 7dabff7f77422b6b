#include "VideoPage.h"

#include "JsonRead.h"

#include <QJsonArray>

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

std::optional<VideoPage> VideoPage::fromJson(const QJsonObject &object)
{
    if (object.isEmpty())
        return std::nullopt;
    const QJsonValue list = object.value(QLatin1String("videos"));
    if (!list.isArray())
        return std::nullopt;
    const QJsonArray array = list.toArray();

    VideoPage page;
    page.videos.reserve(array.size());
    for (const QJsonValue &entry : array) {
        // One malformed entry means the page cannot be trusted as a whole.
        if (!entry.isObject())
            return std::nullopt;
        ++page.objectCount;
        if (auto video = APIVideo::fromJson(entry.toObject()))
            page.videos.append(std::move(*video));
    }

    page.now = JsonRead::toInt64(object.value(QLatin1String("now")));
    page.familyRev = JsonRead::text(object.value(QLatin1String("family_rev")), QStringLiteral("0"));
    page.total = JsonRead::toInt(object.value(QLatin1String("total")));
    page.widget = widgetFlag(object.value(QLatin1String("widget")));
    return page;
}

} // namespace clipvane
