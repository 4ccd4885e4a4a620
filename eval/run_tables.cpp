#include "eval/run_tables.h"

#include "eval/detail/same_bits.h"


namespace dunsmere {

void RunTables::BuildRayTables(const Mesh& mesh, const BuildHelpers& helpers, std::vector<Mesh> occluderMeshes)
{
    const RayRoute route = DefaultRayRoute();
    sceneKept_ = source_.mesh == &mesh && occluders.empty() && occluderMeshes.empty() && source_.route == route &&
                 SameBits(source_.verts, mesh.verts) && SameBits(source_.faces, mesh.faces);
    if (sceneKept_) return;
    source_ = SceneSource();
    BuildFaceNormals(mesh, faceNormals, helpers);
    occluders = std::move(occluderMeshes);
    occluderNormals.assign(occluders.size(), {});
    std::vector<SceneInput> inputs{{&mesh, &faceNormals}};
    for (std::size_t i = 0; i < occluders.size(); ++i) {
        BuildFaceNormals(occluders[i], occluderNormals[i]);
        inputs.push_back({&occluders[i], &occluderNormals[i]});
    }
    scene.Build(inputs, route, helpers);
    if (!occluders.empty()) return;
    source_ = {&mesh, mesh.verts, mesh.faces, route};
}

}  // namespace dunsmere
