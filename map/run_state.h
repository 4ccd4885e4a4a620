// What one "UV Map" run works on: the texel grid, the value grid and what
// the texel workers share with the user-interface thread. The
// utility object holds one and hands it to every map run; the grids keep
// their storage from one run to the next.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "geom/geom.h"
#include "map/texel.h"

namespace dunsmere {

struct MapRunState {
    // Outer index x (the map's columns), inner index y (its rows, row 0 at
    // the top of the bitmap).
    BArray<TexelRecord> TexelGrid;
    BArray<float> TexelValues;

    // Per texel of the written map, column by column as the grids, filled
    // only for the options that read them: how many of its sub-texels (just
    // itself, without supersampling) a face covers, and whether a face or
    // the padding reached any of them. Empty otherwise.
    std::vector<std::uint8_t> coveredSubTexels;
    std::vector<std::uint8_t> reached;

    // A bake from sources whose host keeps its miss map sets recordMisses
    // before the run. The workers then set missedSubTexels to 1 for each
    // texel of the grids whose projection missed; a supersampled run sums
    // them per texel of the written map, and counts in projectedSubTexels
    // the sub-texels a face covered before the projection.
    bool recordMisses = false;
    std::vector<std::uint8_t> missedSubTexels;
    std::vector<std::uint8_t> projectedSubTexels;

    // Rows per band of a supersampled run, rounded up to an even count; 0
    // lets the run choose by the map's width.
    std::uint32_t bandRows = 0;

    // Raised by a worker whose buffers (its own or its evaluator's) could
    // not be allocated; workers never call the host, so the user-interface
    // thread reports it.
    std::atomic<int> scratchFailed{0};

    // The bar's percentage: written by the workers, read by the
    // user-interface thread; both hold the run's workLock while workers run.
    int progressPercent = 0;
    // When set, every value written to progressPercent is appended to it as
    // well, under the same lock: a record of the bar's whole course.
    std::vector<int>* progressWrites = nullptr;

    MapRunState()
    {
        TexelGrid.Resize(1, 1, kEmptyTexel);
        TexelValues.Resize(1, 1, 0.0f);
    }
    MapRunState(const MapRunState&) = delete;
    MapRunState& operator=(const MapRunState&) = delete;
};

}  // namespace dunsmere
