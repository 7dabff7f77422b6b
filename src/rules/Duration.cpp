#include "Duration.h"

#include <QList>

#include <algorithm>
#include <limits>

namespace clipvane {

namespace {

// 128 bits hold every sum the 64-bit result can still be decided from.
__extension__ typedef __int128 Wide;

// Numbers are read up to this magnitude; longer ones count as this much.
constexpr Wide kNumberLimit = Wide(1) << 100;
// Once a running total passes this magnitude, pieces of at most kNumberLimit can no longer
// bring it back into the 64-bit range, nor change its sign.
constexpr Wide kTotalLimit = Wide(1) << 120;

Wide clamped(Wide value, Wide limit)
{
    return std::clamp(value, -limit, limit);
}

// A whole decimal number with an optional sign and nothing else.
std::optional<Wide> wholeNumber(QStringView text)
{
    bool negative = false;
    if (!text.isEmpty() && (text.front() == u'+' || text.front() == u'-')) {
        negative = text.front() == u'-';
        text = text.mid(1);
    }
    if (text.isEmpty())
        return std::nullopt;
    Wide value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = std::min(value * 10 + (c.unicode() - u'0'), kNumberLimit);
    }
    return negative ? -value : value;
}

} // namespace

std::optional<qint64> Duration::seconds(QStringView text)
{
    // Horner's rule from the first number to the last: total = total * 60 + number. The sum
    // is exact while it stays within kTotalLimit; beyond that its sign is settled, and the
    // result saturates at the 64-bit limit of that sign.
    Wide total = 0;
    bool any = false;
    for (const QStringView piece : text.split(u':')) {
        for (const QStringView part : piece.split(u';')) {
            if (const std::optional<Wide> number = wholeNumber(part.trimmed())) {
                total = clamped(total * 60 + *number, kTotalLimit);
                any = true;
            }
        }
    }
    if (!any)
        return std::nullopt;
    return qint64(
        std::clamp(total, Wide(std::numeric_limits<qint64>::min()), Wide(std::numeric_limits<qint64>::max())));
}

} // namespace clipvane
