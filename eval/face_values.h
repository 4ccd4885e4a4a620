// The smurl value at the centre of every face of a mesh, or of every
// selected face with selectedOnly: the host-free core of the "Vertex
// Colors" generation, which averages them at the vertices and writes the
// colours itself.
//
// User-interface thread; the faces are evaluated on the hooks' threads.
#pragma once

#include <cstdint>
#include <vector>

#include "eval/bake_hooks.h"
#include "eval/projection.h"
#include "eval/run_tables.h"
#include "eval/settings.h"
#include "host/mesh.h"

namespace dunsmere {

struct FaceValues {
    std::vector<float> value;              // per face; 0 where not evaluated
    std::vector<std::uint8_t> evaluated;   // per face: 1 once its value is in
};

// Two calls, so that a host can prepare what it writes into between them:
// Prepare builds the run tables (face normals, the ray scene over the mesh
// and tables.occluders, the vertex normals, which the caller clears) and
// sizes the values; Evaluate reads the clock, then evaluates. Each returns
// kDone, or how the bake ended; Evaluate only after a Prepare that returned
// kDone. The mesh, settings, tables and hooks outlive the object.
class FaceValueBake {
public:
    FaceValueBake(const Mesh& mesh, const UtilitySettings& settings, RunTables& tables, const BakeHooks& hooks)
        : mesh_(mesh), settings_(settings), tables_(tables), hooks_(hooks)
    {
    }

    BakeStatus Prepare();
    BakeStatus Evaluate();

    // The clock as the workers were started.
    std::int64_t WorkersStarted() const { return workersStarted_; }
    const FaceValues& Values() const { return values_; }
    // With settings.highPoly, after Evaluate: the face centres projected,
    // and those that missed. The run takes the tables' sources, cage and
    // occluders into its projection tables.
    const ProjectionCounts& Projected() const { return projected_; }

private:
    const Mesh& mesh_;
    const UtilitySettings& settings_;
    RunTables& tables_;
    const BakeHooks& hooks_;
    FaceValues values_;
    std::int64_t workersStarted_ = 0;
    ProjectionCounts projected_;
};

}  // namespace dunsmere
