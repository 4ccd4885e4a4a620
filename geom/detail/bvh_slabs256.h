// The eight-child slab test in 256-bit lanes, shared by the AVX2 and
// AVX-512 traversal files (each compiles it with its own flags; internal
// linkage, as everything of theirs).
#pragma once

#include <immintrin.h>

#include "geom/detail/bvh_traverse.h"

namespace dunsmere {

namespace {

inline __m256 UpVec(__m256 x)
{
    const __m256 magnitude = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), x);
    return _mm256_add_ps(_mm256_add_ps(x, _mm256_mul_ps(magnitude, _mm256_set1_ps(kLimitSlack))),
                         _mm256_set1_ps(kTiny));
}

// Every child's entry and exit distance.
inline void Slabs(const BvhNode& node, const PreparedRay& ray, __m256& entry, __m256& exit)
{
    entry = _mm256_set1_ps(-INFINITY);
    exit = _mm256_set1_ps(INFINITY);
    for (int a = 0; a < 3; ++a) {
        const char* base = reinterpret_cast<const char*>(&node);
        const float* nearBound = reinterpret_cast<const float*>(base + ray.nearOffset[a]);
        const float* farBound = reinterpret_cast<const float*>(base + ray.farOffset[a]);
        const __m256 o = _mm256_set1_ps(ray.o[a]), inv = _mm256_set1_ps(ray.inv[a]);
        const __m256 tn = _mm256_mul_ps(_mm256_sub_ps(_mm256_load_ps(nearBound), o), inv);
        const __m256 tf = _mm256_mul_ps(_mm256_sub_ps(_mm256_load_ps(farBound), o), inv);
        // vmaxps and vminps return the second operand when either is not a
        // number: a bound of 0 * inf leaves the interval as it was.
        entry = _mm256_max_ps(tn, entry);
        exit = _mm256_min_ps(tf, exit);
    }
}

// Both sides of every child's cone rule: a child faces away from the ray
// where dot > bound.
inline void ConeSides(const BvhNode& node, const PreparedRay& ray, __m256& dot, __m256& bound)
{
    auto lanes = [](const std::int8_t* v) {
        return _mm256_cvtepi32_ps(_mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v))));
    };
    dot = _mm256_add_ps(_mm256_add_ps(_mm256_mul_ps(lanes(node.axis[0]), _mm256_set1_ps(ray.d[0])),
                                      _mm256_mul_ps(lanes(node.axis[1]), _mm256_set1_ps(ray.d[1]))),
                        _mm256_mul_ps(lanes(node.axis[2]), _mm256_set1_ps(ray.d[2])));
    const __m256 spread =
        _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(node.spread))));
    bound = _mm256_add_ps(_mm256_mul_ps(spread, _mm256_set1_ps(ray.coneStep)), _mm256_set1_ps(ray.coneSlack));
}

}  // namespace

}  // namespace dunsmere
