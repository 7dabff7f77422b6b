#pragma once

namespace clipvane {

// For finding where start-up spends its time: with CLIPVANE_STARTUP_TRACE set, each mark prints
// the milliseconds since the process started and its name on stderr. Costs one check otherwise.
namespace StartupTrace {

inline constexpr char kVariable[] = "CLIPVANE_STARTUP_TRACE";

void mark(const char *what);

} // namespace StartupTrace

} // namespace clipvane
