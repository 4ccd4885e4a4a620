#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>
#include <utility>
#include <random>
#include <vector>

#include "allocation_replaceable.h"
#include "eval/eval.h"
#include "geom/geom.h"
#include "mesh_builders.h"

// Counts allocations while a test asks for it, to show that a sample
// evaluation allocates nothing.
namespace {
std::atomic<bool> gCounting{false};
std::atomic<int> gAllocations{0};
}  // namespace

namespace {
void* CountedAlloc(std::size_t n) noexcept
{
    if (gCounting.load()) gAllocations.fetch_add(1);
    return std::malloc(n ? n : 1);
}
}  // namespace

void* TestAllocate(std::size_t n, bool nothrow) noexcept
{
    return !nothrow && FailsThisThrowingAllocation() ? nullptr : CountedAlloc(n);
}
#include "replaced_new.h"

using namespace dunsmere;

namespace {

constexpr float kThird = 0.33333334f;

struct Bake {
    Mesh mesh;
    Tab<Point3> faceNormals;
    VertexNormals vertexNormals;
    UtilitySettings settings;
    CrtRand rng;
    std::vector<Ray> rays;

    Bake()
    {
        settings.algorithm = kAlgorithmVertexColors;
        settings.dist = 30.0f;
        settings.horizontalSpread = 8;
        settings.verticalSpread = 1;
    }
    void Build()
    {
        BuildFaceNormals(mesh, faceNormals);
        vertexNormals.BuildVertexNormals(mesh);
    }
    float Eval(int face, Point3 w = {kThird, kThird, kThird})
    {
        rays.assign(static_cast<size_t>(RayCount(settings)), Ray{});
        return EvaluateSample(settings, {faceNormals, vertexNormals}, mesh, face, w, rays.data(), rng);
    }
};

// A floor triangle at z = 0 facing up, large enough to hold every sample.
int AddFloor(Mesh& mesh) { return AddTriangle(mesh, {-50, -50, 0}, {50, -50, 0}, {0, 50, 0}); }

void ExpectNear3(const Point3& a, const Point3& b, float tol)
{
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

TEST(EvaluateSample, RingLayoutAroundUpNormal)
{
    Bake b;
    AddFloor(b.mesh);
    b.Build();
    EXPECT_EQ(b.Eval(0), 0.0f);  // nothing above: open
    ASSERT_EQ(b.rays.size(), 9u);
    const Point3 P = b.rays[0].p;
    EXPECT_EQ(b.rays[0].dir, Point3::ZAxis);
    ExpectNear3(b.rays[1].dir, {0.5417f, 0.4545f, 0.7071f}, 1e-4f);
    ExpectNear3(b.rays[2].dir, {0.1228f, 0.6964f, 0.7071f}, 1e-4f);
    for (int i = 0; i < 8; ++i) {
        const Point3 d = b.rays[static_cast<size_t>(i + 1)].dir;
        EXPECT_EQ(b.rays[static_cast<size_t>(i + 1)].p, P);
        const float az = std::atan2(d.y, d.x) * 57.29578f;
        EXPECT_NEAR(az < 0 ? az + 360.0f : az, 40.0f * static_cast<float>(i + 1), 1e-3f);
    }
}

TEST(EvaluateSample, JitterTurnsTheWholeRingByOneDraw)
{
    Bake b;
    b.settings.algorithm = kAlgorithmUVMap;
    AddFloor(b.mesh);
    b.Build();
    CrtRand reference;
    for (int sample = 0; sample < 20; ++sample) {
        b.Eval(0);
        const int r = reference.Next();
        const float phi0 = static_cast<float>(2 * r - 32767) * 0.0013733329f;  // degrees
        EXPECT_LE(std::fabs(phi0), 45.0f);
        for (int i = 0; i < 8; ++i) {
            const Point3 d = b.rays[static_cast<size_t>(i + 1)].dir;
            float az = std::atan2(d.y, d.x) * 57.29578f - (40.0f * static_cast<float>(i + 1) + phi0);
            az = std::remainder(az, 360.0f);
            EXPECT_NEAR(az, 0.0f, 2e-3f);
        }
    }
    // Vertex colours draw nothing: the generator is untouched.
    Bake v;
    AddFloor(v.mesh);
    v.Build();
    const float first = v.Eval(0);
    EXPECT_EQ(v.Eval(0), first);
    EXPECT_EQ(v.rng.Next(), CrtRand().Next());
}

TEST(EvaluateSample, RingsKeepElevationAroundAnyNormal)
{
    std::mt19937 rng(9u);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int trial = 0; trial < 300; ++trial) {
        Bake b;
        b.settings.horizontalSpread = 5;
        b.settings.verticalSpread = 3;
        b.mesh = RandomSoup(1, 5.0f, static_cast<std::uint32_t>(trial + 1));
        if (trial == 0) {  // normal exactly -Z
            b.mesh = Mesh{};
            AddTriangle(b.mesh, {0, 0, 0}, {0, 1, 0}, {1, 0, 0});
        }
        b.Build();
        const Point3 N = b.faceNormals[0];
        if (N == Point3{}) continue;
        if (trial == 0) {
            ASSERT_EQ(N, -Point3::ZAxis);
        }
        b.Eval(0);
        for (int w = 0; w < 3; ++w) {
            const float e = 90.0f / 4.0f * static_cast<float>(w + 1) * 0.017453292f;
            for (int i = 0; i < 5; ++i) {
                const Point3 d = b.rays[static_cast<size_t>(5 * w + i + 1)].dir;
                ASSERT_NEAR(d.Length(), 1.0f, 1e-5f);
                ASSERT_NEAR(DotProd(d, N), std::sin(e), 1e-5f) << "trial " << trial;
            }
        }
    }
}

// Small targets facing the sample, centred on chosen rays at distance 10:
// three hits at 10 and six misses give 2 * 60 / (9 * 30).
TEST(EvaluateSample, NearnessFormula)
{
    Bake probe;
    AddFloor(probe.mesh);
    probe.Build();
    probe.Eval(0);
    const std::vector<Ray> rays = probe.rays;

    Bake b;
    AddFloor(b.mesh);
    for (int k : {0, 3, 7}) {
        const Ray& r = rays[static_cast<size_t>(k)];
        const Point3 c = r.p + r.dir * 10.0f;
        // Any two directions perpendicular to the ray span the target.
        const Point3 s = Normalize(CrossProd(r.dir, Point3::XAxis));
        const Point3 t = CrossProd(r.dir, s);
        Point3 p1 = c - s * 0.25f + t * 0.4f, p2 = c - s * 0.25f - t * 0.4f;
        // Wound so that its normal points back along the ray.
        if (DotProd(CrossProd(p1 - (c + s * 0.5f), p2 - p1), r.dir) > 0.0f) std::swap(p1, p2);
        AddTriangle(b.mesh, c + s * 0.5f, p1, p2);
    }
    b.Build();
    EXPECT_NEAR(b.Eval(0), 2.0f * 60.0f / (9.0f * 30.0f), 1e-5f);
}

TEST(EvaluateSample, NormalRayAloneAndTheCap)
{
    for (int h : {0, 6}) {
        Bake b;
        b.settings.horizontalSpread = h;
        b.settings.verticalSpread = h == 0 ? 4 : 0;
        AddFloor(b.mesh);
        AddTriangle(b.mesh, {-50, -50, 20}, {0, 50, 20}, {50, -50, 20});  // ceiling facing down
        b.Build();
        EXPECT_EQ(b.Eval(0), 2.0f * (30.0f - 20.0f) / 30.0f);
        b.mesh.verts[3].z = b.mesh.verts[4].z = b.mesh.verts[5].z = 15.0f;  // 2*15/30 = 1: capped
        b.Build();
        EXPECT_EQ(b.Eval(0), 0.99f);
        b.mesh.verts[3].z = b.mesh.verts[4].z = b.mesh.verts[5].z = 15.075f;  // 0.995 is not capped
        b.Build();
        EXPECT_NEAR(b.Eval(0), 0.995f, 1e-5f);
        EXPECT_GT(b.Eval(0), 0.99f);
    }
}

TEST(EvaluateSample, FaceWithoutGroupUsesItsOwnNormal)
{
    Bake b;
    // Two group-less faces sharing vertices 0 and 1 at a right angle.
    b.mesh.setNumVerts(4);
    b.mesh.setVert(0, {0, 0, 0});
    b.mesh.setVert(1, {4, 0, 0});
    b.mesh.setVert(2, {0, 4, 0});
    b.mesh.setVert(3, {0, 0, 4});
    b.mesh.setNumFaces(2);
    b.mesh.faces[0].setVerts(0, 1, 2);  // +Z
    b.mesh.faces[1].setVerts(0, 3, 1);  // +Y
    b.mesh.faces[0].smGroup = b.mesh.faces[1].smGroup = 0;
    b.Build();
    b.Eval(0, {0.8f, 0.1f, 0.1f});
    EXPECT_EQ(b.rays[0].dir, Point3::ZAxis);
    b.Eval(1, {0.8f, 0.1f, 0.1f});
    EXPECT_EQ(b.rays[0].dir, Point3::YAxis);
}

TEST(EvaluateSample, BadDistanceGivesZero)
{
    Bake b;
    AddFloor(b.mesh);
    AddTriangle(b.mesh, {-50, -50, 0.5f}, {0, 50, 0.5f}, {50, -50, 0.5f});
    b.Build();
    for (float d : {0.0f, -5.0f, NAN, INFINITY}) {
        b.settings.dist = d;
        EXPECT_EQ(b.Eval(0), 0.0f) << d;
    }
}

TEST(EvaluateSample, LargestSpreadFillsExactlyItsBuffer)
{
    Bake b;
    b.settings.horizontalSpread = 24;
    b.settings.verticalSpread = 10;
    AddFloor(b.mesh);
    b.Build();
    EXPECT_EQ(RayCount(b.settings), 241);
    b.rays.assign(241, Ray{{9, 9, 9}, {9, 9, 9}});
    if (!kAllocationReplaceable) GTEST_SKIP() << "allocations cannot be counted in this build";
    gAllocations = 0;
    gCounting = true;
    EvaluateSample(b.settings, {b.faceNormals, b.vertexNormals}, b.mesh, 0, {kThird, kThird, kThird},
                   b.rays.data(), b.rng);
    gCounting = false;
    EXPECT_EQ(gAllocations.load(), 0);
    for (const Ray& r : b.rays) EXPECT_NEAR(r.dir.Length(), 1.0f, 1e-5f);
}

}  // namespace
