// A supersampled map run (supersample S above 1): the map S times finer
// each way is computed exactly as a direct run of that size would compute
// it, with padding S * padding, and each texel of the written map takes the
// mean of its S x S block.
//
// The fine map is never held whole. It is worked in bands of rows, each
// rasterized into records of its own (the same records the whole map's
// rasterization gives), evaluated once with the draws its rows have in the
// whole map's sequences, and kept as faces and values only for as long as
// the passes of the rows around it need it (PassHalo rows each side).
//
// User-interface thread; runs the workers as the direct run does, with the
// same evaluator.
#pragma once

#include "eval/eval.h"
#include "host/mesh.h"
#include "map/run_state.h"
#include "map/texel_evaluator.h"

namespace dunsmere {

// On return state.TexelValues holds the XSiz x YSiz block means, and
// state.coveredSubTexels and state.reached are filled when coverageAlpha and
// invertLevels ask for them. The bar moves through the faces, then through
// the fine map's rows. A cancel ends the run with the band in hand: its
// texels not yet evaluated count as 0, its rows are cleaned as the map's
// last and averaged as far as they fill whole blocks, and no later band is
// begun, so the written map's rows below stay 0 and uncovered. A start
// failure or a worker's failed buffer ends the run at once
// (state.scratchFailed is raised for the latter). Builds the run's vertex
// normals; the caller clears them. Throws std::bad_alloc.
RunResult RunSupersampledMap(const BakeHooks& hooks, const Mesh& mesh, const UtilitySettings& settings,
                             RunTables& tables, MapRunState& state, const TexelEvaluator& evaluator);

}  // namespace dunsmere
