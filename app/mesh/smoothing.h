// Smoothing groups for meshes whose files have none: which edges are hard,
// decided from the file's normals or, without them, from the angle between
// faces; the faces linked by smooth edges as clusters; and one smoothing
// bit per cluster.
//
// Two faces share an edge when two of their corners are the same two mesh
// vertices. Across a shared edge they are smooth when
//   - with file normals at all four corners concerned: their corner normals
//     agree at both ends of the edge, within kNormalTolerance per component
//     once each is normalised;
//   - otherwise: the angle between their face normals is at most the smooth
//     angle (a face of zero area is smooth with every neighbour).
// An edge shared by more than kPairedFaces faces links each of them only to
// the next in face order, so that no file makes the pairing quadratic.
//
// Bits are given greedily, clusters in the order of their first face: each
// takes the lowest of the 32 bits that no cluster meeting it at any vertex
// has taken. A cluster that finds none free gets group 0, so its faces are
// sampled flat with their own normal.
//
// Without file normals, an angle of 180 or more puts every face in group 1,
// whatever touches what: the mesh is smooth everywhere, as one group.
#pragma once

#include <string>
#include <vector>

#include "app/mesh/mesh_file.h"

namespace dunsmere {

inline constexpr double kDefaultSmoothAngle = 60.0;
inline constexpr double kMaxSmoothAngle = 180.0;
inline constexpr float kNormalTolerance = 1e-4f;
inline constexpr size_t kPairedFaces = 8;

struct Smoothing {
    std::vector<int> cluster;     // per face: its cluster, numbered by first face
    int clusters = 0;
    std::vector<DWORD> group;     // per face: its cluster's bit, or 0
    int ungroupedFaces = 0;       // faces in clusters that found no free bit
};

// CORNER_NORMALS is empty or holds three normals per face (face f's corner k
// at 3f + k); a zero vector is no normal. ANGLE is in degrees, 0 to 180.
// Precondition: every face's vertex indices are below the vertex count.
Smoothing FindSmoothing(const Mesh& mesh, const std::vector<Point3>& cornerNormals, double angle);

// Puts FILE's faces into the groups FindSmoothing gives and, when some found
// no free bit, adds a warning naming PATH and counting them.
void SmoothMeshFile(MeshFile& file, const std::string& path, const std::vector<Point3>& cornerNormals,
                    double angle);

}  // namespace dunsmere
