// The one per-face ray test. The brute-force loop and the accelerated scene
// both call FaceTest on a FaceRecord, so an accepted face's t has the same
// bits whichever route asks.
//
// The record holds what does not depend on the ray, computed with the very
// float expressions the test would otherwise evaluate per ray; the test keeps
// the three IEEE divisions (a reciprocal would round differently).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "geom/ray_scene.h"
#include "host/mesh.h"
#include "host/point3.h"
#include "host/tab.h"

namespace dunsmere {

struct FaceRecord {
    Point3 N;          // the stored unit normal
    float nDotC0;      // (N.z*c0.z + N.y*c0.y) + N.x*c0.x
    Point3 c0;
    // E1 = c1 - c0 and E2 = c2 - c0 in the two axes a = (k+1)%3, b = (k+2)%3
    // the inside test reads: E1.a, E1.b, E2.a, E2.b.
    float e1a, e1b, e2a, e2b;
    float nk;          // (E1 x E2)[k], the divisor of the weights
    // MaxComponent(E1 x E2), the axis the face is projected along, and the
    // two it is tested in.
    std::uint8_t k, a, b, unused;
    int index;         // the face's index in its mesh
};
static_assert(sizeof(FaceRecord) == 56, "a face record is fourteen words");

// The record of face `f`, given its stored normal. Expressions as the plain
// test writes them, so the record changes no bit of any result.
inline FaceRecord MakeFaceRecord(const Mesh& mesh, int f, const Point3& N)
{
    const Face& face = mesh.faces[static_cast<std::size_t>(f)];
    const Point3 c0 = mesh.verts[face.v[0]];
    const Point3 E1 = mesh.verts[face.v[1]] - c0;
    const Point3 E2 = mesh.verts[face.v[2]] - c0;
    const Point3 cross = CrossProd(E1, E2);
    const int k = MaxComponent(cross);
    const int a = (k + 1) % 3, b = (k + 2) % 3;
    FaceRecord r;
    r.N = N;
    r.nDotC0 = (N.z * c0.z + N.y * c0.y) + N.x * c0.x;
    r.c0 = c0;
    r.e1a = E1[a];
    r.e1b = E1[b];
    r.e2a = E2[a];
    r.e2b = E2[b];
    r.nk = cross[k];
    r.k = static_cast<std::uint8_t>(k);
    r.a = static_cast<std::uint8_t>(a);
    r.b = static_cast<std::uint8_t>(b);
    r.unused = 0;
    r.index = f;
    return r;
}

// Whether no ray can ever be accepted by the face: a zero or not-a-number
// normal fails the facing test or gives a not-a-number t, and a zero or
// not-a-number divisor fails the inside test.
inline bool NeverHit(const FaceRecord& r)
{
    const bool zeroNormal = r.N.x == 0.0f && r.N.y == 0.0f && r.N.z == 0.0f;
    const bool nanNormal = std::isnan(r.N.x) || std::isnan(r.N.y) || std::isnan(r.N.z);
    return zeroNormal || nanNormal || r.nk == 0.0f || std::isnan(r.nk);
}

// The facing test: whether a face with den = N . D counts for a query of
// facing F. Faces seen edge-on never count, nor faces seen from the side the
// query leaves out: so a ray that leaves a face on the side its query counts
// never hits that face. The back's bound is the front's negated: a back
// query hits what a front one over negated normals hits, at the same t but
// for the sign of a zero. A not-a-number den counts here: its t is refused.
// Internal linkage, as everything here.
template <Facing F>
static inline bool Faces(float den)
{
    if constexpr (F == Facing::kFront)
        return !(den > -0.0001f);
    else
        return !(den < 0.0001f);
}

// Tests ray (O, D), given as coordinate arrays, against the face: true with
// the face's t when the face faces the ray as F asks (see Faces), least <= t,
// t is neither above maxDistance nor above bound, and the hit point lies
// inside or on the face's border. least is 0 or above: at 0 a ray sees every
// face from its origin on, and above it a ray looks past the faces nearer
// than least (the ray bias). A not-a-number maxDistance or bound rejects
// nothing; a not-a-number t is rejected by !(t >= least).
//
// Internal linkage: this is also compiled into the traversal files built
// for other instruction sets, and nothing of theirs may be shared with the
// rest of the program.
template <Facing F = Facing::kFront>
static inline bool FaceTest(const FaceRecord& r, const float* O, const float* D, float maxDistance, float bound,
                            float& t, float least = 0.0f)
{
    const Point3& N = r.N;
    // Facing test first, before any division.
    const float den = (N.z * D[2] + N.y * D[1]) + N.x * D[0];
    if (!Faces<F>(den)) return false;
    const float tf = (r.nDotC0 - ((N.x * O[0] + N.z * O[2]) + N.y * O[1])) / den;
    if (!(tf >= least)) return false;
    if (tf > maxDistance || tf > bound) return false;

    // The hit point and its weights in the plane the face is projected on;
    // only the two axes other than k take part.
    const float c0[3] = {r.c0.x, r.c0.y, r.c0.z};
    const float pa = tf * D[r.a] + O[r.a];
    const float pb = tf * D[r.b] + O[r.b];
    const float da = pa - c0[r.a];
    const float db = pb - c0[r.b];
    // Each weight is tested as soon as it is known: a miss on the first
    // saves the second division, and the accepted hits are the same.
    const float w1 = (da * r.e2b - r.e2a * db) / r.nk;
    if (!(w1 >= 0.0f)) return false;
    const float w2 = (r.e1a * db - r.e1b * da) / r.nk;
    if (!(w2 >= 0.0f)) return false;
    const float w0 = (1.0f - w1) - w2;
    if (!(w0 >= 0.0f)) return false;
    t = tf;
    return true;
}

// The same with the ray as points.
template <Facing F = Facing::kFront>
static inline bool FaceTest(const FaceRecord& r, const Point3& O, const Point3& D, float maxDistance, float bound,
                            float& t, float least = 0.0f)
{
    const float o[3] = {O.x, O.y, O.z}, d[3] = {D.x, D.y, D.z};
    return FaceTest<F>(r, o, d, maxDistance, bound, t, least);
}

}  // namespace dunsmere
