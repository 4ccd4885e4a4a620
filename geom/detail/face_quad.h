// Four faces of a leaf side by side, so that a vector unit tests them at
// once. A lane holds a FaceRecord's fields, and the lane test evaluates
// FaceTest's very float expressions in the same order: IEEE division and
// every other operation round alike in a vector lane and in a scalar, so a
// lane accepts a ray exactly when FaceTest accepts it, with the same t.
#pragma once

#include <cstdint>
#include <vector>

#include "geom/detail/face_test.h"

namespace dunsmere {

// An empty lane has a zero normal, which no ray faces, and no face index.
struct alignas(16) FaceQuad {
    float nx[4], ny[4], nz[4];
    float nDotC0[4];
    float c0a[4], c0b[4];  // c0 in the two axes of the inside test
    float e1a[4], e1b[4], e2a[4], e2b[4];
    float nk[4];
    std::int32_t k[4];  // the projection axis; a = (k+1)%3, b = (k+2)%3
    std::int32_t index[4] = {-1, -1, -1, -1};
};
static_assert(sizeof(FaceQuad) == 208, "a quad is thirteen vectors");

// Lane j of q against ray (O, D): FaceTest, expression for expression.
template <Facing F = Facing::kFront>
static inline bool QuadLaneTest(const FaceQuad& q, int j, const float* O, const float* D, float maxDistance,
                                float bound, float& t, float least = 0.0f)
{
    const float den = (q.nz[j] * D[2] + q.ny[j] * D[1]) + q.nx[j] * D[0];
    if (!Faces<F>(den)) return false;
    const float tf = (q.nDotC0[j] - ((q.nx[j] * O[0] + q.nz[j] * O[2]) + q.ny[j] * O[1])) / den;
    if (!(tf >= least)) return false;
    if (tf > maxDistance || tf > bound) return false;
    const int k = q.k[j], a = (k + 1) % 3, b = (k + 2) % 3;
    const float da = (tf * D[a] + O[a]) - q.c0a[j];
    const float db = (tf * D[b] + O[b]) - q.c0b[j];
    const float w1 = (da * q.e2b[j] - q.e2a[j] * db) / q.nk[j];
    if (!(w1 >= 0.0f)) return false;
    const float w2 = (q.e1a[j] * db - q.e1b[j] * da) / q.nk[j];
    if (!(w2 >= 0.0f)) return false;
    const float w0 = (1.0f - w1) - w2;
    if (!(w0 >= 0.0f)) return false;
    t = tf;
    return true;
}

// Puts record r into lane j.
inline void SetQuadLane(FaceQuad& q, int j, const FaceRecord& r)
{
    const float c0[3] = {r.c0.x, r.c0.y, r.c0.z};
    q.nx[j] = r.N.x;
    q.ny[j] = r.N.y;
    q.nz[j] = r.N.z;
    q.nDotC0[j] = r.nDotC0;
    q.c0a[j] = c0[r.a];
    q.c0b[j] = c0[r.b];
    q.e1a[j] = r.e1a;
    q.e1b[j] = r.e1b;
    q.e2a[j] = r.e2a;
    q.e2b[j] = r.e2b;
    q.nk[j] = r.nk;
    q.k[j] = r.k;
    q.index[j] = r.index;
}

}  // namespace dunsmere
