#include "map/detail/mapped_faces.h"

#include <cstddef>
#include <vector>

#include "host/face_rule.h"
#include "host/runtime.h"

namespace dunsmere {

void ForEachMappedFace(const BakeHooks& hooks, const Mesh& mesh, const UtilitySettings& settings,
                       const std::function<void(int face, Point3 p0, Point3 p1, Point3 p2)>& face)
{
    const MapFaceFilter filter{settings.mapChannel, settings.selectedOnly != 0, settings.mtlIDOn != 0,
                               settings.mtlID};
    const int faceCount = mesh.getNumFaces();
    if (faceCount > 0 && MapFaceExclusion(mesh, filter, 0) == FaceExclusion::kNoMapChannel)
        return;  // nothing to map: the map stays black
    const UVVert* tv = mesh.mapVerts(filter.mapChannel);
    const TVFace* tf = mesh.mapFaces(filter.mapChannel);
    for (int i = 0; i < faceCount; ++i) {
        hooks.progress(static_cast<int>(100LL * i / faceCount));
        switch (MapFaceExclusion(mesh, filter, i)) {
        case FaceExclusion::kBaked: break;
        case FaceExclusion::kOtherMaterial:
            DebugPrint("Face %d not included - mtlID %d\n", i, MaterialIDOf(mesh.faces[static_cast<std::size_t>(i)]));
            continue;
        default: continue;
        }
        const TVFace& mf = tf[i];
        face(i, tv[mf.t[0]], tv[mf.t[1]], tv[mf.t[2]]);
    }
}

std::vector<FaceRows> GatherFaceRows(const BakeHooks& hooks, const Mesh& mesh, const UtilitySettings& settings, int mapWidth,
                                     int mapHeight, bool trace)
{
    std::vector<FaceRows> faces;
    faces.reserve(static_cast<std::size_t>(mesh.getNumFaces()));
    ForEachMappedFace(hooks, mesh, settings, [&](int face, Point3 p0, Point3 p1, Point3 p2) {
        FaceRows f{face, 0, 0};
        if (!FaceRowSpan(p0, p1, p2, mapWidth, mapHeight, f.first, f.last)) return;
        if (trace) TraceRasterize(p0, p1, p2, mapWidth, mapHeight, face);
        faces.push_back(f);
    });
    return faces;
}

void RasterizeBand(BArray<TexelRecord>& grid, const MapRows& rows, const std::vector<FaceRows>& faces,
                   const Mesh& mesh, int mapChannel, bool traceFirst)
{
    const UVVert* tv = mesh.mapVerts(mapChannel);
    const TVFace* tf = mesh.mapFaces(mapChannel);
    const int last = rows.first + static_cast<int>(rows.count) - 1;
    for (const FaceRows& f : faces) {
        if (f.last < rows.first || f.first > last) continue;
        const TVFace& mf = tf[f.face];
        RasterizeFaceInRows(grid, rows, tv[mf.t[0]], tv[mf.t[1]], tv[mf.t[2]], f.face,
                            traceFirst && f.first >= rows.first);
    }
}

}  // namespace dunsmere
