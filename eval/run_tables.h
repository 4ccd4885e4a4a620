// The per-run structures the utility object owns and each generation
// rebuilds: face normals and the ray scene built beside them (both kept
// until the next run), smoothed vertex normals (cleared at the end of every
// run), the run's lock and the current mesh.
#pragma once

#include <mutex>

#include "geom/geom.h"
#include "host/mesh.h"
#include "host/tab.h"

struct RunTables {
    Tab<Point3> faceNormals;
    RayScene scene;
    VertexNormals vertexNormals;
    // Guards what workers publish and the progress they report. Only the
    // generation's own threads take it.
    std::mutex workLock;
    // The mesh of the vertex-colour run in progress; null otherwise.
    Mesh* currentMesh = nullptr;

    RunTables() = default;
    RunTables(const RunTables&) = delete;
    RunTables& operator=(const RunTables&) = delete;
    ~RunTables() { zfree(faceNormals); }

    // faceNormals of `mesh`, then the scene over the two, built with the
    // threads `helpers` lends.
    void BuildRayTables(const Mesh& mesh, const BuildHelpers& helpers = {})
    {
        BuildFaceNormals(mesh, faceNormals);
        const SceneInput input{&mesh, &faceNormals};
        scene.Build({&input, 1}, DefaultRayRoute(), helpers);
    }
};
