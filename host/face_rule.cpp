#include "host/face_rule.h"

#include <cstddef>

FaceExclusion MapFaceExclusion(const Mesh& mesh, const MapFaceFilter& filter, int face)
{
    const int mapVertCount = mesh.getNumMapVerts(filter.mapChannel);
    const UVVert* tv = mesh.mapVerts(filter.mapChannel);
    const TVFace* tf = mesh.mapFaces(filter.mapChannel);
    if (mapVertCount <= 0 || !tv || !tf) return FaceExclusion::kNoMapChannel;
    if (filter.selectedOnly && !mesh.faceSel[face]) return FaceExclusion::kNotSelected;
    if (filter.materialFilter && MaterialIDOf(mesh.faces[static_cast<std::size_t>(face)]) != filter.materialID)
        return FaceExclusion::kOtherMaterial;
    const DWORD limit = static_cast<DWORD>(mapVertCount);
    const TVFace& mf = tf[face];
    for (DWORD t : mf.t)
        if (t >= limit) return FaceExclusion::kMapIndexOutOfRange;
    for (DWORD t : mf.t)
        if (!InMapRange(tv[t].x) || !InMapRange(tv[t].y)) return FaceExclusion::kOutsideUnitSquare;
    return FaceExclusion::kBaked;
}
