// The tree walk with AVX2 box tests, all eight children at once.
#include "geom/detail/bvh_slabs256.h"
#include "geom/detail/face_quad_sse.h"

namespace dunsmere {

namespace {

unsigned TestNodeAvx2(const BvhNode& node, const PreparedRay& ray, float limitUp, float* entries)
{
    __m256 entry, exit, dot, bound;
    Slabs(node, ray, entry, exit);
    ConeSides(node, ray, dot, bound);
    const __m256 prune =
        _mm256_or_ps(_mm256_cmp_ps(exit, _mm256_set1_ps(ray.exitFloor), _CMP_LT_OQ),
                     _mm256_or_ps(_mm256_cmp_ps(entry, _mm256_set1_ps(limitUp), _CMP_GT_OQ),
                                  _mm256_or_ps(_mm256_cmp_ps(entry, UpVec(exit), _CMP_GT_OQ),
                                               _mm256_cmp_ps(dot, bound, _CMP_GT_OQ))));
    _mm256_storeu_ps(entries, entry);
    return ~static_cast<unsigned>(_mm256_movemask_ps(prune)) & 0xFFu;
}

}  // namespace

template <Facing F>
void TraverseAvx2(const TreeView& tree, const Point3& O, const Point3& D, float least, float maxDistance,
                  HitState& hit)
{
    WalkWithQuadLanes<F, TestNodeAvx2>(tree, O, D, least, maxDistance, hit);
}
template void TraverseAvx2<Facing::kFront>(const TreeView&, const Point3&, const Point3&, float, float, HitState&);
template void TraverseAvx2<Facing::kBack>(const TreeView&, const Point3&, const Point3&, float, float, HitState&);

}  // namespace dunsmere
