#include "app/mesh/uv_cover.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "host/face_rule.h"

namespace dunsmere {

namespace {

using Int = std::int64_t;

// Lattice steps per UV unit, at most. With corners within kUvReach of the
// square a coordinate stays below 2^29, a difference below 2^30, and every
// product of the edge functions below 2^61.
constexpr Int kStepsPerUnit = Int{1} << 22;

// One axis of a grid of N texels: the centre of texel i, at (i + 0.5) / N,
// is the lattice point (2i + 1) * half.
struct Axis {
    int n = 0;
    Int half = 0;  // lattice steps per half texel
    Int Unit() const { return 2 * n * half; }
};

Axis MakeAxis(int n) { return {n, kStepsPerUnit / (2 * Int{n})}; }

struct LatticePoint {
    Int x = 0, y = 0;
};

// Counter-clockwise, with area.
struct LatticeTriangle {
    LatticePoint p[3];
};

std::optional<Int> Snap(float c, Int unit)
{
    if (!std::isfinite(c) || c < -kUvReach || c > 1.0f + kUvReach) return std::nullopt;
    return std::llround(static_cast<double>(c) * static_cast<double>(unit));
}

// The channel's measurable faces on the lattice of the grid AX x AY.
std::vector<LatticeTriangle> Triangles(const Mesh& mesh, int channel, const Axis& ax, const Axis& ay)
{
    std::vector<LatticeTriangle> out;
    const UVVert* tv = mesh.mapVerts(channel);
    const TVFace* tf = mesh.mapFaces(channel);
    const int count = mesh.getNumMapVerts(channel);
    if (!tv || !tf || count <= 0) return out;
    const DWORD limit = static_cast<DWORD>(count);
    for (int f = 0; f < mesh.getNumFaces(); ++f) {
        LatticeTriangle t;
        bool usable = true;
        for (int k = 0; k < 3 && usable; ++k) {
            const DWORD index = tf[f].t[k];
            if (index >= limit) {
                usable = false;
                break;
            }
            const std::optional<Int> x = Snap(tv[index].x, ax.Unit()), y = Snap(tv[index].y, ay.Unit());
            usable = x && y;
            if (usable) t.p[k] = {*x, *y};
        }
        if (!usable) continue;
        const Int area2 = (t.p[1].x - t.p[0].x) * (t.p[2].y - t.p[0].y) - (t.p[1].y - t.p[0].y) * (t.p[2].x - t.p[0].x);
        if (area2 == 0) continue;
        if (area2 < 0) std::swap(t.p[1], t.p[2]);
        out.push_back(t);
    }
    return out;
}

Int FloorDiv(Int a, Int b)  // b > 0
{
    const Int q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

Int CeilDiv(Int a, Int b)  // b > 0
{
    const Int q = a / b;
    return (a % b != 0 && a > 0) ? q + 1 : q;
}

// Calls SPAN(row, first, last) for each grid row with the texel centres
// first..last (both included) strictly inside T, or with EDGES_IN inside or
// on it. Each edge function is linear along a row, so its sign changes at
// one column that integer division finds exactly.
template <class Span>
void ForEachSpan(const LatticeTriangle& t, const Axis& ax, const Axis& ay, bool edgesIn, Span&& span)
{
    const Int ymin = std::min({t.p[0].y, t.p[1].y, t.p[2].y}), ymax = std::max({t.p[0].y, t.p[1].y, t.p[2].y});
    const Int rowFirst = std::max<Int>(0, CeilDiv(ymin - ay.half, 2 * ay.half));
    const Int rowLast = std::min<Int>(ay.n - 1, FloorDiv(ymax - ay.half, 2 * ay.half));
    for (Int j = rowFirst; j <= rowLast; ++j) {
        const Int y = (2 * j + 1) * ay.half;
        Int first = 0, last = ax.n - 1;
        for (int k = 0; k < 3 && first <= last; ++k) {
            const LatticePoint& a = t.p[k];
            const LatticePoint& b = t.p[(k + 1) % 3];
            const Int dx = b.x - a.x, dy = b.y - a.y;
            // The edge function at column i's centre is slope * i + offset;
            // ">= 0" is "> -1" on integers.
            const Int slope = -2 * ax.half * dy;
            const Int offset = dx * (y - a.y) - dy * (ax.half - a.x) + (edgesIn ? 1 : 0);
            if (slope > 0) first = std::max(first, FloorDiv(-offset, slope) + 1);
            else if (slope < 0) last = std::min(last, CeilDiv(offset, -slope) - 1);
            else if (offset <= 0) last = -1;
        }
        if (first <= last) span(static_cast<std::size_t>(j), static_cast<std::size_t>(first), static_cast<std::size_t>(last));
    }
}

bool SizeInRange(int n) { return n >= 1 && n <= kUvGridMax; }

}  // namespace

UvOverlap MeasureUvOverlap(const Mesh& mesh, int channel, int width, int height)
{
    if (!SizeInRange(width) || !SizeInRange(height)) return {};
    const Axis ax = MakeAxis(width), ay = MakeAxis(height);
    const std::vector<LatticeTriangle> triangles = Triangles(mesh, channel, ax, ay);
    const std::size_t w = static_cast<std::size_t>(width);
    // Inside how many faces each texel centre lies, stopping at two.
    std::vector<std::uint8_t> depth(w * static_cast<std::size_t>(height), 0);
    std::size_t twice = 0;
    for (const LatticeTriangle& t : triangles)
        ForEachSpan(t, ax, ay, false, [&](std::size_t row, std::size_t first, std::size_t last) {
            for (std::uint8_t *d = &depth[row * w + first], *end = &depth[row * w + last] + 1; d != end; ++d)
                if (*d < 2 && ++*d == 2) ++twice;
        });
    UvOverlap result;
    if (twice == 0) return result;
    for (const LatticeTriangle& t : triangles) {
        bool owns = false;
        ForEachSpan(t, ax, ay, false, [&](std::size_t row, std::size_t first, std::size_t last) {
            const std::uint8_t* d = &depth[row * w];
            owns = owns || std::any_of(d + first, d + last + 1, [](std::uint8_t n) { return n >= 2; });
        });
        if (owns) ++result.faces;
    }
    result.share = static_cast<double>(twice) / (static_cast<double>(width) * static_cast<double>(height));
    return result;
}

double UvCoverage(const Mesh& mesh, int channel)
{
    const Axis axis = MakeAxis(kCoverageGrid);
    const std::vector<LatticeTriangle> triangles = Triangles(mesh, channel, axis, axis);
    const std::size_t side = static_cast<std::size_t>(kCoverageGrid);
    std::vector<std::uint8_t> covered(side * side, 0);
    std::size_t count = 0;
    for (const LatticeTriangle& t : triangles)
        ForEachSpan(t, axis, axis, true, [&](std::size_t row, std::size_t first, std::size_t last) {
            for (std::uint8_t *c = &covered[row * side + first], *end = &covered[row * side + last] + 1; c != end; ++c)
                if (!*c) {
                    *c = 1;
                    ++count;
                }
        });
    return static_cast<double>(count) / (static_cast<double>(side) * static_cast<double>(side));
}

int UvFacesOutOfRange(const Mesh& mesh, int channel)
{
    MapFaceFilter filter;
    filter.mapChannel = channel;
    int count = 0;
    for (int f = 0; f < mesh.getNumFaces(); ++f) {
        const FaceExclusion why = MapFaceExclusion(mesh, filter, f);
        if (why == FaceExclusion::kNoMapChannel || why == FaceExclusion::kMapIndexOutOfRange ||
            why == FaceExclusion::kOutsideUnitSquare)
            ++count;
    }
    return count;
}

}  // namespace dunsmere
