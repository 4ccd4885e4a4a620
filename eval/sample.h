// The smurl value of one surface sample.
//
// From the point given by barycentric weights on a face, one ray is cast
// along the smoothed normal and verticalSpread rings of horizontalSpread rays
// around it; the nearer the front-facing hits within `dist`, the higher the
// value. The value is 0 for an open point and stays below 1.
#pragma once

#include <cstdint>

#include "eval/rng.h"
#include "eval/settings.h"
#include "geom/geom.h"
#include "host/mesh.h"
#include "host/ray.h"
#include "host/tab.h"

namespace dunsmere {

// The per-run tables a sample reads. Built on the user-interface thread
// before any worker starts; read-only while workers run. Rays go to the
// scene, which answers exactly as IntersectRay over the mesh and
// faceNormals does, and over the run's occluders after them; without one,
// to IntersectRay itself over the mesh alone (a caller without a scene has
// no occluders). A sample on a source mesh (eval/projection.h) has its
// occluders in a scene of their own beside the sources': a ray's hit is the
// nearer of the two scenes' answers.
struct SampleTables {
    const Tab<Point3>& faceNormals;
    const VertexNormals& vertexNormals;
    const RayScene* scene = nullptr;
    const RayScene* besideScene = nullptr;
};

// Rays one sample casts: horizontalSpread * verticalSpread + 1, computed
// without overflow. The generations refuse a count beyond 32 bits before
// any sample is evaluated (eval/settings_range.h).
std::int64_t RayCount(const UtilitySettings& settings);

// The rays a worker's rayScratch is allocated for: RayCount, and at least
// the normal ray, which every sample writes. 0 when the count is beyond
// 32 bits: no buffer serves the evaluation's int arithmetic.
std::int64_t RayScratchCount(const UtilitySettings& settings);

// Evaluates the sample at `weights` (x, y, z for corners 0, 1, 2) on face
// `face`. `rayScratch` holds RayCount(settings) rays and is overwritten:
// record 0 is the normal ray, ring w position i is record H*w + i + 1.
// `rng` gives the azimuth offset of the rings unless the algorithm is
// "Vertex Colors". A dist that is not a positive finite number gives 0.
//
// Takes no lock and allocates nothing; any number of threads may evaluate at
// once, each with its own rayScratch and rng.
float EvaluateSample(const UtilitySettings& settings, const SampleTables& tables, const Mesh& mesh, int face,
                     const Point3& weights, Ray* rayScratch, CrtRand& rng);

// EvaluateSample with the azimuth draw (0..CrtRand::kMax) given instead of
// taken from a generator; "Vertex Colors" ignores it.
float EvaluateSampleWithDraw(const UtilitySettings& settings, const SampleTables& tables, const Mesh& mesh, int face,
                             const Point3& weights, Ray* rayScratch, int azimuthDraw);

}  // namespace dunsmere
