// Link extraction as the service does it, for links sent to the API and for chat messages:
// any text either yields no link or a link with an ID the library can key a video by.
#include "domain/VideoLink.h"

#include <cstddef>
#include <cstdint>

using namespace clipvane::service;

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

constexpr qsizetype kForeignIDLength = 12; // "x-" and ten hex digits

void check(const std::optional<VideoLink> &link)
{
    if (!link)
        return;
    require(!link->youtubeId.isEmpty());
    require(!link->url.isEmpty());
    require(!link->fallbackTitle().isEmpty());
    if (!link->youtube) {
        require(link->youtubeId.startsWith(u"x-"));
        require(link->youtubeId.size() == kForeignIDLength);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    check(VideoLink::fromText(text));
    check(VideoLink::fromMessage(text));
    return 0;
}
