// A bake from high-poly meshes ("sources") onto a low one: each sample of
// the low mesh is projected along the low mesh's averaged normal onto the
// nearest source face that fronts the ray, and the smurl value is taken
// there, on the source's own surface, among the sources and occluders.
//
// The projection's direction is smooth across the low mesh's hard edges
// (every face in one group, vertices merged by position), so that no gap
// opens along them. A ray that finds no source face within its reach, or
// a sample without a direction, is a miss: the host shows what missed.
//
// Build and Clear run on the user-interface thread while no worker runs;
// SampleAt only reads and may be called from any number of threads at once,
// each with its own tally.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "eval/settings.h"
#include "geom/geom.h"
#include "host/core.h"
#include "host/mesh.h"
#include "host/ray.h"
#include "host/tab.h"

namespace dunsmere {

// What a bake from sources projected, summed over its workers.
struct ProjectionCounts {
    std::atomic<std::int64_t> samples{0};
    std::atomic<std::int64_t> missed{0};
};

// One worker's counts, added to the run's once, as the worker leaves: the
// workers never share a line per sample.
class ProjectionTally {
public:
    explicit ProjectionTally(ProjectionCounts* run = nullptr) : run_(run) {}
    ProjectionTally(const ProjectionTally&) = delete;
    ProjectionTally& operator=(const ProjectionTally&) = delete;
    ~ProjectionTally()
    {
        if (!run_) return;
        run_->samples.fetch_add(samples_, std::memory_order_relaxed);
        run_->missed.fetch_add(missed_, std::memory_order_relaxed);
    }
    void Attach(ProjectionCounts* run) { run_ = run; }
    void Count(bool hit)
    {
        ++samples_;
        missed_ += hit ? 0 : 1;
    }

private:
    ProjectionCounts* run_;
    std::int64_t samples_ = 0, missed_ = 0;
};

class ProjectionTables {
public:
    ProjectionTables() = default;
    ProjectionTables(const ProjectionTables&) = delete;
    ProjectionTables& operator=(const ProjectionTables&) = delete;
    ~ProjectionTables() { Clear(); }

    // Takes the run's sources, cage and occluders (as eval/occluders.h
    // gathers them) for LOW, and builds what the projection and the
    // sources' samples read: the low mesh's averaged normals, the sources'
    // face and vertex normals, a ray scene over the sources alone (what a
    // projection hits) and one over the occluders (what shades a source's
    // sample beside the sources). The distances are the settings'
    // fractions of LOW's bounding-box diagonal.
    //
    // Tables built from bit for bit the same low positions and faces,
    // sources, cage and occluders on the same ray route are kept, the
    // distances alone taken anew: a host that bakes one mesh over and over
    // with other map coordinates (the tiles of a UDIM map) pays for a
    // sculpt's scene once. Clear frees them.
    void Build(const Mesh& low, const UtilitySettings& settings, std::vector<Mesh> sources,
               std::optional<Mesh> cage, std::vector<Mesh> occluders, const BuildHelpers& helpers = {});
    void Clear();

    // Whether the last Build kept the tables it found.
    bool Kept() const { return kept_; }
    // The sample at WEIGHTS on LOW's face FACE, counted in TALLY: false for
    // a miss; true with VALUE the smurl value where it projects, on the
    // hit's source face at the hit's weights, with that source's smoothed
    // normal and its rays cast against every source and occluder, as
    // EvaluateSampleWithDraw (eval/sample.h) takes them.
    bool SampleAt(const UtilitySettings& settings, const Mesh& low, int face, const Point3& weights, Ray* rayScratch,
                  int azimuthDraw, ProjectionTally& tally, float& value) const;

    // What a run with these tables tells its host: COUNTS and the rays'
    // reach in the low mesh's units.
    ProjectionReport Report(const ProjectionCounts& counts) const;

private:
    // The source face the sample projects onto: true with `hit` filled
    // (hit.input is the source's index), false for a miss.
    bool ProjectSample(const Mesh& low, int face, const Point3& weights, RayHit& hit) const;
    float EvaluateAtHit(const UtilitySettings& settings, const RayHit& hit, Ray* rayScratch, int azimuthDraw) const;
    bool Same(const Mesh& low, const std::vector<Mesh>& sources, const std::optional<Mesh>& cage,
              const std::vector<Mesh>& occluders) const;

    Mesh low_;  // the positions and faces the tables were built for
    RayRoute route_ = RayRoute::kPlain;
    bool kept_ = false;
    std::vector<Mesh> sources_;
    std::vector<Tab<Point3>> sourceFaceNormals_;
    std::vector<std::unique_ptr<VertexNormals>> sourceVertexNormals_;
    RayScene sourceScene_;
    std::vector<Mesh> occluders_;
    std::vector<Tab<Point3>> occluderFaceNormals_;
    RayScene occluderScene_;
    bool occluded_ = false;
    // The low mesh's faces over its vertices merged by position, all in one
    // smoothing group, and their normals.
    Mesh welded_;
    VertexNormals weldedNormals_;
    std::optional<Mesh> cage_;
    float front_ = 0.0f, rear_ = 0.0f;
};

// The diagonal of the bounding box of the vertices MESH's faces use; 0 for
// a mesh without faces.
double FacesDiagonal(const Mesh& mesh);

}  // namespace dunsmere
