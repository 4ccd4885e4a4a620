// Where a bake's time went, inferred from the calls the host receives: the
// plug-in reports no phases of its own, so each phase runs from the first
// call that marks its start to the next recorded mark.
//
//   plugin     finding and loading the plug-in library (the client marks it)
//   load       reading the mesh files (the client marks it)
//   panel      opening the panel: the settings file read, the controls set
//   build      ProgressStart to the first ProgressUpdate: normals, ray scene
//   rasterize  that update to the workers' start
//   rays       the second worker-count query (the first is the build's), or
//              the first Sleep, to the completion (or elapsed-time) message
//   passes     that message to the start of the write
//   write      the bitmap or mesh write (the client marks it)
//   close      closing the panel, which saves the settings file
//
// A phase whose start never came is left out and the phase before it runs
// on to the next mark. User-interface thread only.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace dunsmere {

class RunTimings {
public:
    enum Mark { kPlugin, kLoad, kPanel, kBuild, kRasterize, kRays, kPasses, kWrite, kClose, kEnd, kMarkCount };

    // Records MARK now, unless it or a later mark is already recorded:
    // only the first call of each kind counts, and only in phase order.
    void Record(Mark mark, std::chrono::steady_clock::time_point at);
    // The same at the present moment, the clock read only when MARK counts:
    // the host records a mark on every progress update.
    void Record(Mark mark)
    {
        if (Open(mark)) Record(mark, std::chrono::steady_clock::now());
    }

    // "dunsmere: timings: plugin 0.004 s, load 0.120 s, ..." with a newline;
    // the phases that both began and ended.
    std::string Line() const;

    // Seconds from FROM to the first mark recorded at or after TO; 0 when
    // FROM was never recorded or nothing came after it.
    double Seconds(Mark from, Mark to) const;

    // "dunsmere: peak memory: N KiB" with a newline: the process's own peak
    // resident memory (a spawning parent's wait4 would report the parent's,
    // which an exec carries over); empty where the system does not say.
    static std::string PeakMemoryLine();

private:
    bool Open(Mark mark) const
    {
        for (int later = mark; later < kMarkCount; ++later)
            if (at_[static_cast<std::size_t>(later)]) return false;
        return true;
    }
    std::array<std::optional<std::chrono::steady_clock::time_point>, kMarkCount> at_;
};

}  // namespace dunsmere
