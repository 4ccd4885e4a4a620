// The two texel workers of a map run, and the two neighbourhood passes that
// clean the finished values.
//
// The workers share the rows by parity: the even-row worker also reports
// progress, the odd-row worker does not. Each walks its rows top to bottom
// and each row left to right, evaluates the smurl value of every covered
// texel, optionally modulates it with 3-D noise, and stores it under the
// run's workLock. Each draws its azimuth offsets from its own generator in
// that fixed order, so a map comes out the same bit for bit on every run and
// every machine, however the two threads interleave.
#pragma once

#include <mutex>

#include "eval/eval.h"
#include "host/mesh.h"
#include "map/run_state.h"

// What one run hands both workers. They read the mesh, the settings, the
// tables and the texel grid, none of which changes while they run, and
// write only the state's values, progress and flags.
struct TexelJob {
    const Mesh& mesh;
    const UtilitySettings& settings;
    SampleTables tables;
    std::mutex& workLock;
    MapRunState& state;
};

// The row selector of TexelWorker.
inline constexpr int kEvenRows = 1;
inline constexpr int kOddRows = 0;

// Evaluates every covered texel of the selected rows. Tests the cancel flag
// before every texel: on a cancel it sets its own done flag and returns 0;
// after its last row it returns 1. Texels it never reaches keep their value.
// A ray buffer it cannot allocate stops it at once: it raises the state's
// scratchFailed and cancel flags, sets its own done flag and returns 0.
int TexelWorker(TexelJob& job, int evenRows);

// Thread entries, each given the run's TexelJob: clear the worker's done
// flag, run TexelWorker on its rows, set the done flag. The flag is the
// entry's last touch of the job.
void TexelWorkerEven(void* job);
void TexelWorkerOdd(void* job);

// The progress the even-row worker reports before row y of a W x H map: the
// share of all texels in the rows above it, truncated. Never 100.
int RowProgress(int y, int W, int H);

// A smurl value scaled by a noise value in about -1..1: value * (noise + 1).
float ModulateByNoise(float value, float noise);
// A value above 1 becomes 0.99; exactly 1 stays.
float CapTexelValue(float value);

// User-interface thread, once both workers are done; both cover the texel
// grid's columns and rows and expect the value grid to be as large.
//
// Lifts a covered texel holding at most 0.1 to the brightest value of at
// least 0.8 among its 3 x 3 neighbours of the same face. A lifted texel never
// serves as a bright neighbour in the same pass.
void RepairSpeckles(MapRunState& state);
// Gives each uncovered texel the brightest value among the covered texels of
// its 3 x 3 block; one texel wide, it never spreads further.
void DilateCoverage(MapRunState& state);
