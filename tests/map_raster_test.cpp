#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <set>

#include "check_recorder.h"
#include "map_support.h"

using namespace dunsmere;

namespace {

using Texels = std::set<std::pair<int, int>>;

BArray<TexelRecord> Grid(std::uint32_t W, std::uint32_t H)
{
    BArray<TexelRecord> grid;
    grid.Resize(W, H, kEmptyTexel);
    return grid;
}

Texels Where(const BArray<TexelRecord>& grid, bool marker)
{
    Texels found;
    for (std::uint32_t x = 0; x < grid.OuterCount(); ++x)
        for (std::uint32_t y = 0; y < grid.InnerCount(x); ++y)
            if (marker ? IsEdgeMarker(grid.Get(x, y)) : grid.Get(x, y).face >= 0)
                found.insert({static_cast<int>(x), static_cast<int>(y)});
    return found;
}

Point3 UV(float u, float v) { return {u, v, 0.0f}; }

// The clamped texel corners of a face, read off its TRIANGLE line.
struct Corners {
    int face = -1, x[3] = {}, y[3] = {};
};
Corners Drawn(const std::vector<std::string>& lines)
{
    Corners c;
    for (const std::string& l : lines)
        if (std::sscanf(l.c_str(), "TRIANGLE %d: (%d, %d), (%d, %d), (%d, %d)", &c.face, &c.x[0], &c.y[0], &c.x[1],
                        &c.y[1], &c.x[2], &c.y[2]) == 7)
            return c;
    ADD_FAILURE() << "no TRIANGLE line";
    return c;
}

TEST(Rasterize, CornersWrapTruncateAndClamp)
{
    Point3 p{-0.0005f, 1.00005f, 5.0f};
    WrapToUnit(p);
    EXPECT_EQ(p, Point3(-0.0005f + 1.0f, 1.00005f - 1.0f, 5.0f));  // w untouched
    Point3 kept{-0.00001f, 1.0000009536743164f, 0.0f};
    WrapToUnit(kept);
    EXPECT_EQ(kept, Point3(-0.00001f, 1.0000009536743164f, 0.0f));
    Point3 far{3.25f, 1e30f, 0.0f};  // whole turns one by one; a step that changes nothing ends it
    WrapToUnit(far);
    EXPECT_EQ(far, Point3(0.25f, 1e30f, 0.0f));

    // W = H = 10; the other two corners land on (2, 7) and (3, 2).
    const struct { float u, v; int x, y; } cases[] = {
        {1.0f, 0.0f, 9, 9},       {0.0f, 1.0f, 0, 0},      {0.55f, 0.35f, 5, 6},   {-0.0005f, 0.5f, 9, 5},
        {1.00005f, 0.5f, 0, 5},   {1.0000005f, 0.5f, 9, 5}, {0.5f, -0.0005f, 5, 0}, {0.5f, 1.00005f, 5, 9},
        {-0.001f, 1.0001f, 9, 9},
    };
    for (const auto& c : cases) {
        DebugCapture debug;
        BArray<TexelRecord> grid = Grid(10, 10);
        RasterizeFace(grid, UV(c.u, c.v), UV(0.25f, 0.25f), UV(0.375f, 0.75f), 4);
        const Corners d = Drawn(debug.Take());
        EXPECT_EQ(d.face, 4);
        EXPECT_EQ(d.x[0], c.x) << "u = " << c.u;
        EXPECT_EQ(d.y[0], c.y) << "v = " << c.v;
        EXPECT_TRUE(d.x[1] == 2 && d.y[1] == 7 && d.x[2] == 3 && d.y[2] == 2);
    }
}

TEST(Rasterize, FacesOutsideTheRangeAreSkippedSilently)
{
    for (const Point3& bad : {UV(-0.0011f, 0.5f), UV(1.0002f, 0.5f), UV(0.5f, -0.0011f), UV(0.5f, 1.0002f),
                              UV(NAN, 0.5f), UV(0.5f, NAN)})
        for (int slot = 0; slot < 3; ++slot) {
            DebugCapture debug;
            BArray<TexelRecord> grid = Grid(10, 10);
            Point3 p[3] = {UV(0.1f, 0.1f), UV(0.9f, 0.2f), UV(0.5f, 0.9f)};
            p[slot] = bad;
            RasterizeFace(grid, p[0], p[1], p[2], 0);
            EXPECT_TRUE(debug.Take().empty());
            EXPECT_TRUE(Where(grid, false).empty());
        }
    DebugCapture debug;  // w is no map coordinate
    BArray<TexelRecord> grid = Grid(10, 10);
    RasterizeFace(grid, {0.1f, 0.1f, 5.0f}, {0.9f, 0.2f, 5.0f}, {0.5f, 0.9f, -7.0f}, 0);
    EXPECT_EQ(debug.Take().size(), 4u);
    EXPECT_FALSE(Where(grid, false).empty());

    // Three corners in one texel: three empty edges and the face's line.
    BArray<TexelRecord> dot = Grid(10, 10);
    RasterizeFace(dot, UV(0.51f, 0.51f), UV(0.55f, 0.52f), UV(0.53f, 0.58f), 2);
    const std::string edge = "DRAWLINE : 5, 4  -> 5, 4\n";
    EXPECT_EQ(debug.Take(), (std::vector<std::string>{edge, edge, edge, "TRIANGLE 2: (5, 4), (5, 4), (5, 4)\n"}));
    EXPECT_TRUE(Where(dot, false).empty());
}

TEST(Rasterize, RightTriangleCoverageWeightsAndDebugLines)
{
    // Texel corners (0, 0), (0, 5), (5, 5) for vertices 0, 1, 2.
    DebugCapture debug;
    BArray<TexelRecord> grid = Grid(10, 10);
    RasterizeFace(grid, UV(0.0f, 1.0f), UV(0.0f, 0.5f), UV(0.5f, 0.5f), 7);
    EXPECT_EQ(debug.Take(), (std::vector<std::string>{"DRAWLINE : 0, 0  -> 0, 5\n", "DRAWLINE : 0, 0  -> 5, 5\n",
                                                      "DRAWLINE : 5, 5  -> 0, 5\n",
                                                      "TRIANGLE 7: (0, 0), (0, 5), (5, 5)\n"}));
    // Both axis-aligned edges stop short of (0, 5), so row 5 starts at 1.
    Texels want{{1, 5}, {2, 5}, {3, 5}, {4, 5}, {5, 5}};
    for (int y = 0; y <= 4; ++y)
        for (int x = 0; x <= y; ++x) want.insert({x, y});
    EXPECT_EQ(Where(grid, false), want);
    EXPECT_TRUE(Where(grid, true).empty());

    const TexelRecord& corner = grid.Get(0, 0);
    EXPECT_EQ(corner.face, 7);
    EXPECT_EQ(corner.rawBary, Point3(1.0f, 0.0f, 0.0f));
    EXPECT_NEAR(corner.bary.x, 0.98039f, 1e-5f);
    EXPECT_NEAR(corner.bary.y, 0.0098039f, 1e-6f);
    EXPECT_NEAR(corner.bary.z, 0.0098039f, 1e-6f);
    const Point3 inner = grid.Get(1, 3).rawBary;  // 0.4 (0, 0) + 0.4 (0, 5) + 0.2 (5, 5)
    EXPECT_NEAR(inner.x, 0.4f, 1e-6f);
    EXPECT_NEAR(inner.y, 0.4f, 1e-6f);
    EXPECT_NEAR(inner.z, 0.2f, 1e-6f);
}

TEST(Rasterize, DrawLineEndTexels)
{
    const struct { int x0, y0, x1, y1; Texels marked; } cases[] = {
        {2, 1, 2, 4, {{2, 1}, {2, 2}, {2, 3}}},  // axis-aligned: the end texel is left out
        {2, 4, 2, 1, {{2, 4}, {2, 3}, {2, 2}}},
        {4, 3, 1, 3, {{4, 3}, {3, 3}, {2, 3}}},
        {3, 3, 3, 3, {}},
        {0, 0, 3, 1, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},  // Bresenham: both ends
        {3, 1, 0, 0, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},
        {0, 0, 1, 3, {{0, 0}, {0, 1}, {1, 2}, {1, 3}}},  // steep
        {0, 2, 2, 0, {{0, 2}, {1, 1}, {2, 0}}},          // equal extents
        {0, 0, 4, 2, {{0, 0}, {1, 1}, {2, 1}, {3, 2}, {4, 2}}},  // a decision of 0 steps at once
    };
    for (const auto& c : cases) {
        DebugCapture debug;
        BArray<TexelRecord> grid = Grid(6, 6);
        DrawLine(c.x0, c.y0, c.x1, c.y1, grid, kEdgeMarker);
        EXPECT_EQ(Where(grid, true), c.marked) << c.x0 << "," << c.y0 << " -> " << c.x1 << "," << c.y1;
        EXPECT_EQ(debug.Take().size(), 1u);
    }
}

// Doubled signed area of (a, b, p).
double Edge(double ax, double ay, double bx, double by, double px, double py)
{
    return (bx - ax) * (py - ay) - (by - ay) * (px - ax);
}

TEST(Rasterize, RandomFacesLeaveConsistentRecordsAndTheLastFaceWins)
{
    CheckRecorder checks;
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> coord(0.0f, 1.0f);
    int flat = 0;
    for (int trial = 0; trial < 300; ++trial) {
        Point3 p[3];
        for (Point3& q : p) q = UV(coord(rng), coord(rng));
        if (trial % 4 == 0) p[2] = UV(p[0].x + (p[1].x - p[0].x) * 0.25f, p[0].y + (p[1].y - p[0].y) * 0.25f);
        if (trial % 8 == 0) p[1] = p[2] = UV(p[0].x + 0.5f * (1.0f - p[0].x), p[0].y);  // flat in texels
        BArray<TexelRecord> grid = Grid(20, 16);
        DebugCapture debug;
        RasterizeFace(grid, p[0], p[1], p[2], trial);
        const Corners c = Drawn(debug.Take());
        const double area = Edge(c.x[0], c.y[0], c.x[1], c.y[1], c.x[2], c.y[2]);
        flat += area == 0.0;
        ASSERT_TRUE(Where(grid, true).empty());
        for (const auto& [x, y] : Where(grid, false)) {
            const TexelRecord& r = grid.Get(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y));
            ASSERT_EQ(r.face, trial);
            ASSERT_NEAR(r.bary.x + r.bary.y + r.bary.z, 1.0f, 1e-6f);
            if (area == 0.0) {
                ASSERT_EQ(r.rawBary, r.bary);  // finite, usable weights for a collapsed face
                ASSERT_TRUE(r.bary.x > 0.0f && r.bary.y > 0.0f && r.bary.z > 0.0f);
                continue;
            }
            // The raw weights are those of the lattice point; the others are
            // them raised to 0.01 and scaled to sum to 1.
            float raised[3], sum = 0.0f;
            double px = 0, py = 0;
            for (int k = 0; k < 3; ++k) {
                raised[k] = std::max(r.rawBary[k], 0.01f);
                sum += raised[k];
                px += static_cast<double>(r.rawBary[k]) * c.x[k];
                py += static_cast<double>(r.rawBary[k]) * c.y[k];
            }
            ASSERT_NEAR(px, x, 1e-3);
            ASSERT_NEAR(py, y, 1e-3);
            for (int k = 0; k < 3; ++k) ASSERT_NEAR(r.bary[k] * sum, raised[k], 1e-6f);
        }
        // Lattice points more than a texel inside every edge are covered.
        for (int x = 0; x < 20 && area != 0.0; ++x)
            for (int y = 0; y < 16; ++y) {
                bool deep = true;
                for (int k = 0; k < 3; ++k) {
                    const int j = (k + 1) % 3;
                    deep = deep && (area > 0 ? 1 : -1) * Edge(c.x[k], c.y[k], c.x[j], c.y[j], x, y) >
                                       std::hypot(c.x[j] - c.x[k], c.y[j] - c.y[k]);
                }
                if (deep) {
                    ASSERT_EQ(grid.Get(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(y)).face, trial);
                }
            }
        // A later face overwrites exactly its own texels.
        BArray<TexelRecord> alone = Grid(20, 16), both = grid;
        RasterizeFace(alone, p[1], UV(0.5f, 0.5f), p[0], trial + 1000);
        RasterizeFace(both, p[1], UV(0.5f, 0.5f), p[0], trial + 1000);
        for (std::uint32_t x = 0; x < 20; ++x)
            for (std::uint32_t y = 0; y < 16; ++y)
                ASSERT_EQ(both.Get(x, y), alone.Get(x, y).face >= 0 ? alone.Get(x, y) : grid.Get(x, y));
    }
    EXPECT_GT(flat, 30);
    EXPECT_TRUE(checks.Take().empty());
}

// A band of rows gets, texel for texel and bit for bit, the records that
// rasterizing the whole map gives those rows, edges crossing the band and
// faces overlapping included; no band keeps an edge marker.
TEST(Rasterize, BandsGetTheWholeMapsRecords)
{
    constexpr std::uint32_t W = 61, H = 150;
    std::mt19937 rng(23);
    std::uniform_real_distribution<float> coord(-0.0005f, 1.0f);
    std::vector<std::array<Point3, 3>> faces(400);
    for (std::size_t f = 0; f < faces.size(); ++f) {
        for (Point3& q : faces[f]) q = UV(coord(rng), coord(rng));
        if (f % 5 == 0) faces[f][2] = UV(faces[f][0].x, faces[f][1].y);  // axis-aligned edges
        if (f % 9 == 0) faces[f][1] = faces[f][2] = UV(faces[f][0].x, 0.5f);  // flat in texels
    }
    BArray<TexelRecord> whole = Grid(W, H);
    for (std::size_t f = 0; f < faces.size(); ++f)
        RasterizeFace(whole, faces[f][0], faces[f][1], faces[f][2], static_cast<int>(f));
    for (const std::uint32_t rows : {1u, 7u, 64u}) {
        for (std::uint32_t first = 0; first < H; first += rows) {
            const std::uint32_t count = std::min(rows, H - first);
            BArray<TexelRecord> band = Grid(W, count);
            for (std::size_t f = 0; f < faces.size(); ++f)
                RasterizeFaceInRows(band, {static_cast<int>(H), static_cast<int>(first), count}, faces[f][0],
                                    faces[f][1], faces[f][2], static_cast<int>(f), false);
            for (std::uint32_t x = 0; x < W; ++x)
                for (std::uint32_t r = 0; r < count; ++r) {
                    const TexelRecord a = band.Get(x, r), b = whole.Get(x, first + r);
                    ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "bands of " << rows << ", texel " << x << ", "
                                                                 << first + r;
                }
        }
    }
}

}  // namespace
