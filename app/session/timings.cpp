#include "app/session/timings.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace dunsmere {

namespace {

// A phase name per mark; null for a mark that only ends the phase before it.
constexpr const char* kPhaseNames[RunTimings::kMarkCount] = {"plugin", "load",   "panel", "build", "rasterize",
                                                            "rays",   "passes", "write", "close", nullptr};

}  // namespace

void RunTimings::Record(Mark mark, std::chrono::steady_clock::time_point at)
{
    if (Open(mark)) at_[static_cast<size_t>(mark)] = at;
}

std::string RunTimings::Line() const
{
    std::string line = "dunsmere: timings:";
    const char* separator = " ";
    for (int m = 0; m < kMarkCount; ++m) {
        if (!kPhaseNames[m] || !at_[static_cast<size_t>(m)]) continue;
        int next = m + 1;
        while (next < kMarkCount && !at_[static_cast<size_t>(next)]) ++next;
        if (next == kMarkCount) continue;
        const double seconds =
            std::chrono::duration<double>(*at_[static_cast<size_t>(next)] - *at_[static_cast<size_t>(m)]).count();
        char part[64];
        std::snprintf(part, sizeof part, "%s%s %.3f s", separator, kPhaseNames[m], seconds);
        line += part;
        separator = ", ";
    }
    return line + "\n";
}

double RunTimings::Seconds(Mark from, Mark to) const
{
    if (!at_[static_cast<size_t>(from)]) return 0.0;
    int end = to;
    while (end < kMarkCount && !at_[static_cast<size_t>(end)]) ++end;
    if (end == kMarkCount) return 0.0;
    return std::chrono::duration<double>(*at_[static_cast<size_t>(end)] - *at_[static_cast<size_t>(from)]).count();
}

std::string RunTimings::PeakMemoryLine()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) != 0) continue;
        std::istringstream fields(line.substr(6));
        long kib = 0;
        if (fields >> kib) return "dunsmere: peak memory: " + std::to_string(kib) + " KiB\n";
    }
    return {};
}

}  // namespace dunsmere
