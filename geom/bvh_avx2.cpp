// The tree walk with AVX2 box tests, all eight children at once.
#include <immintrin.h>

#include "geom/detail/bvh_traverse.h"

namespace {

inline __m256 UpVec(__m256 x)
{
    const __m256 magnitude = _mm256_andnot_ps(_mm256_set1_ps(-0.0f), x);
    return _mm256_add_ps(_mm256_add_ps(x, _mm256_mul_ps(magnitude, _mm256_set1_ps(kLimitSlack))),
                         _mm256_set1_ps(kTiny));
}

unsigned TestNodeAvx2(const BvhNode& node, const PreparedRay& ray, float limitUp, float* entries)
{
    __m256 entry = _mm256_set1_ps(-INFINITY), exit = _mm256_set1_ps(INFINITY);
    for (int a = 0; a < 3; ++a) {
        const float* nearBound = ray.nearHi[a] ? node.hi[a] : node.lo[a];
        const float* farBound = ray.nearHi[a] ? node.lo[a] : node.hi[a];
        const __m256 o = _mm256_set1_ps(ray.o[a]), inv = _mm256_set1_ps(ray.inv[a]);
        const __m256 tn = _mm256_mul_ps(_mm256_sub_ps(_mm256_load_ps(nearBound), o), inv);
        const __m256 tf = _mm256_mul_ps(_mm256_sub_ps(_mm256_load_ps(farBound), o), inv);
        // vmaxps and vminps return the second operand when either is not a
        // number: a bound of 0 * inf leaves the interval as it was.
        entry = _mm256_max_ps(tn, entry);
        exit = _mm256_min_ps(tf, exit);
    }
    const __m256 prune =
        _mm256_or_ps(_mm256_cmp_ps(exit, _mm256_setzero_ps(), _CMP_LT_OQ),
                     _mm256_or_ps(_mm256_cmp_ps(entry, _mm256_set1_ps(limitUp), _CMP_GT_OQ),
                                  _mm256_cmp_ps(entry, UpVec(exit), _CMP_GT_OQ)));
    _mm256_storeu_ps(entries, entry);
    return ~static_cast<unsigned>(_mm256_movemask_ps(prune)) & 0xFFu;
}

}  // namespace

void TraverseAvx2(const TreeView& tree, const Point3& O, const Point3& D, float maxDistance, HitState& hit)
{
    Walk(tree, O, D, maxDistance, hit, TestNodeAvx2);
}
