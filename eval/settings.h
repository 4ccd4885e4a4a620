// The user settings of the utility, in their record order: the thirteen of
// the first page, then the options that go beyond the specified map, each at
// a default that leaves a run as it has always been. Each field's name is
// its key in the settings file. The panel writes the record;
// the generations and their workers only read it.
#pragma once

#include <cstdint>

namespace dunsmere {

inline constexpr int kAlgorithmUVMap = 1008;
inline constexpr int kAlgorithmVertexColors = 1009;
inline constexpr int kAlgorithmSpatial = 1010;

// The options' ranges: what a generation serves and the page's spinners show.
inline constexpr std::int32_t kMaxPadding = 64;
inline constexpr std::int32_t kMaxSupersample = 8;
// The most texels a side of a supersampled map's computed grid may have.
inline constexpr std::int64_t kMaxSupersampledSide = 32768;
// The largest ray bias, the float just below 1: a bias of 1 would ignore
// every hit within the distance.
inline constexpr float kMaxRayBias = 0x1.fffffep-1f;

struct UtilitySettings {
    std::int32_t XSiz = 200;
    std::int32_t YSiz = 200;
    std::int32_t algorithm = kAlgorithmUVMap;
    std::int32_t horizontalSpread = 8;
    std::int32_t verticalSpread = 1;
    std::int32_t mapChannel = 0;
    float dist = 0.0f;
    std::int32_t selectedOnly = 0;
    std::int32_t noiseOn = 0;
    float noiseSize = 25.0f;
    std::int32_t mtlIDOn = 0;
    std::int32_t mtlID = 1;
    std::int32_t addVertexColors = 0;

    std::int32_t padding = 1;         // rounds of the map's edge growth, 0..kMaxPadding
    std::int32_t supersample = 1;     // S: the map is computed S x S finer and averaged
    std::int32_t coverageAlpha = 0;   // alpha holds the share of each texel faces cover
    std::int32_t invertLevels = 0;    // white is open: reached levels become 65535 - level
    std::int32_t evenRing = 0;        // the ring's H azimuths at 360/H apart, from 0
    std::int32_t sceneOccluders = 0;  // the host's occluder nodes enter the ray scene
    float rayBias = 0.0f;             // F, 0..kMaxRayBias: rays look past hits nearer than F * dist
    std::int32_t highPoly = 0;        // the surface is the host's source nodes', projected onto the mesh
    float rayFront = 0.02f;           // the projection's reach in front of the mesh, in diagonals, 0..1
    float rayRear = 0.02f;            // and behind it

    bool operator==(const UtilitySettings&) const = default;
};

}  // namespace dunsmere
