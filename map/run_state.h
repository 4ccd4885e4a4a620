// What one "UV Map" run works on: the texel grid, the value grid and the
// flags the two texel workers share with the user-interface thread. The
// utility object holds one and hands it to every map run; the grids keep
// their storage from one run to the next.
#pragma once

#include <atomic>

#include "geom/geom.h"
#include "map/texel.h"

struct MapRunState {
    // Outer index x (the map's columns), inner index y (its rows, row 0 at
    // the top of the bitmap).
    BArray<TexelRecord> TexelGrid;
    BArray<float> TexelValues;

    // Polled without the lock: raised by the user-interface thread when the
    // user cancels (or by a worker that cannot run at all); each worker sets
    // its done flag as the last thing it does with this state.
    std::atomic<int> cancelFlag{0};
    std::atomic<int> evenRowsDone{0};
    std::atomic<int> oddRowsDone{0};
    // Raised by a worker whose ray buffer could not be allocated; workers
    // never call the host, so the user-interface thread reports it.
    std::atomic<int> scratchFailed{0};

    // Written by the even-row worker, read by the user-interface thread; both
    // hold the run's workLock while workers run.
    int progressPercent = 0;

    MapRunState()
    {
        TexelGrid.Resize(1, 1, kEmptyTexel);
        TexelValues.Resize(1, 1, 0.0f);
    }
    MapRunState(const MapRunState&) = delete;
    MapRunState& operator=(const MapRunState&) = delete;
};
