// The readers of metadata replies from outside: the ISO-8601 length YouTube sends, and the
// whole "videos" and oEmbed replies. Lengths come back as "M:SS" or "H:MM:SS" or not at all.
#include "outbound/OEmbedProvider.h"
#include "outbound/YouTubeDataProvider.h"

#include <QRegularExpression>
#include <cstddef>
#include <cstdint>

using namespace clipvane::service;

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

bool isClock(const QString &text)
{
    static const QRegularExpression clock(QStringLiteral("^\\d+:[0-5]\\d(?::[0-5]\\d)?$"));
    return clock.match(text).hasMatch();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    if (const auto clock = YouTubeDataProvider::clockFromIsoDuration(QString::fromUtf8(bytes)))
        require(isClock(*clock));
    if (const auto metadata = YouTubeDataProvider::parseReply(bytes))
        require(metadata->duration.isEmpty() || isClock(metadata->duration));
    // A reply to a request for several videos speaks only for those asked about.
    const QList<QString> asked{QStringLiteral("dQw4w9WgXcQ"), QStringLiteral("a")};
    for (const QString &id : YouTubeDataProvider::parseItems(bytes, asked).keys())
        require(asked.contains(id));
    (void)OEmbedProvider::parseReply(bytes);
    return 0;
}
