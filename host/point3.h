// Host vector types: Point2 and Point3, single precision.
//
// Every operation is binary32 arithmetic in the written operand order; the
// build forbids contraction into fused multiply-add, so results are the same
// on every compiler and code path.
#pragma once

#include <cmath>
#include <cstdint>

using DWORD = std::uint32_t;

struct Point2 {
    float x = 0.0f, y = 0.0f;

    constexpr Point2() = default;
    constexpr Point2(float x_, float y_) : x(x_), y(y_) {}

    constexpr Point2 operator-(const Point2& b) const { return {x - b.x, y - b.y}; }
    constexpr Point2 operator+(const Point2& b) const { return {x + b.x, y + b.y}; }
    constexpr bool operator==(const Point2&) const = default;
};

struct Point3 {
    float x = 0.0f, y = 0.0f, z = 0.0f;

    constexpr Point3() = default;
    constexpr Point3(float x_, float y_, float z_) : x(x_), y(y_), z(z_) {}

    static const Point3 Origin;
    static const Point3 XAxis;
    static const Point3 YAxis;
    static const Point3 ZAxis;

    // Component i: 0 = x, 1 = y, 2 = z.
    constexpr float operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }

    constexpr Point3 operator+(const Point3& b) const { return {x + b.x, y + b.y, z + b.z}; }
    constexpr Point3 operator-(const Point3& b) const { return {x - b.x, y - b.y, z - b.z}; }
    constexpr Point3 operator-() const { return {-x, -y, -z}; }
    constexpr Point3 operator*(float s) const { return {x * s, y * s, z * s}; }
    constexpr Point3 operator/(float s) const { return {x / s, y / s, z / s}; }
    constexpr Point3& operator+=(const Point3& b) { x += b.x; y += b.y; z += b.z; return *this; }
    constexpr Point3& operator-=(const Point3& b) { x -= b.x; y -= b.y; z -= b.z; return *this; }
    // Cross product, as the host writes it: a ^ b == CrossProd(a, b).
    constexpr Point3 operator^(const Point3& b) const
    {
        return {y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x};
    }
    constexpr bool operator==(const Point3&) const = default;

    float Length() const { return std::sqrt((x * x + y * y) + z * z); }
};

inline constexpr Point3 Point3::Origin{0.0f, 0.0f, 0.0f};
inline constexpr Point3 Point3::XAxis{1.0f, 0.0f, 0.0f};
inline constexpr Point3 Point3::YAxis{0.0f, 1.0f, 0.0f};
inline constexpr Point3 Point3::ZAxis{0.0f, 0.0f, 1.0f};

constexpr Point3 operator*(float s, const Point3& p) { return {s * p.x, s * p.y, s * p.z}; }

// a x b = (a.y*b.z - a.z*b.y, a.z*b.x - a.x*b.z, a.x*b.y - a.y*b.x).
// The operand order decides which side of a face is its front.
constexpr Point3 CrossProd(const Point3& a, const Point3& b) { return a ^ b; }

constexpr float DotProd(const Point3& a, const Point3& b) { return (a.x * b.x + a.y * b.y) + a.z * b.z; }

inline float Length(const Point3& p) { return p.Length(); }

// p divided by its length. The zero vector stays the zero vector, so a
// degenerate face's normal never carries a not-a-number into later sums.
inline Point3 Normalize(const Point3& p)
{
    const float len = p.Length();
    if (len == 0.0f) return Point3{};
    return {p.x / len, p.y / len, p.z / len};
}

// The axis (0 = x, 1 = y, 2 = z) of the largest absolute component; the first
// such axis on ties.
inline int MaxComponent(const Point3& p)
{
    const float ax = std::fabs(p.x), ay = std::fabs(p.y), az = std::fabs(p.z);
    if (ax >= ay && ax >= az) return 0;
    return ay >= az ? 1 : 2;
}

// Barycentric weights (b0, b1, b2) of p with respect to the 2-D triangle
// p0, p1, p2: p = b0*p0 + b1*p1 + b2*p2 with b0 + b1 + b2 = 1. At p0 the
// result is exactly (1, 0, 0). A triangle of zero area gives non-finite
// weights; callers that can meet one handle it.
inline Point3 BaryCoords(const Point2& p0, const Point2& p1, const Point2& p2, const Point2& p)
{
    const float d = (p1.x - p0.x) * (p2.y - p0.y) - (p2.x - p0.x) * (p1.y - p0.y);
    const float b0 = ((p1.x - p.x) * (p2.y - p.y) - (p2.x - p.x) * (p1.y - p.y)) / d;
    const float b1 = ((p2.x - p.x) * (p0.y - p.y) - (p0.x - p.x) * (p2.y - p.y)) / d;
    return {b0, b1, (1.0f - b0) - b1};
}
