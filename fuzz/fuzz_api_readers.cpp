// Every reader of the service's replies, fed one JSON document. Readers must never crash,
// and what they return must keep the promises the rest of the application relies on.
#include "APIVideo.h"
#include "AskVideo.h"
#include "FamilyLists.h"
#include "JsonRead.h"
#include "VideoPage.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstddef>
#include <cstdint>
#include <limits>

using namespace clipvane;

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void readScalar(const QJsonValue &value)
{
    const qint64 wide = JsonRead::toInt64(value);
    const int narrow = JsonRead::toInt(value);
    // The narrow reading is the wide one whenever that fits; otherwise 0.
    const bool fits = wide >= std::numeric_limits<int>::min() && wide <= std::numeric_limits<int>::max();
    require(narrow == (fits ? int(wide) : 0));
    const bool flag = JsonRead::flag(value);
    require(flag == (value.isBool() ? value.toBool() : narrow == 1));
    const QString text = JsonRead::text(value, QStringLiteral("fallback"));
    require(value.isString() || text == QLatin1String("fallback"));
}

void readObject(const QJsonObject &object)
{
    for (auto it = object.constBegin(); it != object.constEnd(); ++it)
        readScalar(it.value());

    if (const auto video = APIVideo::fromJson(object))
        require(!video->youtubeID.isEmpty());

    if (const auto page = VideoPage::fromJson(object)) {
        require(page->videos.size() <= page->objectCount);
        for (const APIVideo &video : page->videos)
            require(!video.youtubeID.isEmpty());
    }

    if (const auto ask = AskVideo::fromJson(object))
        require(ask->year.isEmpty() || ask->year.toInt() >= 1);

    if (const auto answer = AskAnswer::fromJson(object)) {
        for (const AskVideo &video : answer->videos)
            require(video.year.isEmpty() || video.year.toInt() >= 1);
    }

    const FamilyLists family = FamilyLists::fromJson(object);
    (void)family;
}

void readValue(const QJsonValue &value, int depth)
{
    // Replies nest a record or a list of records inside the top object; two levels reach all.
    constexpr int kMaxDepth = 3;
    if (depth > kMaxDepth)
        return;
    readScalar(value);
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        readObject(object);
        for (auto it = object.constBegin(); it != object.constEnd(); ++it)
            readValue(it.value(), depth + 1);
    } else if (value.isArray()) {
        for (const QJsonValue &entry : value.toArray())
            readValue(entry, depth + 1);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const QJsonDocument document = QJsonDocument::fromJson(input);
    if (document.isObject())
        readValue(document.object(), 0);
    else if (document.isArray())
        readValue(document.array(), 0);
    return 0;
}
