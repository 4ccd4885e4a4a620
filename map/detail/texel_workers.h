// The texel workers of a map run (the passes that clean their values are
// map/detail/passes.h).
//
// The work is two sequences of rows, the even rows and the odd rows, each
// walked top to bottom and each row left to right. A worker has the job's
// evaluator (map/texel_evaluator.h) compute every covered texel and stores
// the row under the run's workLock. The azimuth offsets come from a
// generator per sequence, drawn once per covered texel in that order: a thread that takes up a sequence part-way puts its generator where
// the sequence's own would be, so a map comes out the same bit for bit on
// every run, every machine and every thread count.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "eval/eval.h"
#include "host/mesh.h"
#include "map/detail/passes.h"
#include "map/run_state.h"
#include "map/texel_evaluator.h"

namespace dunsmere {

inline constexpr int kEvenRowSequence = 0;
inline constexpr int kOddRowSequence = 1;

// What one run hands its workers. They read the mesh, the settings and the
// tables, none of which changes while they run, and the texel grid, whose
// records of a row only that row's worker reads until they end. They write
// only the state's values, progress and flags, the records of texels the
// evaluator finds uncovered, and the row bookkeeping below.
struct TexelJob {
    TexelJob(const Mesh& m, const UtilitySettings& s, SampleTables t, std::mutex& lock, MapRunState& runState)
        : mesh(m), settings(s), tables(t), workLock(lock), state(runState)
    {
    }

    const Mesh& mesh;
    const UtilitySettings& settings;
    SampleTables tables;
    std::mutex& workLock;
    MapRunState& state;
    const TexelEvaluator* evaluator = &ClassicTexelEvaluator();

    // Chunked runs only (see PrepareChunkedRows). Per row, the covered
    // texels of the rows of its parity above it: the draws its sequence made
    // before it. Then, under workLock, which rows are finished and the
    // lowest even row that is not.
    std::vector<std::uint64_t> drawsBefore;
    std::vector<std::uint8_t> rowFinished;
    std::uint32_t lowestOpenEvenRow = 0;

    // Where the state's grids lie in the map, when they hold a band of its
    // rows: the map's row of the grids' row 0 (even, so that a row keeps its
    // parity and with it its sequence), the map's height (0: the grids'
    // own), and the draws each sequence made in the rows above the band.
    std::uint32_t firstRow = 0;
    std::uint32_t mapRows = 0;
    std::uint64_t drawsAbove[2] = {0, 0};
};

// A texel the workers evaluate: its record names a face of the mesh.
inline bool IsCovered(const TexelRecord& r, int faceCount) { return r.face >= 0 && r.face < faceCount; }

// Fills the job's row bookkeeping from the texel grid. Throws
// std::bad_alloc.
void PrepareChunkedRows(TexelJob& job);

// Works the seat's chunks with the job's evaluator, each a run of rows of
// one sequence (a position p of sequence s is row 2p + s). Tests the cancel
// flag before every texel; on a cancel it stores the texels of the row in
// hand it has evaluated and returns 0. Texels it never reaches keep their
// value; texels the evaluator finds uncovered get the empty record and
// keep their value. Returns 1 once there is no chunk left.
//
// In the two-thread split it is the specified worker: it sets the bar to 0,
// and the even-row worker alone moves it before each of its rows. (In a
// band, the bar starts at the band's first row and shows the map's rows.) Chunked,
// the bar shows the lowest even row not yet finished, and the last even row
// once all are.
//
// A buffer it (or the evaluator) cannot allocate stops it at once: it
// raises the state's scratchFailed, cancels the run and returns 0.
inline int TexelWorker(TexelJob& job, WorkerSeat& seat) { return job.evaluator->Work(job, seat); }

// The RunWork of a map run over the job.
class TexelWork final : public RunWork {
public:
    explicit TexelWork(TexelJob& job) : job_(job) {}
    void Work(WorkerSeat& seat) override { TexelWorker(job_, seat); }
    int ProgressPercent(float) override { return job_.state.progressPercent; }

private:
    TexelJob& job_;
};

// Runs the job's workers over every row of its grids on `threads` threads
// with the hooks: the even and the odd rows as the two sequences, a row per
// chunk. A chunked run's bookkeeping that cannot be had is reported as
// outOfMemory.
RunResult RunTexelWorkers(const BakeHooks& hooks, TexelJob& job, int threads);

// The progress the even-row worker reports before row y of a W x H map: the
// share of all texels in the rows above it, truncated. Never 100.
int RowProgress(int y, int W, int H);

// A smurl value scaled by a noise value in about -1..1: value * (noise + 1),
// and 0 where that falls below 0.
float ModulateByNoise(float value, float noise);
// A value above 1 becomes 0.99; exactly 1 stays.
float CapTexelValue(float value);
// VALUE scaled by the noise at the texel's own point of the job's mesh,
// with noiseOn.
float WithTexelNoise(const TexelJob& job, const TexelSample& texel, float value);

}  // namespace dunsmere
