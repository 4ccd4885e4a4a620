#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "check_recorder.h"
#include "geom/geom.h"
#include "mesh_builders.h"

using namespace dunsmere;

namespace {

struct Scene {
    Mesh mesh;
    Tab<Point3> normals;
    void Build() { BuildFaceNormals(mesh, normals); }
    int Cast(const Ray& ray, float& t, float maxDistance = 30.0f) const
    {
        return IntersectRay(mesh, ray, t, maxDistance, normals);
    }
};

// A large triangle in z = z0 facing down (-Z), so rays going up hit it.
int AddCeiling(Mesh& mesh, float z0, float size = 100.0f)
{
    return AddTriangle(mesh, {-size, -size, z0}, {-size, size, z0}, {size, -size, z0});
}

TEST(FaceNormals, UnitAndOrientedByCrossProduct)
{
    Scene s;
    AddTriangle(s.mesh, {0, 0, 0}, {2, 0, 0}, {0, 3, 0});
    AddTriangle(s.mesh, {0, 0, 0}, {0, 3, 0}, {2, 0, 0});
    AddTriangle(s.mesh, {1, 1, 1}, {1, 1, 1}, {2, 2, 2});  // zero area
    s.Build();
    ASSERT_EQ(s.normals.Count(), 3);
    EXPECT_EQ(s.normals[0], Point3::ZAxis);
    EXPECT_EQ(s.normals[1], -Point3::ZAxis);
    EXPECT_EQ(s.normals[2], Point3{});
    TBSetCount(s.normals, 10);
    BuildFaceNormals(Mesh{}, s.normals);
    EXPECT_EQ(s.normals.Count(), 0);
}

TEST(FaceBary, CornersAndDegenerateFaces)
{
    Mesh mesh;
    AddTriangle(mesh, {0, 0, 0}, {4, 0, 1}, {0, 5, 2});
    AddTriangle(mesh, {1, 2, 3}, {1, 2, 3}, {4, 5, 6});  // coincident corners
    AddTriangle(mesh, {0, 0, 0}, {1, 1, 1}, {2, 2, 2});  // collinear
    EXPECT_EQ(FaceBaryCoords(mesh, 0, {0, 0, 0}), Point3(1, 0, 0));
    const Point3 w1 = FaceBaryCoords(mesh, 0, {4, 0, 1});
    const Point3 w2 = FaceBaryCoords(mesh, 0, {0, 5, 2});
    EXPECT_NEAR(w1.x, 0, 1e-6f); EXPECT_NEAR(w1.y, 1, 1e-6f); EXPECT_NEAR(w1.z, 0, 1e-6f);
    EXPECT_NEAR(w2.x, 0, 1e-6f); EXPECT_NEAR(w2.y, 0, 1e-6f); EXPECT_NEAR(w2.z, 1, 1e-6f);
    EXPECT_EQ(FaceBaryCoords(mesh, 1, {1, 2, 3}), Point3(-1, 1, 1));
    EXPECT_EQ(FaceBaryCoords(mesh, 2, {1, 1, 1}), Point3(-1, 1, 1));
    // Each dominant axis gives the same weights for a point inside.
    Mesh rotated;
    AddTriangle(rotated, {0, 0, 0}, {0, 4, 1}, {1, 0, 5});   // normal mostly x
    AddTriangle(rotated, {0, 0, 0}, {1, 0, 4}, {5, 1, 0});   // normal mostly y
    for (int f = 0; f < 2; ++f) {
        const Face& face = rotated.faces[static_cast<size_t>(f)];
        const Point3 p = 0.2f * rotated.verts[face.v[0]] + 0.3f * rotated.verts[face.v[1]] +
                         0.5f * rotated.verts[face.v[2]];
        const Point3 w = FaceBaryCoords(rotated, f, p);
        EXPECT_NEAR(w.x, 0.2f, 1e-5f);
        EXPECT_NEAR(w.y, 0.3f, 1e-5f);
        EXPECT_NEAR(w.z, 0.5f, 1e-5f);
    }
}

TEST(IntersectRay, FacingTestSkipsBackFacesAndParallelRays)
{
    Scene s;
    // Facing up (+Z): a ray going up passes through its back.
    AddTriangle(s.mesh, {-10, -10, 5}, {10, -10, 5}, {0, 10, 5});
    s.Build();
    float t = -7.0f;
    EXPECT_EQ(s.Cast({{0, 0, 0}, {0, 0, 1}}, t), 0);
    EXPECT_EQ(t, -7.0f);  // a miss leaves the distance alone
    EXPECT_EQ(s.Cast({{0, 0, 10}, {0, 0, -1}}, t), 1);
    EXPECT_EQ(t, 5.0f);
    t = 3.0f;
    EXPECT_EQ(s.Cast({{0, 0, 5}, {1, 0, 0}}, t), 0);  // in the plane, den = 0
    EXPECT_EQ(t, 3.0f);
}

TEST(IntersectRay, FacingThresholdIsStrictAtMinusOneTenThousandth)
{
    Scene s;
    AddTriangle(s.mesh, {-1e6f, -1e6f, 0}, {1e6f, -1e6f, 0}, {0, 1e6f, 0});  // normal exactly +Z
    s.Build();
    ASSERT_EQ(s.normals[0], Point3::ZAxis);
    float t = 0.0f;
    // den = N.z * D.z exactly.
    EXPECT_EQ(s.Cast({{0, 0, 1e-4f}, {1, 0, -0.0001f}}, t, 10.0f), 1);
    EXPECT_FLOAT_EQ(t, 1.0f);
    const float justAbove = std::nextafter(-0.0001f, 0.0f);
    t = 0.0f;
    EXPECT_EQ(s.Cast({{0, 0, 1e-4f}, {1, 0, justAbove}}, t, 10.0f), 0);
}

TEST(IntersectRay, RangeIsInclusiveAtZeroAndMaxDistance)
{
    Scene s;
    AddCeiling(s.mesh, 8.0f);
    s.Build();
    float t = 0.0f;
    EXPECT_EQ(s.Cast({{0, 0, 0}, {0, 0, 1}}, t, 8.0f), 1);
    EXPECT_EQ(t, 8.0f);
    t = 0.0f;
    EXPECT_EQ(s.Cast({{0, 0, 0}, {0, 0, 1}}, t, std::nextafter(8.0f, 0.0f)), 0);
    // Origin on the face itself: t = 0 counts.
    t = 1.0f;
    EXPECT_EQ(s.Cast({{-1, -2, 8}, {0, 0, 1}}, t, 8.0f), 1);
    EXPECT_EQ(t, 0.0f);
    // Behind the origin: t < 0 is rejected.
    t = 1.0f;
    EXPECT_EQ(s.Cast({{0, 0, 9}, {0, 0, 1}}, t, 30.0f), 0);
}

TEST(IntersectRay, EdgesAndCornersAreInside)
{
    Scene s;
    AddTriangle(s.mesh, {0, 0, 4}, {0, 4, 4}, {4, 0, 4});  // facing down
    s.Build();
    for (const Point3& at : {Point3{0, 0, 0}, Point3{0, 4, 0}, Point3{4, 0, 0}, Point3{2, 0, 0},
                             Point3{0, 2, 0}, Point3{2, 2, 0}}) {
        float t = 0.0f;
        EXPECT_EQ(s.Cast({at, {0, 0, 1}}, t), 1) << at.x << "," << at.y;
        EXPECT_EQ(t, 4.0f);
    }
    float t = 0.0f;
    EXPECT_EQ(s.Cast({{std::nextafter(2.0f, 3.0f), 2.0f, 0}, {0, 0, 1}}, t), 0);
}

TEST(IntersectRay, NearestWinsWhateverTheFaceOrderAndTiesKeepT)
{
    const float heights[] = {9.0f, 3.0f, 6.0f, 3.0f, 12.0f};
    std::vector<int> order{0, 1, 2, 3, 4};
    do {
        Scene s;
        for (int i : order) AddCeiling(s.mesh, heights[i]);
        s.Build();
        float t = 100.0f;
        ASSERT_EQ(s.Cast({{0, 0, 0}, {0, 0, 1}}, t), 1);
        ASSERT_EQ(t, 3.0f);
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST(IntersectRay, EmptyMeshAndDegenerateFacesNeverHit)
{
    Scene s;
    s.Build();
    float t = 2.0f;
    EXPECT_EQ(s.Cast({{0, 0, 0}, {0, 0, 1}}, t), 0);
    EXPECT_EQ(t, 2.0f);
    AddTriangle(s.mesh, {0, 0, 3}, {0, 0, 3}, {1, 1, 3});
    AddTriangle(s.mesh, {-1, 0, 3}, {0, 0, 3}, {1, 0, 3});
    s.Build();
    EXPECT_EQ(s.Cast({{0, 0, 0}, {0, 0, 1}}, t), 0);
}

TEST(IntersectRay, TableChecksReportAndNeverReadPastTheTable)
{
    CheckRecorder checks;
    Scene s;
    AddCeiling(s.mesh, 5.0f);
    AddCeiling(s.mesh, 2.0f);
    AddCeiling(s.mesh, 1.0f);
    s.Build();
    TBSetCount(s.normals, 2);  // stale table, one short
    float t = 0.0f;
    EXPECT_EQ(s.Cast({{0, 0, 0}, {0, 0, 1}}, t), 1);
    EXPECT_EQ(t, 2.0f);  // faces 0 and 1 tested, face 2 not
    const std::vector<CheckReport> expected{{66, "IntersectRay"}, {70, "IntersectRay"}};
    EXPECT_EQ(checks.Take(), expected);
    // A longer table is also a mismatch, but every candidate is in range.
    TBSetCount(s.normals, 4);
    t = 0.0f;
    s.Cast({{0, 0, 0}, {0, 0, 1}}, t);
    EXPECT_EQ(checks.Take(), (std::vector<CheckReport>{{66, "IntersectRay"}}));
}

// A ray leaving a face on its front side is never stopped by that face, at
// any scale and far from the origin.
TEST(IntersectRay, RayLeavingFrontNeverHitsItsOwnFace)
{
    std::mt19937 rng(21u);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    for (float scale : {1e-3f, 1.0f, 1e2f, 1e4f}) {
        for (Point3 centre : {Point3{}, Point3{1e4f, -2e4f, 5e3f}}) {
            Scene s;
            s.mesh = RandomSoup(1, scale, static_cast<std::uint32_t>(scale * 7.0f) + 1u, centre);
            s.Build();
            const Point3 n = s.normals[0];
            if (n == Point3{}) continue;
            const Face& f = s.mesh.faces[0];
            for (int i = 0; i < 2000; ++i) {
                float a = u(rng), b = u(rng);
                if (a + b > 1.0f) { a = 1.0f - a; b = 1.0f - b; }
                const Point3 p = (1.0f - a - b) * s.mesh.verts[f.v[0]] + a * s.mesh.verts[f.v[1]] +
                                 b * s.mesh.verts[f.v[2]];
                Point3 d = Normalize({u(rng) - 0.5f, u(rng) - 0.5f, u(rng) - 0.5f});
                if (DotProd(d, n) < 0.0f) d = -d;
                float t = 0.0f;
                ASSERT_EQ(s.Cast({p, d}, t, 1e6f), 0) << "scale " << scale;
            }
        }
    }
}

// Independent double-precision oracle: the nearest front-facing hit by plain
// ray-plane intersection and barycentric containment. Where any face sits
// within rounding of a decision boundary the ray is ambiguous and skipped.
struct OracleHit {
    bool ambiguous = false;
    bool hit = false;
    double t = 0.0;
};

OracleHit Oracle(const Mesh& mesh, const Ray& ray, double maxDistance)
{
    struct V { double x, y, z; };
    auto cv = [](const Point3& p) {
        return V{static_cast<double>(p.x), static_cast<double>(p.y), static_cast<double>(p.z)};
    };
    auto sub = [](V a, V b) { return V{a.x - b.x, a.y - b.y, a.z - b.z}; };
    auto dot = [](V a, V b) { return a.x * b.x + a.y * b.y + a.z * b.z; };
    auto cross = [](V a, V b) { return V{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; };
    const V O = cv(ray.p), D = cv(ray.dir);
    OracleHit r;
    std::vector<double> ts;
    for (const Face& f : mesh.faces) {
        const V c0 = cv(mesh.verts[f.v[0]]), c1 = cv(mesh.verts[f.v[1]]), c2 = cv(mesh.verts[f.v[2]]);
        V n = cross(sub(c1, c0), sub(c2, c1));
        const double len = std::sqrt(dot(n, n));
        if (len < 1e-6) continue;
        n = V{n.x / len, n.y / len, n.z / len};
        const double den = dot(n, D);
        if (std::fabs(den + 1e-4) < 1e-6) { r.ambiguous = true; continue; }
        if (den > -1e-4) continue;
        const double t = (dot(n, c0) - dot(n, O)) / den;
        if (std::fabs(t) < 1e-4 || std::fabs(t - maxDistance) < 1e-4) { r.ambiguous = true; continue; }
        if (t < 0.0 || t > maxDistance) continue;
        const V p{O.x + t * D.x, O.y + t * D.y, O.z + t * D.z};
        // Signed sub-areas against the face normal.
        const double a0 = dot(cross(sub(c1, p), sub(c2, p)), n);
        const double a1 = dot(cross(sub(c2, p), sub(c0, p)), n);
        const double a2 = dot(cross(sub(c0, p), sub(c1, p)), n);
        const double tol = 1e-4 * len;
        if (std::fabs(a0) < tol || std::fabs(a1) < tol || std::fabs(a2) < tol) { r.ambiguous = true; continue; }
        if (a0 > 0 && a1 > 0 && a2 > 0) ts.push_back(t);
    }
    if (!ts.empty()) {
        std::sort(ts.begin(), ts.end());
        r.hit = true;
        r.t = ts[0];
        if (ts.size() > 1 && ts[1] - ts[0] < 1e-4) r.ambiguous = true;
    }
    return r;
}

TEST(IntersectRay, AgreesWithDoublePrecisionOracleOnRandomSoups)
{
    int compared = 0, hits = 0, skipped = 0;
    for (std::uint32_t variant = 1; variant <= 12; ++variant) {
        Scene s;
        s.mesh = RandomSoup(200, 10.0f, variant);
        s.Build();
        std::mt19937 rng(variant * 977u);
        std::uniform_real_distribution<float> u(-8.0f, 8.0f);
        for (int i = 0; i < 400; ++i) {
            const Ray ray{{u(rng), u(rng), u(rng)}, Normalize({u(rng), u(rng), u(rng)})};
            const OracleHit expect = Oracle(s.mesh, ray, 30.0);
            if (expect.ambiguous) { ++skipped; continue; }
            float t = -1.0f;
            const int got = s.Cast(ray, t, 30.0f);
            ASSERT_EQ(got, expect.hit ? 1 : 0) << "variant " << variant << " ray " << i;
            if (expect.hit) {
                ASSERT_NEAR(t, expect.t, 1e-4 * std::max(1.0, expect.t));
                ++hits;
            } else {
                ASSERT_EQ(t, -1.0f);
            }
            ++compared;
        }
    }
    EXPECT_GT(hits, 1000);
    EXPECT_LT(skipped, compared / 20);
}

}  // namespace
