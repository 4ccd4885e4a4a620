// The tree walk with SSE2 box tests, four children at a time.
#include <emmintrin.h>

#include "geom/detail/bvh_traverse.h"
#include "geom/detail/face_quad_sse.h"

namespace dunsmere {

namespace {

inline __m128 UpVec(__m128 x)
{
    const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), x);
    return _mm_add_ps(_mm_add_ps(x, _mm_mul_ps(magnitude, _mm_set1_ps(kLimitSlack))), _mm_set1_ps(kTiny));
}

// Four children's cone rule (bvh.h): the mask of those facing away. SSE2
// widens bytes by unpacking them into the top of each lane.
inline __m128 ConesFacingAway(const BvhNode& node, int half, const PreparedRay& ray)
{
    auto bytes = [](const void* p) {
        int word;
        __builtin_memcpy(&word, p, sizeof word);
        const __m128i b = _mm_cvtsi32_si128(word);
        return _mm_unpacklo_epi16(_mm_unpacklo_epi8(b, b), _mm_unpacklo_epi8(b, b));
    };
    auto axis = [&](int a) { return _mm_cvtepi32_ps(_mm_srai_epi32(bytes(node.axis[a] + half), 24)); };
    const __m128 dot = _mm_add_ps(_mm_add_ps(_mm_mul_ps(axis(0), _mm_set1_ps(ray.d[0])),
                                             _mm_mul_ps(axis(1), _mm_set1_ps(ray.d[1]))),
                                  _mm_mul_ps(axis(2), _mm_set1_ps(ray.d[2])));
    const __m128 spread = _mm_cvtepi32_ps(_mm_srli_epi32(bytes(node.spread + half), 24));
    return _mm_cmpgt_ps(dot, _mm_add_ps(_mm_mul_ps(spread, _mm_set1_ps(ray.coneStep)), _mm_set1_ps(ray.coneSlack)));
}

unsigned TestNodeSse2(const BvhNode& node, const PreparedRay& ray, float limitUp, float* entries)
{
    const __m128 limit = _mm_set1_ps(limitUp);
    const __m128 exitFloor = _mm_set1_ps(ray.exitFloor);
    unsigned mask = 0;
    for (int half = 0; half < 8; half += 4) {
        __m128 entry = _mm_set1_ps(-INFINITY), exit = _mm_set1_ps(INFINITY);
        for (int a = 0; a < 3; ++a) {
            const float* nearBound = (ray.nearHi[a] ? node.hi[a] : node.lo[a]) + half;
            const float* farBound = (ray.nearHi[a] ? node.lo[a] : node.hi[a]) + half;
            const __m128 o = _mm_set1_ps(ray.o[a]), inv = _mm_set1_ps(ray.inv[a]);
            const __m128 tn = _mm_mul_ps(_mm_sub_ps(_mm_load_ps(nearBound), o), inv);
            const __m128 tf = _mm_mul_ps(_mm_sub_ps(_mm_load_ps(farBound), o), inv);
            // maxps and minps return the second operand when either is not a
            // number: a bound of 0 * inf leaves the interval as it was.
            entry = _mm_max_ps(tn, entry);
            exit = _mm_min_ps(tf, exit);
        }
        const __m128 prune =
            _mm_or_ps(_mm_or_ps(_mm_cmplt_ps(exit, exitFloor), ConesFacingAway(node, half, ray)),
                      _mm_or_ps(_mm_cmpgt_ps(entry, limit), _mm_cmpgt_ps(entry, UpVec(exit))));
        _mm_storeu_ps(entries + half, entry);
        mask |= (~static_cast<unsigned>(_mm_movemask_ps(prune)) & 15u) << half;
    }
    return mask;
}

}  // namespace

template <Facing F>
void TraverseSse2(const TreeView& tree, const Point3& O, const Point3& D, float least, float maxDistance,
                  HitState& hit)
{
    WalkWithQuadLanes<F, TestNodeSse2>(tree, O, D, least, maxDistance, hit);
}
template void TraverseSse2<Facing::kFront>(const TreeView&, const Point3&, const Point3&, float, float, HitState&);
template void TraverseSse2<Facing::kBack>(const TreeView&, const Point3&, const Point3&, float, float, HitState&);

}  // namespace dunsmere
