// The ray scene against the brute force: every route must return the
// reference's hit flag and the bits of its hit distance, ray for ray, never
// within a tolerance. The rays and meshes are the ones that break unsound
// trees: rays starting on faces, through edges and corners, along the axes
// and grazing; slivers, duplicates and faces of very different sizes, far
// from the origin.
#include "scene_cases.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "geom/detail/bvh.h"

#include <gtest/gtest.h>

using namespace dunsmere;

namespace {

TEST(RayScene, RandomSoupsAtEveryScaleAgree)
{
    const struct {
        float extent;
        Point3 centre;
    } cases[] = {{1e-3f, {}}, {10.0f, {}}, {1e4f, {}}, {1.0f, {3e3f, -2e3f, 1e3f}}, {50.0f, {-4e4f, 1e4f, 2e4f}}};
    std::uint32_t stream = 1;
    for (const auto& c : cases) {
        const Mesh mesh = RandomSoup(700, c.extent, stream, c.centre);
        const SceneCase sc(mesh);
        const int hits = sc.CheckAll(sc.MixedRays(12000, stream + 50));
        EXPECT_GT(hits, 2000) << "extent " << c.extent;
        ++stream;
    }
}

TEST(RayScene, NastyMeshesAgree)
{
    for (std::uint32_t variant = 1; variant <= 3; ++variant) {
        const Mesh mesh = NastyMesh(variant);
        const SceneCase sc(mesh);
        const int hits = sc.CheckAll(sc.MixedRays(20000, variant + 10));
        EXPECT_GT(hits, 4000) << "variant " << variant;
    }
}

TEST(RayScene, TinyFacesInAHugeMeshHitFromTheFarSide)
{
    const Mesh mesh = MixedScaleMesh(1);
    const SceneCase sc(mesh);
    // Rays from beyond the mesh's far end towards the small faces.
    std::vector<Ray> rays = sc.RaysAtFaces(8000, 3, {0.0f, 0.0f, 6e3f});
    const std::vector<Ray> mixed = sc.MixedRays(8000, 4);
    rays.insert(rays.end(), mixed.begin(), mixed.end());
    EXPECT_GT(sc.CheckAll(rays), 2000);
}

TEST(RayScene, FlatFacesNearTheOriginGrazedFromAfarAgree)
{
    // The rounding of t and of the hit point grows with the ray's origin,
    // not with the face: boxes padded for the face alone, or not lifted
    // onto the stored normal's plane, lose these hits.
    for (std::uint32_t variant = 1; variant <= 2; ++variant) {
        const Mesh mesh = FlatFacesNearTheOrigin(variant);
        const SceneCase sc(mesh);
        for (float distance : {30.0f, 800.0f, 6e3f})
            EXPECT_GT(sc.CheckAll(sc.GrazingFromAfar(6000, variant, 2, distance), {INFINITY}), 1500) << distance;
    }
}

// A rolling surface seen from its own faces, as a bake sees it: the
// children's normal cones are narrow here, and the rays leave the surface
// or skim it at about the facing test's own angle, each way: a cone drawn
// too tight loses their hits.
TEST(RayScene, RollingSurfaceSeenFromItselfAgrees)
{
    Mesh mesh;
    AddGrid(mesh, 40, {0, 0, 0}, {1, 0, 0}, {0, 1, 0});
    for (int i = 0; i < mesh.getNumVerts(); ++i) {
        const Point3 p = mesh.getVert(i);
        mesh.setVert(i, {p.x, p.y, 0.08f * std::sin(7.0f * p.x) * std::cos(5.0f * p.y)});
    }
    const SceneCase sc(mesh);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> u(0.0f, 1.0f), s(-1.0f, 1.0f);
    std::vector<Ray> rays;
    for (int k = 0; k < 30000; ++k) {
        const int f = static_cast<int>(rng() % static_cast<unsigned>(mesh.getNumFaces()));
        const Point3 N = sc.normals[f];
        const Point3 along = Normalize(CrossProd(N, Normalize({s(rng), s(rng), s(rng)})));
        // Out into the open half; or along the surface, leaning by up to
        // three times the facing test's 1e-4 either way.
        Point3 dir = k % 2 ? Normalize(N + Normalize({s(rng), s(rng), s(rng)}) * 0.9f) : along + N * (3e-4f * s(rng));
        // Lengths far from 1 too, down to where their squares are lost.
        if (k % 5 == 0) dir = dir * (k % 3 == 0 ? 1e3f : k % 3 == 1 ? 1e-3f : 1e-25f);
        rays.push_back({RandomPointOn(mesh, f, rng, u), dir});
    }
    EXPECT_GT(sc.CheckAll(rays, {INFINITY, 0.3f}), 3000);
}

TEST(RayScene, DistancesAtTheEdgesAgree)
{
    // Each hit again with a maximum one ulp below and at its own distance,
    // and every ray with 0, -0, a negative, NaN and infinite maximum.
    const Mesh mesh = NastyMesh(4);
    const SceneCase sc(mesh);
    const std::vector<Ray> rays = sc.MixedRays(6000, 21);
    std::vector<float> distances = SpecialDistances();
    for (float d : distances) sc.CheckAll(rays, {d});
    int near = 0;
    for (const Ray& r : rays) {
        float t = 0.0f;
        if (!IntersectRay(mesh, r, t, INFINITY, sc.normals)) continue;
        sc.CheckAll({r}, {t, std::nextafter(t, 0.0f), std::nextafter(t, INFINITY)});
        ++near;
    }
    EXPECT_GT(near, 1000);
}

// Rays the tree must not take: a coordinate or direction that is infinite
// or not a number, a direction component too small for its reciprocal.
TEST(RayScene, RaysWithNonFiniteOrTinyComponentsAgree)
{
    const Mesh mesh = NastyMesh(1);
    const SceneCase sc(mesh);
    std::vector<Ray> rays;
    for (const Ray& r : sc.MixedRays(300, 61)) {
        for (const float odd : {NAN, INFINITY, -INFINITY, 1e-40f, -3e-39f, 0x1p-126f}) {
            for (int which = 0; which < 6; ++which) {
                Ray v = r;
                float* c[6] = {&v.p.x, &v.p.y, &v.p.z, &v.dir.x, &v.dir.y, &v.dir.z};
                *c[which] = odd;
                rays.push_back(v);
            }
        }
    }
    EXPECT_GT(sc.CheckAll(rays), 100);
}

TEST(RayScene, ScenesOfNothingFindNothing)
{
    Mesh empty;
    const SceneCase none(empty);
    EXPECT_EQ(none.CheckAll(none.MixedRays(100, 1)), 0);

    // Only faces that can never be hit: zero area, not-a-number corners.
    Mesh dead;
    AddTriangle(dead, {0, 0, 0}, {1, 1, 1}, {2, 2, 2});
    AddTriangle(dead, {0, 0, 0}, {0, 0, 0}, {0, 0, 0});
    AddTriangle(dead, {NAN, 0, 0}, {1, 0, 0}, {0, 1, 0});
    const SceneCase deadCase(dead);
    EXPECT_EQ(deadCase.CheckAll(deadCase.MixedRays(100, 2)), 0);
    RayScene scene;
    const SceneInput input{&dead, &deadCase.normals};
    scene.Build({&input, 1}, RayRoute::kScalar);
    EXPECT_EQ(scene.Stats().faces, 0);
}

TEST(RayScene, ANormalTableOfTheWrongSizeIsTheReferencesToReport)
{
    // The scene hands such a mesh to IntersectRay, whose checks report it.
    Mesh mesh = RandomSoup(20, 1.0f, 5);
    Tab<Point3> normals;
    BuildFaceNormals(mesh, normals);
    TBSetCount(normals, 10);
    const SceneInput input{&mesh, &normals};
    RayScene scene;
    scene.Build({&input, 1}, RayRoute::kScalar);
    int reports = 0;
    static int* counter = nullptr;
    counter = &reports;
    const AssertReporter previous = SetAssertReporter([](int, const char*) { ++*counter; });
    float t = 0.0f;
    scene.Intersect({{0, 0, 5}, {0, 0, -1}}, t, 30.0f);
    SetAssertReporter(previous);
    EXPECT_EQ(reports, 2);
}

}  // namespace

namespace {

// Every hit the face test accepts, from an origin the tree serves, lies in
// the face's padded box: checked on the box itself, so that the traversal's
// margins cannot hide a box that is too small.
void CheckBoxesHoldHits(const SceneCase& sc, const std::vector<Ray>& rays)
{
    const Mesh& mesh = sc.mesh;
    double lo[3] = {HUGE_VAL, HUGE_VAL, HUGE_VAL}, hi[3] = {-HUGE_VAL, -HUGE_VAL, -HUGE_VAL};
    for (const Point3& p : mesh.verts) {
        const double q[3] = {static_cast<double>(p.x), static_cast<double>(p.y), static_cast<double>(p.z)};
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min(lo[a], q[a]);
            hi[a] = std::max(hi[a], q[a]);
        }
    }
    const OriginBounds bounds = OriginBoundsOf(lo, hi);
    std::vector<FaceRecord> records;
    std::vector<FaceBox> boxes;
    for (int f = 0; f < mesh.getNumFaces(); ++f) {
        const FaceRecord r = MakeFaceRecord(mesh, f, sc.normals[f]);
        const DWORD* v = mesh.faces[static_cast<std::size_t>(f)].v;
        FaceBox box;
        if (NeverHit(r) || !PaddedFaceBox(r, mesh.verts[v[1]], mesh.verts[v[2]], bounds.M, box)) continue;
        records.push_back(r);
        boxes.push_back(box);
    }
    int hits = 0;
    for (const Ray& ray : rays) {
        const float o[3] = {ray.p.x, ray.p.y, ray.p.z}, d[3] = {ray.dir.x, ray.dir.y, ray.dir.z};
        bool served = true;
        for (int a = 0; a < 3; ++a) served = served && o[a] >= bounds.lo[a] && o[a] <= bounds.hi[a];
        if (!served) continue;
        for (std::size_t i = 0; i < records.size(); ++i) {
            float t;
            if (!FaceTest(records[i], ray.p, ray.dir, INFINITY, INFINITY, t)) continue;
            ++hits;
            for (int a = 0; a < 3; ++a) {
                // t * d is exact in double; the sum is within 2^-53 of it.
                const double x = static_cast<double>(o[a]) + static_cast<double>(t) * static_cast<double>(d[a]);
                if (x >= static_cast<double>(boxes[i].lo[a]) && x <= static_cast<double>(boxes[i].hi[a])) continue;
                ADD_FAILURE() << "face " << records[i].index << " axis " << a << ": hit at " << x << " outside "
                              << boxes[i].lo[a] << " .. " << boxes[i].hi[a] << " for " << DescribeRay(ray, INFINITY);
                return;
            }
        }
    }
    EXPECT_GT(hits, static_cast<int>(rays.size()) / 10);
}

TEST(RayScene, PaddedBoxesHoldEveryAcceptedHit)
{
    for (std::uint32_t variant = 1; variant <= 2; ++variant) {
        const Mesh mesh = FlatFacesNearTheOrigin(variant);
        const SceneCase sc(mesh);
        for (float distance : {3.0f, 300.0f, 6e3f}) CheckBoxesHoldHits(sc, sc.GrazingFromAfar(3000, variant, 2, distance));
    }
    for (std::uint32_t variant = 1; variant <= 3; ++variant) {
        const Mesh mesh = NastyMesh(variant);
        const SceneCase sc(mesh);
        CheckBoxesHoldHits(sc, sc.MixedRays(4000, variant + 40));
    }
}

// The walk visits a child whose box is the tightest float box around the
// exact hit point: the entry and exit it computes may round past the hit's
// t, and only its margins keep the child. One leaf of one face, every route.
TEST(RayScene, WalksVisitABoxThatTouchesTheHit)
{
    const Mesh mesh = NastyMesh(2);
    const SceneCase sc(mesh);
    int checked = 0;
    for (const Ray& ray : sc.MixedRays(20000, 77)) {
        for (int f = 0; f < mesh.getNumFaces() && checked < 20000; f += 7) {
            const FaceRecord r = MakeFaceRecord(mesh, f, sc.normals[f]);
            float t;
            if (!FaceTest(r, ray.p, ray.dir, INFINITY, INFINITY, t)) continue;
            BvhNode node;
            const float o[3] = {ray.p.x, ray.p.y, ray.p.z}, d[3] = {ray.dir.x, ray.dir.y, ray.dir.z};
            for (int a = 0; a < 3; ++a)
                for (int c = 0; c < 8; ++c) {
                    const double x = static_cast<double>(o[a]) + static_cast<double>(t) * static_cast<double>(d[a]);
                    float lo = static_cast<float>(x), hi = lo;
                    if (static_cast<double>(lo) > x) lo = std::nextafter(lo, -INFINITY);
                    if (static_cast<double>(hi) < x) hi = std::nextafter(hi, INFINITY);
                    node.lo[a][c] = c == 3 ? lo : INFINITY;
                    node.hi[a][c] = c == 3 ? hi : -INFINITY;
                }
            for (std::uint32_t& child : node.child) child = kEmptyChild;
            node.child[3] = LeafRef(0, 1);
            FaceQuad quad{};  // the other lanes empty
            SetQuadLane(quad, 2, r);
            const TreeView tree{&node, &quad};
            using Walk = void (*)(const TreeView&, const Point3&, const Point3&, float, float, HitState&);
            std::vector<std::pair<RayRoute, Walk>> walks{{RayRoute::kScalar, &TraverseScalar<Facing::kFront>}};
            if (RouteSupported(RayRoute::kSse2)) walks.push_back({RayRoute::kSse2, &TraverseSse2<Facing::kFront>});
            if (RouteSupported(RayRoute::kAvx2)) walks.push_back({RayRoute::kAvx2, &TraverseAvx2<Facing::kFront>});
            if (RouteSupported(RayRoute::kAvx512)) walks.push_back({RayRoute::kAvx512, &TraverseAvx512<Facing::kFront>});
            for (const auto& [route, walk] : walks) {
                // With the hit's own t as the limit, as after an equal hit, and
                // as the least distance, as a bias exactly there.
                for (const auto& [limit, least] : {std::pair{INFINITY, 0.0f}, {t, 0.0f}, {INFINITY, t}, {t, t}}) {
                    HitState hit;
                    walk(tree, ray.p, ray.dir, least, limit, hit);
                    if (!hit.found || hit.t != t) {
                        ADD_FAILURE() << RouteName(route) << " lost face " << f << " at " << t << " least " << least
                                      << " for " << DescribeRay(ray, limit);
                        return;
                    }
                }
            }
            ++checked;
        }
    }
    EXPECT_GT(checked, 5000);
}

}  // namespace

namespace {

// The hit record of every route and both facings against the plain loop,
// written out here with its tie rule (the later face wins equal distances),
// over the mesh split into two inputs as a mesh and its occluder are. The
// back's facing test is checked on its own too: a back query hits what a
// front one over negated normals hits, at the same t but for a zero's sign.
TEST(RayScene, HitRecordsOfBothFacingsMatchTheBruteForce)
{
    // Each mesh with a maximum distance that cuts some of its hits short.
    const std::pair<Mesh, float> cases[] = {
        {RandomSoup(700, 10.0f, 1), 4.0f}, {RandomSoup(500, 1.0f, 4, {3e3f, -2e3f, 1e3f}), 0.5f},
        {NastyMesh(1), 3.0f}, {NastyMesh(2), 3e3f}, {NastyMesh(3), 3e-3f}, {MixedScaleMesh(1), 6e3f},
        {FlatFacesNearTheOrigin(1), 0.05f}};
    for (const auto& [mesh, reach] : cases) {
        const SceneCase sc(mesh);
        const int n = mesh.getNumFaces(), half = n / 2;
        Mesh parts[2] = {mesh, mesh};
        parts[0].faces.resize(static_cast<std::size_t>(half));
        parts[1].faces.erase(parts[1].faces.begin(), parts[1].faces.begin() + half);
        Tab<Point3> partNormals[2], flipped = sc.normals;
        for (int k = 0; k < 2; ++k) BuildFaceNormals(parts[k], partNormals[k]);
        for (int f = 0; f < n; ++f) flipped[f] = flipped[f] * -1.0f;
        const SceneInput inputs[2] = {{&parts[0], &partNormals[0]}, {&parts[1], &partNormals[1]}};
        const std::vector<RayRoute> routes = SupportedRoutes();
        std::vector<RayScene> scenes(routes.size());
        for (std::size_t k = 0; k < routes.size(); ++k) scenes[k].Build(inputs, routes[k]);
        const float distances[] = {INFINITY, reach, NAN, 0.0f, -0.0f, -1.0f};
        const std::vector<Ray> rays = sc.MixedRays(4000, static_cast<std::uint32_t>(n));
        int hits[2] = {0, 0};
        for (std::size_t i = 0; i < rays.size(); ++i) {
            const Ray& r = rays[i];
            const float maxDistance = distances[i % std::size(distances)];
            const auto brute = [&, &mesh = mesh](const Tab<Point3>& normals, Facing as) {
                RayHit h{-7.0f, 9, 9, {9, 9, 9}};  // what a miss leaves
                for (int f = 0; f < n; ++f) {
                    const FaceRecord rec = MakeFaceRecord(mesh, f, normals[f]);
                    const float bound = h.input == 9 ? INFINITY : h.t;
                    float t;
                    if (as == Facing::kFront ? FaceTest(rec, r.p, r.dir, maxDistance, bound, t)
                                             : FaceTest<Facing::kBack>(rec, r.p, r.dir, maxDistance, bound, t))
                        h = {t, f < half ? 0 : 1, f < half ? f : f - half,
                             FaceBaryCoords(mesh, f, {t * r.dir.x + r.p.x, t * r.dir.y + r.p.y, t * r.dir.z + r.p.z})};
                }
                return h;
            };
            const RayHit expect[2] = {brute(sc.normals, Facing::kFront), brute(sc.normals, Facing::kBack)};
            const RayHit mirror = brute(flipped, Facing::kFront);
            ASSERT_TRUE(mirror.face == expect[1].face && mirror.input == expect[1].input && mirror.t == expect[1].t);
            for (int k = 0; k < 2; ++k) {
                hits[k] += expect[k].input != 9;
                for (const RayScene& scene : scenes) {
                    RayHit got{-7.0f, 9, 9, {9, 9, 9}};
                    ASSERT_EQ(scene.NearestHit(r, maxDistance, static_cast<Facing>(k), got), expect[k].input != 9);
                    ASSERT_EQ(std::memcmp(&got, &expect[k], sizeof got), 0)  // every bit, the weights' included
                        << RouteName(scene.Route()) << " facing " << k << " ray " << i << ": "
                        << DescribeRay(r, maxDistance);
                }
            }
        }
        EXPECT_GT(std::min(hits[0], hits[1]), static_cast<int>(rays.size()) / 8);
    }
}

}  // namespace
