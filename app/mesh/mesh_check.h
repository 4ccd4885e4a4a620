// Whether a mesh is safe to bake: every index in range, every number finite,
// and no normal that overflows single precision. A file reader and anything
// that rescales a mesh ask this one rule, so that what geom/ later computes
// from the mesh is finite by construction.
//
// Overflow depends on edge length, not position: a face vector is the cross
// product of two edge vectors, so it stays finite, with room for its squared
// length, while every edge component is at most kMaxEdgeComponent. The sums
// of face vectors at a vertex are then tested as the normals sum them.
//
// Pure: reads the mesh only, throws nothing. Any thread.
#pragma once

#include <string>

#include "host/mesh.h"

namespace dunsmere {

// 2^30: the largest magnitude of an edge-vector component.
inline constexpr float kMaxEdgeComponent = 1073741824.0f;
// Faces with an edge shorter than this keep a normal, but an imprecise one.
inline constexpr float kShortEdge = 1e-9f;

enum class MeshFault {
    kNone,
    kVertexIndex,        // a face names a vertex the mesh lacks
    kMapIndex,           // a map face names a map vertex its channel lacks
    kNonFiniteVertex,
    kNonFiniteMapVertex,  // channel 0: a vertex colour
    kLongEdge,           // an edge-vector component above kMaxEdgeComponent
    kNormalOverflow,     // a vertex whose summed face vectors have an infinite squared length
};

// The first fault found, in the order the enumeration lists them, and where.
struct MeshCheck {
    MeshFault fault = MeshFault::kNone;
    int face = -1;     // kVertexIndex, kMapIndex, kLongEdge
    // The vertex (kNonFiniteVertex, kNormalOverflow), the map or colour
    // vertex (kNonFiniteMapVertex), or the index the face names (kVertexIndex,
    // kMapIndex).
    int vertex = -1;
    int channel = -1;  // kMapIndex, kNonFiniteMapVertex
    // Faces with an edge shorter than kShortEdge; counted only on a mesh
    // without fault.
    int shortEdgeFaces = 0;

    bool ok() const { return fault == MeshFault::kNone; }
};

// Channels without map vertices are not looked at: nothing reads their faces.
// Colour faces are checked as far as both the colour and the mesh faces go.
MeshCheck CheckMesh(const Mesh& mesh);

// Why, in words, for an error message: "face 12 has an edge ...". Empty for
// a mesh without fault.
std::string MeshFaultText(const MeshCheck& check);
// What a user should hear about a mesh that passed: "3 faces have edges
// shorter than 1e-9; ...". Empty when there is nothing to say.
std::string MeshCheckWarning(const MeshCheck& check);

}  // namespace dunsmere
