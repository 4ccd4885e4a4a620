// Work cut into parts that run side by side: a large mesh file is parsed and
// formatted a part per thread when the command runs with several threads.
#pragma once

#include <cstddef>
#include <functional>

namespace dunsmere {

// Runs PART(k) for every k below PARTS, on up to PARTS threads of the
// tree's parallel loop (geom/parallel.h) with the calling thread among them,
// and returns once all have ended: one part starts no thread at all, and
// the parts no thread can be started for run on the calling thread. Then
// throws what the lowest part that threw threw; a part that throws stops no
// other.
void RunParts(int parts, const std::function<void(int)>& part);

// How many parts to cut WORK into for THREADS threads, each part at least
// MINIMUM of it: starting a thread costs more than a small part saves.
inline int PartsFor(std::size_t work, std::size_t minimum, int threads)
{
    const std::size_t most = work / (minimum > 0 ? minimum : 1);
    return threads <= 1 || most <= 1 ? 1 : most < static_cast<std::size_t>(threads) ? static_cast<int>(most) : threads;
}

// Where part K of PARTS begins in COUNT items cut evenly; part PARTS begins
// at COUNT.
inline std::size_t PartBegin(std::size_t count, int k, int parts)
{
    const auto n = static_cast<std::size_t>(parts), i = static_cast<std::size_t>(k);
    return count / n * i + count % n * i / n;
}

}  // namespace dunsmere
