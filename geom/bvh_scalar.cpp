// The tree walk with portable box tests: the route of processors without a
// vector unit the other files serve, and the reference the vector tests
// are checked against.
#include "geom/detail/bvh_traverse.h"

namespace dunsmere {

namespace {

// Forced inline: with a walk for each facing, the compiler would otherwise
// keep one shared copy and call it for every node.
[[gnu::always_inline]] inline unsigned TestNodeScalar(const BvhNode& node, const PreparedRay& ray, float limitUp,
                                                      float* entries)
{
    unsigned mask = 0;
    for (int c = 0; c < 8; ++c) {
        float entry = -INFINITY, exit = INFINITY;
        for (int a = 0; a < 3; ++a) {
            const float nearBound = ray.nearHi[a] ? node.hi[a][c] : node.lo[a][c];
            const float farBound = ray.nearHi[a] ? node.lo[a][c] : node.hi[a][c];
            const float tn = (nearBound - ray.o[a]) * ray.inv[a];
            const float tf = (farBound - ray.o[a]) * ray.inv[a];
            // As the vector max and min: a not-a-number bound is ignored.
            entry = tn > entry ? tn : entry;
            exit = tf < exit ? tf : exit;
        }
        entries[c] = entry;
        const bool prune = exit < ray.exitFloor || entry > limitUp || entry > Up(exit) || ConeFacesAway(node, c, ray);
        if (!prune) mask |= 1u << c;
    }
    return mask;
}

// In the unnamed namespace, as the walk itself, so that its lambdas are
// inlined as in any one function.
template <Facing F>
void WalkScalar(const TreeView& tree, const Point3& O, const Point3& D, float least, float maxDistance,
                HitState& hit)
{
    const float o[3] = {O.x, O.y, O.z}, d[3] = {D.x, D.y, D.z};
    auto quadTest = [&o, &d, least](const FaceQuad& q, float maxDistance_, float bound, float* ts) {
        unsigned lanes = 0;
        for (int j = 0; j < 4; ++j)
            if (QuadLaneTest<F>(q, j, o, d, maxDistance_, bound, ts[j], least)) lanes |= 1u << j;
        return lanes;
    };
    // Lambdas, not a function's address, so that both tests are inlined.
    auto nodeTest = [](const BvhNode& node, const PreparedRay& ray, float limitUp, float* entries) {
        return TestNodeScalar(node, ray, limitUp, entries);
    };
    Walk<F>(tree, O, D, least, maxDistance, hit, nodeTest, quadTest);
}

}  // namespace

template <Facing F>
void TraverseScalar(const TreeView& tree, const Point3& O, const Point3& D, float least, float maxDistance,
                    HitState& hit)
{
    WalkScalar<F>(tree, O, D, least, maxDistance, hit);
}
template void TraverseScalar<Facing::kFront>(const TreeView&, const Point3&, const Point3&, float, float, HitState&);
template void TraverseScalar<Facing::kBack>(const TreeView&, const Point3&, const Point3&, float, float, HitState&);

}  // namespace dunsmere
