// Which faces of a mesh a map run bakes, and why it leaves the others out.
// The map generation applies this rule; a host that warns its user before a
// run asks the same rule, so the warning cannot drift from what is baked.
//
// Pure: reads the mesh only. Any thread.
#pragma once

#include "host/mesh.h"

// The accepted range of a map coordinate, in single precision. A face with
// a u or v outside it is not rasterized.
inline constexpr float kMapRangeLow = -0.001f;
inline constexpr float kMapRangeHigh = 1.0001f;

// Within kMapRangeLow..kMapRangeHigh; false for not-a-number.
inline bool InMapRange(float c) { return c >= kMapRangeLow && c <= kMapRangeHigh; }

// What a map run is told to bake.
struct MapFaceFilter {
    int mapChannel = 1;
    bool selectedOnly = false;
    bool materialFilter = false;
    int materialID = 1;  // one-based, as the user names it
};

// Why a face is left out, in the order the rule tests them; kBaked for a
// face that is baked.
enum class FaceExclusion {
    kBaked,
    kNoMapChannel,     // the channel has no map vertices or no map faces
    kNotSelected,      // selectedOnly and the face is not selected
    kOtherMaterial,    // materialFilter and the face has another ID
    kMapIndexOutOfRange,  // its map face names a vertex the channel lacks
    kOutsideUnitSquare,   // a corner's u or v is outside the accepted range
};

// The verdict for face `face` (0 <= face < mesh.getNumFaces()).
FaceExclusion MapFaceExclusion(const Mesh& mesh, const MapFaceFilter& filter, int face);

// The one-based material ID of a face.
inline int MaterialIDOf(const Face& face) { return face.getMatID() + 1; }
