#pragma once

#include <QStringView>
#include <optional>

namespace clipvane {

// What a video's length text is worth. The library stores a length as display text such as
// "4:05" or "1:02:03" (the service converts YouTube's ISO-8601 lengths to that text once, when
// it fetches them); the application's list and the service's assistant both read it here, so
// "longest" means the same on both sides.
class Duration
{
public:
    // Whole seconds: the pieces between ':' and ';', each trimmed and read as a whole decimal
    // number with an optional sign, weighted by powers of 60 from the right; pieces that are no
    // whole number are dropped and hold no place. None when no piece is a number (an empty or
    // wordy length is unknown). Saturates at the 64-bit limits.
    static std::optional<qint64> seconds(QStringView text);
};

} // namespace clipvane
