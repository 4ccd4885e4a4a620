// The tree walk with AVX-512 box tests: eight children at once, the
// comparisons straight into a mask register.
#include "geom/detail/bvh_slabs256.h"
#include "geom/detail/face_quad_sse.h"

namespace dunsmere {

namespace {

unsigned TestNodeAvx512(const BvhNode& node, const PreparedRay& ray, float limitUp, float* entries)
{
    __m256 entry, exit, dot, bound;
    Slabs(node, ray, entry, exit);
    ConeSides(node, ray, dot, bound);
    const __mmask8 prune = _mm256_cmp_ps_mask(exit, _mm256_set1_ps(ray.exitFloor), _CMP_LT_OQ) |
                           _mm256_cmp_ps_mask(entry, _mm256_set1_ps(limitUp), _CMP_GT_OQ) |
                           _mm256_cmp_ps_mask(entry, UpVec(exit), _CMP_GT_OQ) |
                           _mm256_cmp_ps_mask(dot, bound, _CMP_GT_OQ);
    _mm256_storeu_ps(entries, entry);
    return static_cast<unsigned>(static_cast<__mmask8>(~prune));
}

}  // namespace

template <Facing F>
void TraverseAvx512(const TreeView& tree, const Point3& O, const Point3& D, float least, float maxDistance,
                  HitState& hit)
{
    WalkWithQuadLanes<F, TestNodeAvx512>(tree, O, D, least, maxDistance, hit);
}
template void TraverseAvx512<Facing::kFront>(const TreeView&, const Point3&, const Point3&, float, float, HitState&);
template void TraverseAvx512<Facing::kBack>(const TreeView&, const Point3&, const Point3&, float, float, HitState&);

}  // namespace dunsmere
