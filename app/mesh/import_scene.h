// An assimp scene flattened into one welded triangle list: what the import
// child hands back to the command, before it becomes a Mesh. Plain data
// with no pointers, so that it can cross a pipe.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "host/mesh.h"

namespace dunsmere {

// The UV sets an assimp mesh can have, all of which the Mesh has map
// channels for (set k is channel k + 1); checked against assimp's own count
// where its headers are included.
inline constexpr unsigned kImportUVSets = 8;

struct ImportedTriangle {
    std::uint32_t v[3];     // welded vertices: indices into ImportedScene::verts
    std::uint32_t flat[3];  // assimp vertices counted over the whole scene: < flatCount
    std::uint32_t material;  // assimp's material index, at most 0xFFFF
};

struct ImportedScene {
    std::vector<Point3> verts;  // welded positions, in world space
    std::vector<ImportedTriangle> triangles;
    std::uint32_t flatCount = 0;  // assimp vertices over the whole scene
    // Per UV set: empty when no mesh had it, else flatCount entries (a vertex
    // without the set maps to 0, 0, 0).
    std::array<std::vector<UVVert>, kImportUVSets> uvs;
    // Empty when no mesh had colour set 0, else flatCount entries (white
    // where a mesh had none).
    std::vector<VertColor> colors;
    // Empty when the file's normals do not count (none given, or made up by
    // the importer rather than read), else flatCount entries, normalised or
    // not as the file gave them; (0, 0, 0) for a vertex without one.
    std::vector<Point3> normals;
    std::vector<std::string> materialNames;  // by assimp material index; "" for unnamed
    std::uint64_t ignoredPrimitives = 0;     // points and lines left out
};

}  // namespace dunsmere
