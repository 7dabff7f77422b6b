#pragma once

#include <QtGlobal>

namespace clipvane {

// The longest texts the service keeps for a video, in UTF-16 units as both sides count them.
// The service refuses a request beyond them and the application refuses a reply beyond them,
// so whatever one side keeps, the other takes.

// One limit for adding, changing and deleting, so nothing can be added that could not later
// be changed or deleted.
inline constexpr qsizetype kMaxVideoIDLength = 256;
inline constexpr qsizetype kMaxVideoTitleLength = 1000;
inline constexpr qsizetype kMaxVideoUrlLength = 4096;
// The upload date and the length, typed freely in the edit sheet.
inline constexpr qsizetype kMaxVideoDetailLength = 64;

// The furthest resume position either side keeps, in whole seconds: longer than any video
// one would resume, so a larger number can only be a mistake.
inline constexpr int kMaxVideoPosition = 100 * 60 * 60;

} // namespace clipvane
