// The per-run structures the utility object owns and each generation
// rebuilds: face normals, the occluders' meshes and the ray scene built
// beside them (all kept until the next run), smoothed vertex normals
// (cleared at the end of every run), the run's lock and the current mesh.
#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "eval/projection.h"
#include "geom/geom.h"
#include "host/mesh.h"
#include "host/tab.h"

namespace dunsmere {

struct RunTables {
    Tab<Point3> faceNormals;
    // The run's occluder meshes (eval/occluders.h), each with its own face
    // normals: after the mesh in the scene, kept as long as it is.
    std::vector<Mesh> occluders;
    std::vector<Tab<Point3>> occluderNormals;
    RayScene scene;
    VertexNormals vertexNormals;
    // A bake from high-poly sources: what the host offered, until the run
    // takes it into its projection, which is kept as the scene is; a run
    // of the mesh's own surface clears it.
    std::vector<Mesh> sources;
    std::optional<Mesh> cage;
    ProjectionTables projection;
    // Guards what workers publish and the progress they report. Only the
    // generation's own threads take it.
    std::mutex workLock;
    // The mesh of the vertex-colour run in progress; null otherwise.
    Mesh* currentMesh = nullptr;

    RunTables() = default;
    RunTables(const RunTables&) = delete;
    RunTables& operator=(const RunTables&) = delete;
    ~RunTables() { zfree(faceNormals); }

    // faceNormals of `mesh`, then the scene over the two and OCCLUDERS (kept
    // with their own normals), built with the threads `helpers` lends. The
    // mesh's faces come first, so a face's index in the scene is its index
    // in the mesh.
    //
    // A run on the very mesh object of the last build, with bit for bit its
    // vertices and faces, no occluders then or now, and the same ray route,
    // keeps the normals and the scene it built: they are made of nothing
    // else, so they would come out the same. A host that bakes one mesh
    // over and over with other map coordinates (the tiles of a UDIM map)
    // pays for the scene once.
    void BuildRayTables(const Mesh& mesh, const BuildHelpers& helpers = {}, std::vector<Mesh> occluderMeshes = {});

    // Whether the last BuildRayTables kept the scene it found.
    bool SceneKept() const { return sceneKept_; }

private:
    // What the scene was last built from; mesh is null when it was built
    // with occluders, or not at all.
    struct SceneSource {
        const Mesh* mesh = nullptr;
        std::vector<Point3> verts;
        std::vector<Face> faces;
        RayRoute route = RayRoute::kPlain;
    };
    SceneSource source_;
    bool sceneKept_ = false;
};

}  // namespace dunsmere
