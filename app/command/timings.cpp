#include "app/command/timings.h"

#include <cstdio>

namespace {

// A phase name per mark; null for a mark that only ends the phase before it.
constexpr const char* kPhaseNames[RunTimings::kMarkCount] = {"load", nullptr, "build",  "rasterize",
                                                            "rays", "passes", "write", nullptr};

}  // namespace

void RunTimings::Record(Mark mark)
{
    for (int later = mark; later < kMarkCount; ++later)
        if (at_[static_cast<size_t>(later)]) return;
    at_[static_cast<size_t>(mark)] = std::chrono::steady_clock::now();
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
        std::snprintf(part, sizeof part, "%s%s %.2f s", separator, kPhaseNames[m], seconds);
        line += part;
        separator = ", ";
    }
    return line + "\n";
}
