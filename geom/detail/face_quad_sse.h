// The quad test in 128-bit lanes, shared by the SSE2, AVX2 and AVX-512
// traversal files (each compiles it with its own flags; internal linkage,
// as everything of theirs). Each lane computes QuadLaneTest's expressions
// in its order, so the accepted lanes and their t are that test's.
#pragma once

#include <emmintrin.h>

#include "geom/detail/bvh_traverse.h"
#include "geom/detail/face_quad.h"

namespace dunsmere {

namespace {

// The ray broadcast to every lane, with the least t a lane accepts.
struct QuadRay {
    __m128 o[3], d[3];
    __m128 least;
};

inline QuadRay PrepareQuadRay(const Point3& O, const Point3& D, float least)
{
    return {{_mm_set1_ps(O.x), _mm_set1_ps(O.y), _mm_set1_ps(O.z)},
            {_mm_set1_ps(D.x), _mm_set1_ps(D.y), _mm_set1_ps(D.z)},
            _mm_set1_ps(least)};
}

inline __m128 Select3(__m128 m0, __m128 m1, __m128 m2, __m128 x, __m128 y, __m128 z)
{
    return _mm_or_ps(_mm_or_ps(_mm_and_ps(m0, x), _mm_and_ps(m1, y)), _mm_and_ps(m2, z));
}

// The mask of the lanes that accept the ray, their t in ts.
template <Facing F>
inline unsigned TestQuadSse(const FaceQuad& q, const QuadRay& r, float maxDistance, float bound, float* ts)
{
    const __m128 nx = _mm_load_ps(q.nx), ny = _mm_load_ps(q.ny), nz = _mm_load_ps(q.nz);
    const __m128 den = _mm_add_ps(_mm_add_ps(_mm_mul_ps(nz, r.d[2]), _mm_mul_ps(ny, r.d[1])), _mm_mul_ps(nx, r.d[0]));
    // Faces<F>: a not-a-number den goes on, as in the scalar test.
    __m128 ok = F == Facing::kFront ? _mm_cmpngt_ps(den, _mm_set1_ps(-0.0001f))
                                    : _mm_cmpnlt_ps(den, _mm_set1_ps(0.0001f));
    if (_mm_movemask_ps(ok) == 0) return 0;
    const __m128 dot = _mm_add_ps(_mm_add_ps(_mm_mul_ps(nx, r.o[0]), _mm_mul_ps(nz, r.o[2])), _mm_mul_ps(ny, r.o[1]));
    const __m128 tf = _mm_div_ps(_mm_sub_ps(_mm_load_ps(q.nDotC0), dot), den);
    ok = _mm_and_ps(ok, _mm_cmpge_ps(tf, r.least));
    ok = _mm_and_ps(ok, _mm_cmpngt_ps(tf, _mm_set1_ps(maxDistance)));
    ok = _mm_and_ps(ok, _mm_cmpngt_ps(tf, _mm_set1_ps(bound)));
    if (_mm_movemask_ps(ok) == 0) return 0;

    // Axis a is (k+1)%3 and b is (k+2)%3.
    const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(q.k));
    const __m128 k0 = _mm_castsi128_ps(_mm_cmpeq_epi32(k, _mm_setzero_si128()));
    const __m128 k1 = _mm_castsi128_ps(_mm_cmpeq_epi32(k, _mm_set1_epi32(1)));
    const __m128 k2 = _mm_castsi128_ps(_mm_cmpeq_epi32(k, _mm_set1_epi32(2)));
    const __m128 oa = Select3(k2, k0, k1, r.o[0], r.o[1], r.o[2]);
    const __m128 da_ = Select3(k2, k0, k1, r.d[0], r.d[1], r.d[2]);
    const __m128 ob = Select3(k1, k2, k0, r.o[0], r.o[1], r.o[2]);
    const __m128 db_ = Select3(k1, k2, k0, r.d[0], r.d[1], r.d[2]);
    const __m128 da = _mm_sub_ps(_mm_add_ps(_mm_mul_ps(tf, da_), oa), _mm_load_ps(q.c0a));
    const __m128 db = _mm_sub_ps(_mm_add_ps(_mm_mul_ps(tf, db_), ob), _mm_load_ps(q.c0b));
    const __m128 nk = _mm_load_ps(q.nk);
    const __m128 w1 = _mm_div_ps(_mm_sub_ps(_mm_mul_ps(da, _mm_load_ps(q.e2b)), _mm_mul_ps(_mm_load_ps(q.e2a), db)), nk);
    const __m128 w2 = _mm_div_ps(_mm_sub_ps(_mm_mul_ps(_mm_load_ps(q.e1a), db), _mm_mul_ps(_mm_load_ps(q.e1b), da)), nk);
    const __m128 w0 = _mm_sub_ps(_mm_sub_ps(_mm_set1_ps(1.0f), w1), w2);
    const __m128 zero = _mm_setzero_ps();
    ok = _mm_and_ps(ok, _mm_and_ps(_mm_cmpge_ps(w1, zero), _mm_and_ps(_mm_cmpge_ps(w2, zero), _mm_cmpge_ps(w0, zero))));
    _mm_storeu_ps(ts, tf);
    return static_cast<unsigned>(_mm_movemask_ps(ok));
}

// The walk with NodeTest for the nodes and the leaves' quads in 128-bit
// lanes. NodeTest is a template argument, not a function's address held at
// run time, so that both tests are inlined into the walk.
template <Facing F, unsigned (*NodeTest)(const BvhNode&, const PreparedRay&, float, float*)>
inline void WalkWithQuadLanes(const TreeView& tree, const Point3& O, const Point3& D, float least,
                              float maxDistance, HitState& hit)
{
    const QuadRay quadRay = PrepareQuadRay(O, D, least);
    auto quadTest = [&quadRay](const FaceQuad& q, float maxDistance_, float bound, float* ts) {
        return TestQuadSse<F>(q, quadRay, maxDistance_, bound, ts);
    };
    auto nodeTest = [](const BvhNode& node, const PreparedRay& ray, float limitUp, float* entries) {
        return NodeTest(node, ray, limitUp, entries);
    };
    Walk<F>(tree, O, D, least, maxDistance, hit, nodeTest, quadTest);
}

}  // namespace

}  // namespace dunsmere
