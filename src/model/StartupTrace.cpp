#include "StartupTrace.h"

#include <QtGlobal>
#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace clipvane {

namespace {

// Milliseconds since the process was started, from the kernel's start time (field 22 of
// /proc/self/stat, in clock ticks since boot), so the loading of libraries before main counts.
double sinceProcessStart()
{
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
    static const double startMs = [] {
        FILE *stat = std::fopen("/proc/self/stat", "r");
        if (!stat)
            return 0.0;
        char buffer[1024] = {};
        const size_t length = std::fread(buffer, 1, sizeof buffer - 1, stat);
        std::fclose(stat);
        buffer[length] = '\0';
        // The command name may hold spaces and parentheses: the fields follow its last ')'.
        const char *at = nullptr;
        for (const char *p = buffer; *p; ++p) {
            if (*p == ')')
                at = p;
        }
        unsigned long long ticks = 0;
        if (!at ||
            std::sscanf(at + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                        &ticks) != 1)
            return 0.0;
        return double(ticks) * 1e3 / double(sysconf(_SC_CLK_TCK));
    }();
    return nowMs - startMs;
}

} // namespace

void StartupTrace::mark(const char *what)
{
    static const bool enabled = qEnvironmentVariableIsSet(kVariable);
    if (!enabled)
        return;
    std::fprintf(stderr, "startup %8.1f ms  %s\n", sinceProcessStart(), what);
}

} // namespace clipvane
