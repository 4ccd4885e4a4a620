// One texel of the smurl map: the face that covers it and the weights of the
// face's three vertices at the texel.
#pragma once

#include <cstdint>

#include "host/point3.h"

namespace dunsmere {

struct TexelRecord {
    // The covering face; -1 for none.
    std::int32_t face = -1;
    // The weights the sample is evaluated at: each at least 0.01 before the
    // three were scaled to sum to 1, so the point lies inside the face.
    Point3 bary;
    // The weights as computed from the texel's position, before that
    // conditioning. Edge texels outside the exact triangle have a negative
    // one; the noise lookup places its point with these.
    Point3 rawBary;

    bool operator==(const TexelRecord&) const = default;
};
static_assert(sizeof(TexelRecord) == 28, "a texel record is a face index and six floats");

// The empty record: no face. A default-constructed record is this one.
inline constexpr TexelRecord kEmptyTexel{};

// What the rasterizer draws a face's edges with before it fills the spans.
// It never outlives the rasterization of one face.
inline constexpr TexelRecord kEdgeMarker{-1, {-1.0f, -1.0f, -1.0f}, {}};

inline bool IsEdgeMarker(const TexelRecord& r) { return r.bary.x < -0.9f; }

}  // namespace dunsmere
