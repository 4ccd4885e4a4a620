#include "map/detail/rasterize.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "host/face_rule.h"

namespace dunsmere {

namespace {

// Below this a coordinate is wrapped up by 1, above the other down by 1:
// -0.00001 and 1 + 8 * 2^-23, so values within rounding of 0 and 1 stay.
constexpr float kWrapLow = -0.00001f;
constexpr float kWrapHigh = 1.0000009536743164f;
// Every conditioned weight starts at least this large, so the sample point
// lies inside the face even on edge texels outside the exact triangle.
constexpr float kWeightFloor = 0.01f;

// Stops where a step no longer changes the value (far outside the range the
// rasterizer accepts), so a direct call can never loop for ever.
float WrapCoordinate(float c)
{
    while (c < kWrapLow) {
        const float next = c + 1.0f;
        if (next == c) break;
        c = next;
    }
    while (c > kWrapHigh) {
        const float next = c - 1.0f;
        if (next == c) break;
        c = next;
    }
    return c;
}

// trunc(scaled) clamped to 0 .. count - 1.
int TexelIndex(double scaled, int count)
{
    const double t = std::trunc(scaled);
    if (!(t >= 0.0)) return 0;
    if (t > static_cast<double>(count - 1)) return count - 1;
    return static_cast<int>(t);
}

// The grid row that holds map row y.
int GridRow(const MapRows& rows, int y) { return rows.wholeGrid ? y : y - rows.first; }

// Marks map texel (x, y) when it is one of the band's rows.
void Mark(BArray<TexelRecord>& grid, const MapRows& rows, int x, int y, const TexelRecord& marker)
{
    if (y < rows.first || y - rows.first >= static_cast<int>(rows.count)) return;
    grid.Set(static_cast<std::uint32_t>(x), static_cast<std::uint32_t>(GridRow(rows, y)), marker);
}

float Floored(float w) { return (w < kWeightFloor || std::isnan(w)) ? kWeightFloor : w; }

Point3 Conditioned(const Point3& raw)
{
    const float b0 = Floored(raw.x), b1 = Floored(raw.y), b2 = Floored(raw.z);
    const float s = (b0 + b1) + b2;
    return {b0 / s, b1 / s, b2 / s};
}

// For a texel triangle of zero area (its corners on one line): the weights
// of the nearest point on its longest side, so the samples of a collapsed
// face still spread along it.
Point3 CollinearWeights(const int xs[3], const int ys[3], int x, int y)
{
    static constexpr int kPairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    int a = 0, b = 1;
    std::int64_t longest = -1;
    for (const auto& pair : kPairs) {
        const std::int64_t dx = xs[pair[1]] - xs[pair[0]], dy = ys[pair[1]] - ys[pair[0]];
        if (dx * dx + dy * dy > longest) {
            longest = dx * dx + dy * dy;
            a = pair[0];
            b = pair[1];
        }
    }
    float t = 0.0f;
    if (longest > 0) {
        const std::int64_t along = std::int64_t{x - xs[a]} * (xs[b] - xs[a]) + std::int64_t{y - ys[a]} * (ys[b] - ys[a]);
        t = static_cast<float>(static_cast<double>(along) / static_cast<double>(longest));
        if (t < 0.0f) t = 0.0f;
        if (t > 1.0f) t = 1.0f;
    }
    float w[3] = {0.0f, 0.0f, 0.0f};
    w[a] = 1.0f - t;
    w[b] = t;
    return {w[0], w[1], w[2]};
}

}  // namespace

void WrapToUnit(Point3& p)
{
    p.x = WrapCoordinate(p.x);
    p.y = WrapCoordinate(p.y);
}

namespace {

void TraceLine(int x0, int y0, int x1, int y1) { DebugPrint("DRAWLINE : %d, %d  -> %d, %d\n", x0, y0, x1, y1); }

// DrawLine's texels, marked in the band's rows.
void DrawLineInRows(int x0, int y0, int x1, int y1, BArray<TexelRecord>& grid, const MapRows& rows,
                    const TexelRecord& marker)
{
    if (x0 == x1) {
        const int step = y0 <= y1 ? 1 : -1;
        for (int y = y0; y != y1; y += step) Mark(grid, rows, x0, y, marker);
        return;
    }
    if (y0 == y1) {
        const int step = x0 <= x1 ? 1 : -1;
        for (int x = x0; x != x1; x += step) Mark(grid, rows, x, y0, marker);
        return;
    }

    const bool steep = std::abs(x0 - x1) < std::abs(y0 - y1);
    int major0 = steep ? y0 : x0, minor0 = steep ? x0 : y0;
    int major1 = steep ? y1 : x1, minor1 = steep ? x1 : y1;
    if (major0 > major1) {
        std::swap(major0, major1);
        std::swap(minor0, minor1);
    }
    const int dM = major1 - major0;
    const int dm = std::abs(minor1 - minor0);
    const int minorStep = minor1 > minor0 ? 1 : -1;
    const auto mark = [&](int major, int minor) {
        if (steep) Mark(grid, rows, minor, major, marker);
        else Mark(grid, rows, major, minor, marker);
    };

    int e = 2 * dm - dM;
    int minor = minor0;
    mark(major0, minor);
    for (int major = major0 + 1; major <= major1; ++major) {
        if (e < 0) {
            e += 2 * dm;
        } else {
            e += 2 * (dm - dM);
            minor += minorStep;
        }
        mark(major, minor);
    }
}

}  // namespace

void DrawLine(int x0, int y0, int x1, int y1, BArray<TexelRecord>& grid, const TexelRecord& marker)
{
    const std::uint32_t H = grid.OuterCount() > 0 ? grid.InnerCount(0) : 0u;
    TraceLine(x0, y0, x1, y1);
    DrawLineInRows(x0, y0, x1, y1, grid, {static_cast<int>(H), 0, H}, marker);
}

void RasterizeFace(BArray<TexelRecord>& grid, Point3 p0, Point3 p1, Point3 p2, int face)
{
    const std::uint32_t H = grid.OuterCount() > 0 ? grid.InnerCount(0) : 0u;
    RasterizeFaceInRows(grid, {static_cast<int>(H), 0, H}, p0, p1, p2, face, true);
}

namespace {

// The texel corners of a face's map triangle in a W x H map; false for a
// face the rasterizer skips.
bool TexelCorners(Point3 p0, Point3 p1, Point3 p2, int W, int H, int xs[3], int ys[3])
{
    Point3* const p[3] = {&p0, &p1, &p2};
    for (const Point3* v : p)
        if (!InMapRange(v->x) || !InMapRange(v->y)) return false;
    if (W <= 0 || H <= 0) return false;
    for (int k = 0; k < 3; ++k) {
        WrapToUnit(*p[k]);
        xs[k] = TexelIndex(static_cast<double>(W) * static_cast<double>(p[k]->x), W);
        ys[k] = TexelIndex((1.0 - static_cast<double>(p[k]->y)) * static_cast<double>(H), H);
    }
    return true;
}

// The debug lines of a face's rasterizing: its three edges, then itself.
void TraceCorners(const int xs[3], const int ys[3], int face)
{
    TraceLine(xs[0], ys[0], xs[1], ys[1]);
    TraceLine(xs[0], ys[0], xs[2], ys[2]);
    TraceLine(xs[2], ys[2], xs[1], ys[1]);
    DebugPrint("TRIANGLE %d: (%d, %d), (%d, %d), (%d, %d)\n", face, xs[0], ys[0], xs[1], ys[1], xs[2], ys[2]);
}

}  // namespace

void TraceRasterize(Point3 p0, Point3 p1, Point3 p2, int mapWidth, int mapHeight, int face)
{
    int xs[3], ys[3];
    if (TexelCorners(p0, p1, p2, mapWidth, mapHeight, xs, ys)) TraceCorners(xs, ys, face);
}

bool FaceRowSpan(Point3 p0, Point3 p1, Point3 p2, int mapWidth, int mapHeight, int& first, int& last)
{
    int xs[3], ys[3];
    if (!TexelCorners(p0, p1, p2, mapWidth, mapHeight, xs, ys)) return false;
    first = std::min({ys[0], ys[1], ys[2]});
    last = std::max({ys[0], ys[1], ys[2]});
    return true;
}

void RasterizeFaceInRows(BArray<TexelRecord>& grid, const MapRows& rows, Point3 p0, Point3 p1, Point3 p2, int face,
                         bool trace)
{
    const int W = static_cast<int>(grid.OuterCount());
    const int H = rows.mapHeight;
    if (W <= 0 || H <= 0 || rows.count == 0) return;
    if (rows.first < 0 || static_cast<std::int64_t>(rows.first) + rows.count > H ||
        grid.InnerCount(0) != (rows.wholeGrid ? static_cast<std::uint32_t>(H) : rows.count))
        return;

    int xs[3], ys[3];
    if (!TexelCorners(p0, p1, p2, W, H, xs, ys)) return;
    int xMin = xs[0], xMax = xs[0], yMin = ys[0], yMax = ys[0];
    for (int k = 1; k < 3; ++k) {
        xMin = std::min(xMin, xs[k]);
        xMax = std::max(xMax, xs[k]);
        yMin = std::min(yMin, ys[k]);
        yMax = std::max(yMax, ys[k]);
    }

    // The edges are traced whole, so that their texels are the whole map's,
    // and marked only in the band's rows.
    if (trace) TraceCorners(xs, ys, face);
    DrawLineInRows(xs[0], ys[0], xs[1], ys[1], grid, rows, kEdgeMarker);
    DrawLineInRows(xs[0], ys[0], xs[2], ys[2], grid, rows, kEdgeMarker);
    DrawLineInRows(xs[2], ys[2], xs[1], ys[1], grid, rows, kEdgeMarker);

    // Integer corners keep this exact: zero here is exactly where the
    // weights below would divide by zero.
    const std::int64_t area = std::int64_t{xs[1] - xs[0]} * (ys[2] - ys[0]) - std::int64_t{xs[2] - xs[0]} * (ys[1] - ys[0]);
    const Point2 q0{static_cast<float>(xs[0]), static_cast<float>(ys[0])};
    const Point2 q1{static_cast<float>(xs[1]), static_cast<float>(ys[1])};
    const Point2 q2{static_cast<float>(xs[2]), static_cast<float>(ys[2])};

    const int yFirst = std::max(yMin, rows.first);
    const int yLast = std::min(yMax, rows.first + static_cast<int>(rows.count) - 1);
    for (int y = yFirst; y <= yLast; ++y) {
        const std::uint32_t row = static_cast<std::uint32_t>(GridRow(rows, y));
        int xLeft = xMin;
        while (xLeft <= xMax && !IsEdgeMarker(grid.Get(static_cast<std::uint32_t>(xLeft), row))) ++xLeft;
        if (xLeft > xMax) continue;
        int xRight = xMax;
        while (!IsEdgeMarker(grid.Get(static_cast<std::uint32_t>(xRight), row))) --xRight;

        for (int x = xLeft; x <= xRight; ++x) {
            TexelRecord r;
            r.face = face;
            if (area != 0) {
                r.rawBary = BaryCoords(q0, q1, q2, {static_cast<float>(x), static_cast<float>(y)});
                r.bary = Conditioned(r.rawBary);
            } else {
                r.bary = Conditioned(CollinearWeights(xs, ys, x, y));
                r.rawBary = r.bary;
            }
            grid.Set(static_cast<std::uint32_t>(x), row, r);
        }
    }
}

}  // namespace dunsmere
