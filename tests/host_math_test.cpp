#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "host/host.h"

namespace {

Point3 RandomUnit(std::mt19937& rng)
{
    std::normal_distribution<float> g(0.0f, 1.0f);
    for (;;) {
        const Point3 p{g(rng), g(rng), g(rng)};
        if (p.Length() > 1e-3f) return Normalize(p);
    }
}

void ExpectNear3(const Point3& a, const Point3& b, float tol)
{
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

TEST(HostVector, CrossProductOperandOrderFixesFront)
{
    EXPECT_EQ(CrossProd(Point3::XAxis, Point3::YAxis), Point3::ZAxis);
    EXPECT_EQ(CrossProd(Point3::YAxis, Point3::XAxis), -Point3::ZAxis);
    const Point3 a{1, 2, 3}, b{-4, 5, 0.5f};
    const Point3 c = CrossProd(a, b);
    EXPECT_EQ(c, Point3(2 * 0.5f - 3 * 5, 3 * -4.0f - 1 * 0.5f, 1 * 5 - 2 * -4.0f));
}

TEST(HostVector, NormalizeAndMaxComponent)
{
    EXPECT_EQ(Normalize(Point3{0, 3, 4}), Point3(0, 0.6f, 0.8f));
    EXPECT_EQ(Normalize(Point3{}), Point3{});  // zero stays zero, never NaN
    EXPECT_EQ(MaxComponent({1, -3, 2}), 1);
    EXPECT_EQ(MaxComponent({1, -3, -4}), 2);
    EXPECT_EQ(MaxComponent({-5, 3, 4}), 0);
    EXPECT_EQ(MaxComponent({2, 2, 1}), 0);  // ties take the first axis
}

TEST(HostMatrix, AngleAxisTakesNOntoZAndInverseBack)
{
    std::mt19937 rng(3u);
    for (int i = 0; i < 2000; ++i) {
        const Point3 N = RandomUnit(rng);
        if (N.z < -0.9999f) continue;  // the axis vanishes there; callers handle it
        const Point3 A = Normalize(CrossProd(N, Point3::ZAxis));
        const float theta = std::acos(DotProd(N, Point3::ZAxis) / (N.Length() * Point3::ZAxis.Length()));
        Matrix3 R;
        R.IdentityMatrix();
        R.SetAngleAxis(A, theta);
        ExpectNear3(N * R, Point3::ZAxis, 2e-6f);
        const Matrix3 inv = Inverse(R);
        ExpectNear3(Point3::ZAxis * inv, N, 2e-6f);
        // A rotation keeps lengths and is undone by its inverse everywhere.
        const Point3 q = RandomUnit(rng) * 3.0f;
        EXPECT_NEAR((q * R).Length(), 3.0f, 1e-5f);
        ExpectNear3((q * R) * inv, q, 1e-5f);
    }
}

TEST(HostMatrix, InverseOfAffineMatrix)
{
    const Matrix3 m({2, 0, 0}, {1, 3, 0}, {0, 1, 4}, {5, -6, 7});
    const Matrix3 inv = Inverse(m);
    for (const Point3& p : {Point3{1, 2, 3}, Point3{-4, 0.5f, 9}}) ExpectNear3((p * m) * inv, p, 1e-5f);
    // Singular input gives the identity rather than infinities.
    EXPECT_EQ(Inverse(Matrix3({1, 0, 0}, {2, 0, 0}, {0, 0, 1}, {})), Matrix3{});
}

TEST(HostBary, WeightsReproduceThePoint)
{
    const Point2 p0{0, 0}, p1{0, 5}, p2{5, 5};
    EXPECT_EQ(BaryCoords(p0, p1, p2, p0), Point3(1, 0, 0));
    const Point3 b = BaryCoords(p0, p1, p2, {1, 3});
    EXPECT_FLOAT_EQ(b.x + b.y + b.z, 1.0f);
    EXPECT_NEAR(b.x * p0.x + b.y * p1.x + b.z * p2.x, 1.0f, 1e-6f);
    EXPECT_NEAR(b.x * p0.y + b.y * p1.y + b.z * p2.y, 3.0f, 1e-6f);
    // A point outside gets a negative weight.
    EXPECT_LT(BaryCoords(p0, p1, p2, {3, 1}).y, 0.0f);
}

TEST(HostNoise, DeterministicBoundedAndSmooth)
{
    std::mt19937 rng(5u);
    std::uniform_real_distribution<float> u(-300.0f, 300.0f);
    float lo = 0.0f, hi = 0.0f;
    for (int i = 0; i < 200000; ++i) {
        const Point3 p{u(rng), u(rng), u(rng)};
        const float n = noise3(p);
        ASSERT_EQ(n, noise3(p));
        lo = std::min(lo, n);
        hi = std::max(hi, n);
        // Lipschitz-like: a tiny step moves the value a little.
        ASSERT_NEAR(noise3(p + Point3{1e-3f, 0, 0}), n, 0.02f);
    }
    EXPECT_GE(lo, -1.1f);
    EXPECT_LE(hi, 1.1f);
    EXPECT_LT(lo, -0.5f);  // it actually spans the range
    EXPECT_GT(hi, 0.5f);
    EXPECT_EQ(noise3({3, -7, 12}), 0.0f);  // zero on the lattice
    EXPECT_EQ(noise3({NAN, 0, 0}), 0.0f);
    EXPECT_TRUE(std::isfinite(noise3({1e30f, -1e30f, 3e20f})));
}

}  // namespace
