#include "app/mesh/polygon.h"

#include <cmath>
#include <cstddef>
#include <set>

namespace dunsmere {

namespace {

struct P2 {
    double x, y;
};

// Twice the signed area of (a, b, c); positive when they turn the polygon's way.
double Orient(const P2& a, const P2& b, const P2& c) { return (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y); }

// P on the closed segment a-b, given that the three are collinear.
bool WithinBox(const P2& a, const P2& b, const P2& p)
{
    return std::fmin(a.x, b.x) <= p.x && p.x <= std::fmax(a.x, b.x) && std::fmin(a.y, b.y) <= p.y &&
           p.y <= std::fmax(a.y, b.y);
}

// Whether the closed segments a-b and c-d have a point in common.
bool SegmentsMeet(const P2& a, const P2& b, const P2& c, const P2& d)
{
    const double d1 = Orient(c, d, a), d2 = Orient(c, d, b), d3 = Orient(a, b, c), d4 = Orient(a, b, d);
    if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0))) return true;
    return (d1 == 0 && WithinBox(c, d, a)) || (d2 == 0 && WithinBox(c, d, b)) || (d3 == 0 && WithinBox(a, b, c)) ||
           (d4 == 0 && WithinBox(a, b, d));
}

// A polygon crosses or touches itself when two edges that are not neighbours
// meet, or two neighbours fold back onto each other.
bool SelfIntersecting(const std::vector<P2>& p)
{
    const std::size_t n = p.size();
    for (std::size_t i = 0; i < n; ++i) {
        const P2& a = p[i];
        const P2& b = p[(i + 1) % n];
        const P2& c = p[(i + 2) % n];
        if (Orient(a, b, c) == 0 && (b.x - a.x) * (c.x - b.x) + (b.y - a.y) * (c.y - b.y) < 0) return true;
        for (std::size_t j = i + 2; j < n; ++j) {
            if (i == 0 && j == n - 1) continue;  // neighbours through corner 0
            if (SegmentsMeet(a, b, p[j], p[(j + 1) % n])) return true;
        }
    }
    return false;
}

// The closed triangle (a, b, c), which turns the polygon's way, holds p.
bool InTriangle(const P2& a, const P2& b, const P2& c, const P2& p)
{
    return Orient(a, b, p) >= 0 && Orient(b, c, p) >= 0 && Orient(c, a, p) >= 0;
}

class EarClipper {
public:
    explicit EarClipper(const std::vector<P2>& p) : p_(p), prev_(p.size()), next_(p.size()), convex_(p.size())
    {
        const int n = static_cast<int>(p.size());
        for (int i = 0; i < n; ++i) {
            prev_[Size(i)] = (i + n - 1) % n;
            next_[Size(i)] = (i + 1) % n;
        }
        for (int i = 0; i < n; ++i) UpdateConvex(i);
        for (int i = 0; i < n; ++i)
            if (IsEar(i)) ears_.insert(i);
    }

    bool Run(std::vector<std::array<int, 3>>& out)
    {
        for (std::size_t left = p_.size(); left > 3; --left) {
            if (ears_.empty()) return false;
            const int tip = *ears_.begin();
            const int a = prev_[Size(tip)], b = next_[Size(tip)];
            out.push_back({a, tip, b});
            ears_.erase(ears_.begin());
            next_[Size(a)] = b;
            prev_[Size(b)] = a;
            for (int v : {a, b}) {
                UpdateConvex(v);
                if (IsEar(v)) ears_.insert(v);
                else ears_.erase(v);
            }
        }
        // The last three: taken from the lowest corner still left, as an ear would be.
        int tip = 0;
        for (int i = 0; i < static_cast<int>(p_.size()); ++i)
            if (!removed(i)) {
                tip = i;
                break;
            }
        const int a = prev_[Size(tip)], b = next_[Size(tip)];
        if (!(Orient(p_[Size(a)], p_[Size(tip)], p_[Size(b)]) > 0)) return false;
        out.push_back({a, tip, b});
        return true;
    }

private:
    static std::size_t Size(int i) { return static_cast<std::size_t>(i); }
    // A clipped corner is no neighbour of the corners still left.
    bool removed(int i) const { return next_[Size(prev_[Size(i)])] != i; }

    void UpdateConvex(int i)
    {
        const bool convex = Orient(p_[Size(prev_[Size(i)])], p_[Size(i)], p_[Size(next_[Size(i)])]) > 0;
        convex_[Size(i)] = convex;
        if (convex) notConvex_.erase(i);
        else notConvex_.insert(i);
    }

    // A convex corner whose triangle holds no other corner left that is not
    // convex (a convex one inside would bring a reflex one with it).
    bool IsEar(int i) const
    {
        if (!convex_[Size(i)]) return false;
        const int a = prev_[Size(i)], b = next_[Size(i)];
        for (int r : notConvex_) {
            if (r == a || r == b) continue;
            if (InTriangle(p_[Size(a)], p_[Size(i)], p_[Size(b)], p_[Size(r)])) return false;
        }
        return true;
    }

    const std::vector<P2>& p_;
    std::vector<int> prev_, next_;
    std::vector<bool> convex_;
    std::set<int> ears_, notConvex_;
};

}  // namespace

PolygonFault TriangulatePolygon(const std::vector<Point3>& corners, std::vector<std::array<int, 3>>& triangles)
{
    triangles.clear();
    const std::size_t n = corners.size();
    // Newell's normal, about corner 0 so that distant polygons keep their digits.
    const double ox = static_cast<double>(corners[0].x), oy = static_cast<double>(corners[0].y),
                 oz = static_cast<double>(corners[0].z);
    double nx = 0, ny = 0, nz = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Point3& a = corners[i];
        const Point3& b = corners[(i + 1) % n];
        const double ax = static_cast<double>(a.x) - ox, ay = static_cast<double>(a.y) - oy, az = static_cast<double>(a.z) - oz;
        const double bx = static_cast<double>(b.x) - ox, by = static_cast<double>(b.y) - oy, bz = static_cast<double>(b.z) - oz;
        nx += (ay - by) * (az + bz);
        ny += (az - bz) * (ax + bx);
        nz += (ax - bx) * (ay + by);
    }
    const double mx = std::fabs(nx), my = std::fabs(ny), mz = std::fabs(nz);
    const int axis = mx >= my && mx >= mz ? 0 : (my >= mz ? 1 : 2);
    const double dominant = axis == 0 ? nx : (axis == 1 ? ny : nz);
    if (!(dominant != 0)) return PolygonFault::kZeroArea;
    // Along axis x the plane is (y, z), along y it is (z, x), along z (x, y):
    // each turns positively about its own axis. A negative dominant component
    // mirrors the plane, so that the polygon always turns positively in it.
    const double mirror = dominant > 0 ? 1.0 : -1.0;
    std::vector<P2> p(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Point3& c = corners[i];
        const double u = static_cast<double>(axis == 0 ? c.y : (axis == 1 ? c.z : c.x));
        const double v = static_cast<double>(axis == 0 ? c.z : (axis == 1 ? c.x : c.y));
        p[i] = {u, mirror * v};
    }

    // A corner repeated in place (a quad collapsed at a pole) leaves its fan
    // triangle without area, yet the fan still covers the polygon exactly:
    // such files have always been read as fans, so they stay fans.
    const auto same = [&corners](std::size_t a, std::size_t b) {
        return corners[a].x == corners[b].x && corners[a].y == corners[b].y && corners[a].z == corners[b].z;
    };
    bool fan = true;
    for (std::size_t k = 1; fan && k + 1 < n; ++k)
        fan = Orient(p[0], p[k], p[k + 1]) > 0 || same(k, k + 1) || (k == 1 && same(0, 1)) ||
              (k + 2 == n && same(k + 1, 0));
    if (fan) {
        for (int k = 1; k + 1 < static_cast<int>(n); ++k) triangles.push_back({0, k, k + 1});
        return PolygonFault::kNone;
    }
    if (n > static_cast<std::size_t>(kMaxClippedCorners)) return PolygonFault::kTooManyCorners;
    if (SelfIntersecting(p)) return PolygonFault::kSelfIntersecting;
    EarClipper clipper(p);
    if (!clipper.Run(triangles)) {
        triangles.clear();
        // A simple polygon always has an ear; one without cannot be laid flat.
        return PolygonFault::kSelfIntersecting;
    }
    return PolygonFault::kNone;
}

std::string PolygonFaultText(PolygonFault fault)
{
    switch (fault) {
    case PolygonFault::kNone: return {};
    case PolygonFault::kZeroArea: return "the polygon has zero area and cannot be triangulated";
    case PolygonFault::kSelfIntersecting: return "the polygon crosses itself and cannot be triangulated";
    case PolygonFault::kTooManyCorners:
        return "the polygon is not convex and has more than " + std::to_string(kMaxClippedCorners) +
               " corners, too many to triangulate";
    }
    return {};
}

}  // namespace dunsmere
