// The thirteen user settings of the utility, in their record order. Each
// field's name is its key in the settings file. The panel writes the record;
// the generations and their workers only read it.
#pragma once

#include <cstdint>

inline constexpr int kAlgorithmUVMap = 1008;
inline constexpr int kAlgorithmVertexColors = 1009;
inline constexpr int kAlgorithmSpatial = 1010;

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

    bool operator==(const UtilitySettings&) const = default;
};
