// The change stream's reader of server-sent events, fed a stream cut in two at a place the
// first byte picks. It must never crash, read the same events however the bytes are cut, and
// keep every line and event within its bounds.
#include "EventStreamParser.h"

#include <cstddef>
#include <cstdint>

using namespace clipvane;

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

constexpr qsizetype kLine = 256;
constexpr qsizetype kEvent = 1024;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView stream(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1));
    const qsizetype cut = stream.isEmpty() ? 0 : qsizetype(data[0]) % (stream.size() + 1);

    EventStreamParser whole(kLine, kEvent);
    QList<EventStreamParser::Event> once;
    const bool wholeIntact = whole.feed(stream, once);

    EventStreamParser split(kLine, kEvent);
    QList<EventStreamParser::Event> twice;
    const bool splitIntact = split.feed(stream.first(cut), twice) && split.feed(stream.sliced(cut), twice);

    require(wholeIntact == splitIntact);
    if (wholeIntact) {
        require(once.size() == twice.size());
        for (qsizetype i = 0; i < once.size(); ++i)
            require(once.at(i).type == twice.at(i).type && once.at(i).data == twice.at(i).data);
    }
    for (const EventStreamParser::Event &event : once)
        require(event.data.size() <= kEvent && event.type.size() <= kLine);
    return 0;
}
