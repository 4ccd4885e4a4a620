// The faces a map run bakes, with their map triangles: the face rule's
// choice (selection, material, a map face naming a vertex outside the
// channel), walked in face order.
//
// User-interface thread.
#pragma once

#include <functional>
#include <vector>

#include "eval/eval.h"
#include "host/mesh.h"
#include "map/detail/rasterize.h"

namespace dunsmere {

// Calls `face` for each baked face with its map vertices, moving the hooks'
// bar through the share of faces seen and writing the debug line of each face
// that another material leaves out. Calls nothing when the mesh lacks the
// map channel.
void ForEachMappedFace(const BakeHooks& hooks, const Mesh& mesh, const UtilitySettings& settings,
                       const std::function<void(int face, Point3 p0, Point3 p1, Point3 p2)>& face);

// A face to rasterize and the rows of the map it may write.
struct FaceRows {
    int face;
    int first, last;
};

// ForEachMappedFace's faces that a mapWidth x mapHeight map's rasterizing
// reaches, with their rows, in face order. TRACE writes each one's
// rasterizer debug lines as it is found. Throws std::bad_alloc before it
// moves the bar when the list cannot be had.
std::vector<FaceRows> GatherFaceRows(const BakeHooks& hooks, const Mesh& mesh, const UtilitySettings& settings, int mapWidth,
                                     int mapHeight, bool trace);

// Rasterizes into band ROWS of GRID the gathered faces that reach it, in
// face order. With traceFirst a face's debug lines are written in the band
// of its first row.
void RasterizeBand(BArray<TexelRecord>& grid, const MapRows& rows, const std::vector<FaceRows>& faces,
                   const Mesh& mesh, int mapChannel, bool traceFirst);

}  // namespace dunsmere
