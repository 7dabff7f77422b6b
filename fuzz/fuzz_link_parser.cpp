// Feeds arbitrary bytes to the link parser, read once as UTF-8 and once as raw UTF-16 (which
// may hold unpaired surrogates), and checks what any found ID must satisfy.
#include "LinkParser.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr qsizetype kMinimumIDLength = 6;

void check(QStringView text)
{
    const std::optional<QString> id = clipvane::youtubeID(text);
    if (!id)
        return;
    // An ID is a run of at least six characters that the text itself contains, free of the
    // characters that end a run, and the short link built from it parses back to it.
    if (id->size() < kMinimumIDLength)
        std::abort();
    for (const QChar c : *id) {
        if (c == u'/' || c == u'?' || c == u'&' || c == u'#' || c == u'=' || c.isSpace())
            std::abort();
    }
    if (!text.contains(*id))
        std::abort();
    if (clipvane::youtubeID(clipvane::shortLink(*id)) != id)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check(QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size)));

    QString utf16(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(utf16.data(), data, size / 2 * 2);
    check(utf16);
    return 0;
}
