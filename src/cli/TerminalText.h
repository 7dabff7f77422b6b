#pragma once

#include <QString>

namespace clipvane {

// Text from the library, the service or the command line, made safe to print on a terminal.
// Titles, IDs and addresses come from anyone: a control character could retitle the window,
// clear the screen or move the cursor, and a bidirectional override or an invisible format
// character could make one text look like another. Each such character is shown as a visible
// escape instead: \xHH up to U+00FF, \uHHHH above it, \UHHHHHHHH beyond the basic plane.
// Everything else, backslashes included, is shown as it is.
class TerminalText
{
public:
    static QString shown(const QString &text);
};

} // namespace clipvane
