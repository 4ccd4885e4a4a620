#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <limits>
#include <ostream>
#include <random>
#include <vector>

#include "app/mesh/uv_cover.h"

using namespace dunsmere;

namespace dunsmere {
void PrintTo(const UvOverlap& r, std::ostream* out) { *out << "{" << r.faces << " faces, " << r.share << "}"; }
}  // namespace dunsmere

namespace {

using Uv = std::array<float, 2>;
using UvTriangle = std::array<Uv, 3>;

// One face per triangle, each with its own three map vertices in channel 1;
// the positions do not matter to the measures.
Mesh UvMesh(const std::vector<UvTriangle>& triangles)
{
    Mesh mesh;
    const int n = static_cast<int>(triangles.size());
    mesh.setNumVerts(3);
    mesh.setNumFaces(n);
    mesh.setMapSupport(1);
    mesh.setNumMapVerts(1, 3 * n);
    for (int f = 0; f < n; ++f) {
        const DWORD base = static_cast<DWORD>(3 * f);
        mesh.faces[static_cast<size_t>(f)].setVerts(0, 1, 2);
        mesh.mapFaces(1)[f].setTVerts(base, base + 1, base + 2);
        for (int k = 0; k < 3; ++k)
            mesh.mapVerts(1)[base + static_cast<DWORD>(k)] =
                UVVert(triangles[static_cast<size_t>(f)][static_cast<size_t>(k)][0],
                       triangles[static_cast<size_t>(f)][static_cast<size_t>(k)][1], 0.0f);
    }
    return mesh;
}

const UvTriangle kLowerRight{{{0, 0}, {1, 0}, {1, 1}}};
const UvTriangle kUpperLeft{{{0, 0}, {1, 1}, {0, 1}}};

UvTriangle Mirrored(const UvTriangle& t) { return {t[0], t[2], t[1]}; }

// The second route: every texel centre against every face in double
// precision, strictly inside by the sign of each edge's cross product.
bool StrictlyInside(const UvTriangle& t, double x, double y)
{
    int positive = 0, negative = 0;
    for (int k = 0; k < 3; ++k) {
        const Uv& a = t[static_cast<size_t>(k)];
        const Uv& b = t[static_cast<size_t>((k + 1) % 3)];
        const double ax = static_cast<double>(a[0]), ay = static_cast<double>(a[1]);
        const double bx = static_cast<double>(b[0]), by = static_cast<double>(b[1]);
        const double e = (bx - ax) * (y - ay) - (by - ay) * (x - ax);
        if (e > 0) ++positive;
        if (e < 0) ++negative;
    }
    return positive == 3 || negative == 3;
}

UvOverlap BruteOverlap(const std::vector<UvTriangle>& triangles, int width, int height)
{
    std::vector<int> depth(static_cast<size_t>(width * height), 0);
    const auto centre = [&](int i, int j) {
        return std::array<double, 2>{(i + 0.5) / width, (j + 0.5) / height};
    };
    for (const UvTriangle& t : triangles)
        for (int j = 0; j < height; ++j)
            for (int i = 0; i < width; ++i)
                if (StrictlyInside(t, centre(i, j)[0], centre(i, j)[1])) ++depth[static_cast<size_t>(j * width + i)];
    UvOverlap r;
    int twice = 0;
    for (int d : depth) twice += d >= 2;
    for (const UvTriangle& t : triangles) {
        bool owns = false;
        for (int j = 0; j < height && !owns; ++j)
            for (int i = 0; i < width && !owns; ++i)
                owns = depth[static_cast<size_t>(j * width + i)] >= 2 && StrictlyInside(t, centre(i, j)[0], centre(i, j)[1]);
        r.faces += owns;
    }
    r.share = static_cast<double>(twice) / (width * height);
    return r;
}

// Triangles with corners on a 1/1024 lattice, so that a power-of-two grid
// sees them exactly, and double precision decides every centre exactly.
std::vector<UvTriangle> RandomTriangles(int count, unsigned stream)
{
    std::mt19937 rng(stream);
    std::uniform_int_distribution<int> k(-100, 1124);
    std::vector<UvTriangle> out;
    for (int f = 0; f < count; ++f) {
        UvTriangle t;
        for (Uv& p : t) p = {static_cast<float>(k(rng)) / 1024.0f, static_cast<float>(k(rng)) / 1024.0f};
        out.push_back(t);
    }
    return out;
}

TEST(UvOverlap, FacesSharingAnEdgeThroughTexelCentresDoNotOverlap)
{
    // The diagonal runs through the centres (i + 0.5, i + 0.5) of a square map.
    const Mesh square = UvMesh({kLowerRight, kUpperLeft});
    for (int size : {50, 64, 4096}) {
        const UvOverlap r = MeasureUvOverlap(square, 1, size, size);
        EXPECT_EQ(r.faces, 0) << size;
        EXPECT_EQ(r.share, 0.0) << size;
    }
}

TEST(UvOverlap, AMirroredCopyCoversAllButTheEdgesTwice)
{
    const Mesh doubled = UvMesh({kLowerRight, kUpperLeft, Mirrored(kLowerRight), Mirrored(kUpperLeft)});
    const UvOverlap r = MeasureUvOverlap(doubled, 1, 64, 64);
    EXPECT_EQ(r.faces, 4);
    EXPECT_EQ(r.share, (64.0 * 64.0 - 64.0) / (64.0 * 64.0));  // the diagonal's centres are on edges
    // On a map that is not square no centre lies on the diagonal.
    const UvOverlap wide = MeasureUvOverlap(doubled, 1, 100, 61);
    EXPECT_EQ(wide, BruteOverlap({kLowerRight, kUpperLeft, Mirrored(kLowerRight), Mirrored(kUpperLeft)}, 100, 61));
    EXPECT_EQ(wide.share, 1.0);
}

TEST(UvOverlap, PartlyOverlappingTrianglesAgreeWithADoubleCount)
{
    const std::vector<UvTriangle> two{{{{0.125f, 0.125f}, {0.75f, 0.125f}, {0.125f, 0.75f}}},
                                      {{{0.5f, 0.5f}, {0.25f, 0.5f}, {0.5f, 0.0625f}}}};
    const UvOverlap r = MeasureUvOverlap(UvMesh(two), 1, 128, 128);
    EXPECT_EQ(r.faces, 2);
    EXPECT_GT(r.share, 0.0);
    EXPECT_EQ(r, BruteOverlap(two, 128, 128));
    // A third face apart from both changes nothing but is not counted.
    std::vector<UvTriangle> three = two;
    three.push_back({{{0.8f, 0.8f}, {0.9f, 0.8f}, {0.9f, 0.9f}}});
    EXPECT_EQ(MeasureUvOverlap(UvMesh(three), 1, 128, 128), r);
}

TEST(UvOverlap, RandomLayoutsAgreeWithADoubleCount)
{
    for (unsigned stream = 1; stream <= 6; ++stream) {
        const std::vector<UvTriangle> triangles = RandomTriangles(12, stream);
        const UvOverlap r = MeasureUvOverlap(UvMesh(triangles), 1, 64, 32);
        EXPECT_GT(r.faces, 1) << stream;
        EXPECT_EQ(r, BruteOverlap(triangles, 64, 32)) << stream;
    }
}

TEST(UvOverlap, UnusableFacesTakeNoPart)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Mesh mesh = UvMesh({kLowerRight, kUpperLeft, kLowerRight, {{{nan, 0}, {1, 0}, {1, 1}}},
                        {{{0, 0}, {0.5f, 0.5f}, {1, 1}}}});  // no area
    // The third face names a vertex past the channel's.
    mesh.mapFaces(1)[2].setTVerts(0, 1, 999);
    EXPECT_EQ(MeasureUvOverlap(mesh, 1, 64, 64), UvOverlap{});
    EXPECT_EQ(MeasureUvOverlap(mesh, 2, 64, 64), UvOverlap{});  // a channel the mesh lacks
    EXPECT_EQ(MeasureUvOverlap(mesh, 1, 0, 64), UvOverlap{});
}

TEST(UvOverlap, ALargeMeshAtTheLargestMapTakesWellUnderASecond)
{
    // 120 x 120 quads, two faces each: 28,800 faces over the unit square
    // that share their edges and overlap nowhere.
    std::vector<UvTriangle> triangles;
    const int n = 120;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const float u0 = static_cast<float>(i) / n, u1 = static_cast<float>(i + 1) / n;
            const float v0 = static_cast<float>(j) / n, v1 = static_cast<float>(j + 1) / n;
            triangles.push_back({{{u0, v0}, {u1, v0}, {u1, v1}}});
            triangles.push_back({{{u0, v0}, {u1, v1}, {u0, v1}}});
        }
    const Mesh grid = UvMesh(triangles);
    const auto start = std::chrono::steady_clock::now();
    const UvOverlap r = MeasureUvOverlap(grid, 1, 4096, 4096);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(r, UvOverlap{});
    RecordProperty("seconds", std::to_string(seconds));
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(seconds, 1.0);
#endif
}

TEST(UvCoverage, TheSquareIsWholeAndHalfIsHalf)
{
    EXPECT_EQ(UvCoverage(UvMesh({kLowerRight, kUpperLeft}), 1), 1.0);
    // The centres on the hypotenuse count: half plus half a row.
    EXPECT_NEAR(UvCoverage(UvMesh({kLowerRight}), 1), 0.5, 1.0 / kCoverageGrid);
    EXPECT_EQ(UvCoverage(UvMesh({kLowerRight}), 1), 0.5 + 0.5 / kCoverageGrid);
    // A union, not a sum; what lies outside the square does not count.
    EXPECT_EQ(UvCoverage(UvMesh({kLowerRight, kUpperLeft, Mirrored(kLowerRight)}), 1), 1.0);
    EXPECT_EQ(UvCoverage(UvMesh({{{{-1, -1}, {3, -1}, {-1, 3}}}}), 1), 1.0);
    EXPECT_EQ(UvCoverage(UvMesh({{{{1.5f, 0}, {2, 0}, {2, 1}}}}), 1), 0.0);
    EXPECT_EQ(UvCoverage(UvMesh({kLowerRight}), 2), 0.0);
}

TEST(UvCoverage, AgreesWithTheTrianglesArea)
{
    // A triangle of area 0.18 and one of area 0.045 apart from it.
    const Mesh two = UvMesh({{{{0.1f, 0.1f}, {0.7f, 0.1f}, {0.1f, 0.7f}}}, {{{0.9f, 0.6f}, {0.9f, 0.9f}, {0.6f, 0.9f}}}});
    EXPECT_NEAR(UvCoverage(two, 1), 0.18 + 0.045, 4.0 / kCoverageGrid);
}

TEST(UvFacesOutOfRange, CountsCornersOutsideTheSquareAndIndicesPastTheVertices)
{
    Mesh mesh = UvMesh({kLowerRight, {{{0, 0}, {1.5f, 0}, {1, 1}}}, {{{0, -0.25f}, {1, 0}, {1, 1}}}, kUpperLeft,
                        {{{0, 0}, {1.00005f, 0}, {1, 1}}}});  // within the bake's tolerance
    EXPECT_EQ(UvFacesOutOfRange(mesh, 1), 2);
    mesh.mapFaces(1)[3].setTVerts(0, 15, 1);
    EXPECT_EQ(UvFacesOutOfRange(mesh, 1), 3);
    EXPECT_EQ(UvFacesOutOfRange(mesh, 2), 5);  // no vertices at all: no face can be baked
}

}  // namespace
