// The host-free core of the "UV Map" generation: a mesh's map baked into a
// run state's grids, through the hooks alone.
//
// A host runs it in three steps around its own: ResetMapGrids before any
// check, then Evaluate (the run tables, the rasterizing, the texel workers)
// and Finish (the passes and the coverage). Between the last two a host
// may report the workers' time, and it runs Finish after a cancel too: a
// partial map is still cleaned.
//
// User-interface thread; the texels are evaluated on the hooks' threads.
#pragma once

#include <cstdint>

#include "eval/eval.h"
#include "host/mesh.h"
#include "map/run_state.h"
#include "map/texel_evaluator.h"

namespace dunsmere {

// Sizes and clears the state's grids to XSiz x YSiz, so that nothing of an
// earlier run survives; asks the hooks' worker count for the fill. False
// when the grids cannot be had; they are then left 1 x 1.
bool ResetMapGrids(MapRunState& state, const UtilitySettings& settings, const BakeHooks& hooks);

// The mesh, settings, tables, state, hooks and evaluator outlive the
// object. The ray scene takes tables.occluders, as the host gathered them;
// the vertex normals it builds are the caller's to clear.
class MapBake {
public:
    MapBake(const Mesh& mesh, const UtilitySettings& settings, RunTables& tables, MapRunState& state,
            const BakeHooks& hooks, const TexelEvaluator& evaluator = ClassicTexelEvaluator())
        : mesh_(mesh), settings_(settings), tables_(tables), state_(state), hooks_(hooks), evaluator_(evaluator)
    {
    }

    // Faces are filtered by settings.selectedOnly and, with mtlIDOn, by
    // mtlID; a face whose map face names a map vertex outside the channel
    // is left out. The bar moves through the faces, then the rows. kDone
    // or kCancelled, when the values are the workers' (a cancelled run's
    // texels not yet reached keep 0), or the failure that ended it.
    BakeStatus Evaluate();
    // After an Evaluate that returned kDone or kCancelled: kDone, or
    // kOutOfMemory when the passes could not be had (the map is then not
    // whole).
    BakeStatus Finish();

    // The clock as the workers were started.
    std::int64_t WorkersStarted() const { return workersStarted_; }
    // With settings.highPoly: what the run projected. The run takes the
    // tables' sources, cage and occluders into its projection tables.
    const ProjectionCounts& Projected() const { return counts_; }

private:
    const Mesh& mesh_;
    const UtilitySettings& settings_;
    RunTables& tables_;
    MapRunState& state_;
    const BakeHooks& hooks_;
    const TexelEvaluator& evaluator_;
    int buildThreads_ = 0;
    std::int64_t workersStarted_ = 0;
    ProjectionCounts counts_;
};

}  // namespace dunsmere
