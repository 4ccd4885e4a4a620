// The texel workers' loop with an evaluator's calls inlined: TexelWorker
// (map/detail/texel_workers.h) for the evaluator type E of
// map/texel_evaluator.h.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <new>

#include "eval/eval.h"
#include "map/detail/texel_workers.h"
#include "map/texel_evaluator.h"

namespace dunsmere {

namespace texel_loop {

// How many texels ahead of the one in hand a row's records are fetched.
inline constexpr std::uint32_t kFetchAhead = 4;

inline std::uint32_t Columns(const MapRunState& state) { return state.TexelGrid.OuterCount(); }
inline std::uint32_t Rows(const MapRunState& state)
{
    return state.TexelGrid.OuterCount() > 0 ? state.TexelGrid.InnerCount(0) : 0u;
}

// Under workLock while workers run.
void SetProgress(MapRunState& state, int percent);
// RowProgress before the grids' row y, counted in the map's rows.
int MapRowProgress(const TexelJob& job, std::uint32_t y);

// What a worker keeps for the whole run besides its evaluator's scratch:
// the values of the row in hand, and which of its texels the evaluator
// found uncovered.
struct RowScratch {
    std::unique_ptr<float[]> values;
    std::unique_ptr<std::uint8_t[]> uncovered;

    explicit RowScratch(std::uint32_t W)
        : values(new (std::nothrow) float[W > 0 ? W : 1u]), uncovered(new (std::nothrow) std::uint8_t[W > 0 ? W : 1u])
    {
    }
    bool Ready() const { return values && uncovered; }
};

// Stores the evaluated texels [0, end) of row y; the caller holds workLock.
void StoreRow(TexelJob& job, std::uint32_t y, std::uint32_t end, const RowScratch& row);
// Marks row y finished and moves the bar of a chunked run; the caller
// holds workLock.
void FinishRow(TexelJob& job, std::uint32_t y);

// Evaluates row y into the row scratch and stores it. False when the run
// was cancelled before the row's end; what was evaluated is stored.
template <class E>
bool WorkRow(TexelJob& job, std::uint32_t y, const E& evaluator, typename E::Scratch& scratch, RowScratch& row,
             CrtRand& rng, const WorkerSeat& seat, bool finishes)
{
    const MapRunState& state = job.state;
    const std::uint32_t W = Columns(state), H = Rows(state);
    const int faceCount = job.mesh.getNumFaces();
    const bool storesAhead = state.TexelValues.OuterCount() == W && W > 0 && state.TexelValues.InnerCount(0) == H;
    for (std::uint32_t x = 0; x < W; ++x) {
        // The grids are stored column by column, so each texel of a row has
        // lines of its own, far from its neighbours': they are fetched a few
        // texels ahead, the value's for StoreRow's write.
        if (x + kFetchAhead < W) {
            __builtin_prefetch(state.TexelGrid.Inner(x + kFetchAhead) + y);
            if (storesAhead) __builtin_prefetch(state.TexelValues.Inner(x + kFetchAhead) + y, 1);
        }
        if (seat.Cancelled()) {
            std::lock_guard<std::mutex> lock(job.workLock);
            StoreRow(job, y, x, row);
            return false;
        }
        const TexelRecord r = state.TexelGrid.Get(x, y);
        if (!IsCovered(r, faceCount)) continue;
        // Every covered texel takes its draw, so that the draws of the
        // texels after it do not hang on what the evaluator did here.
        const TexelSample texel{r.face, r.bary, r.rawBary, rng.Next()};
        float value = 0.0f;
        const bool covered = evaluator.Evaluate(job, texel, scratch, value);
        row.values[x] = CapTexelValue(value);
        row.uncovered[x] = !covered;
    }
    std::lock_guard<std::mutex> lock(job.workLock);
    StoreRow(job, y, W, row);
    if (finishes) FinishRow(job, y);
    return true;
}

template <class E>
int TexelWorkerWith(TexelJob& job, WorkerSeat& seat, const E& evaluator)
{
    MapRunState& state = job.state;
    const std::uint32_t H = Rows(state);
    const bool chunked = seat.Chunked();
    if (!chunked) {
        std::lock_guard<std::mutex> lock(job.workLock);
        SetProgress(state, MapRowProgress(job, 0));
    }
    RowScratch row(Columns(state));
    typename E::Scratch scratch;
    if (!row.Ready() || !evaluator.MakeScratch(job, scratch)) {
        state.scratchFailed.store(1);
        seat.Cancel();  // the other workers need not go on either
        return 0;
    }

    CrtRand rng;
    WorkChunk chunk;
    while (seat.NextChunk(chunk)) {
        const bool reports = !chunked && chunk.sequence == kEvenRowSequence;
        for (std::int64_t p = chunk.begin; p < chunk.end; ++p) {
            const std::uint32_t y = static_cast<std::uint32_t>(2 * p + chunk.sequence);
            if (y >= H) break;
            if (p == chunk.begin)
                rng = CrtRand::After(chunked ? job.drawsBefore[y] : job.drawsAbove[chunk.sequence]);
            if (reports) {
                std::lock_guard<std::mutex> lock(job.workLock);
                SetProgress(state, MapRowProgress(job, y));
            }
            if (!WorkRow(job, y, evaluator, scratch, row, rng, seat, chunked)) return 0;
        }
    }
    return chunked && seat.Cancelled() ? 0 : 1;
}

}  // namespace texel_loop

// The handle a run holds on an evaluator of type E.
template <class E>
class TexelEvaluatorFor final : public TexelEvaluator {
public:
    explicit TexelEvaluatorFor(const E& evaluator) : evaluator_(evaluator) {}
    int Work(TexelJob& job, WorkerSeat& seat) const override
    {
        return texel_loop::TexelWorkerWith(job, seat, evaluator_);
    }

private:
    const E& evaluator_;
};

}  // namespace dunsmere
