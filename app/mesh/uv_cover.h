// How well one map channel's UV triangles cover the map: the share of the
// map they cover, the share they cover twice, and the faces a bake cannot
// rasterize. A host measures this itself, on the UV triangles, before it
// hands a mesh to a map bake and when it shows a mesh to its user.
//
// Every measure samples a grid of points in the unit square and tests each
// point against each triangle exactly: the UV corners are snapped to an
// integer lattice fine enough that a corner moves by at most 1/128 of a
// texel, and the tests are integer edge functions, so a point that lies on a
// shared edge or vertex is decided the same way for both faces, whatever
// rounding the floats would have done. A face takes no part when its map
// face names a vertex the channel lacks, when a corner is not finite or lies
// beyond kUvReach of the square, or when it has no area on the lattice.
//
// Pure: reads the mesh only. Any thread; the time is linear in the samples
// the faces cover plus the grid rows their bounding boxes span.
#pragma once

#include "host/mesh.h"

namespace dunsmere {

// How far outside the unit square, in UV units, a corner may lie and its
// face still be measured: far enough for any layout that wraps, near enough
// that the lattice's products fit in 64 bits.
inline constexpr float kUvReach = 64.0f;

// The largest texel grid side the measures take.
inline constexpr int kUvGridMax = 1 << 16;

// Faces whose UV triangles overlap by area, measured at the texel centres of
// a WIDTH x HEIGHT map, edges excluded: a centre strictly inside two or more
// faces is covered twice. FACES counts the faces that own at least one such
// centre; SHARE is the number of such centres over WIDTH x HEIGHT. Faces that
// only share an edge or a vertex do not overlap.
struct UvOverlap {
    int faces = 0;
    double share = 0.0;

    bool operator==(const UvOverlap&) const = default;
};

// Zero for a channel the mesh lacks, or a size outside 1..kUvGridMax.
UvOverlap MeasureUvOverlap(const Mesh& mesh, int channel, int width, int height);

// The grid side of the coverage measure: the largest map the panel makes, so
// that coverage is as fine as any bake can see.
inline constexpr int kCoverageGrid = 4096;

// The area of the union of the channel's UV triangles inside the unit square,
// as the share of the kCoverageGrid x kCoverageGrid texel centres that lie
// inside or on some triangle; within about the triangles' outline length
// over kCoverageGrid of the exact area. Zero for a channel the mesh lacks.
double UvCoverage(const Mesh& mesh, int channel);

// The faces a map bake of CHANNEL leaves out for their UVs: a map face that
// names a vertex the channel lacks, or a corner outside the accepted map
// range (host/face_rule.h). Every face, for a channel without vertices.
int UvFacesOutOfRange(const Mesh& mesh, int channel);

}  // namespace dunsmere
