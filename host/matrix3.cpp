#include "host/matrix3.h"

#include <cmath>

void Matrix3::IdentityMatrix()
{
    m_[0] = Point3::XAxis;
    m_[1] = Point3::YAxis;
    m_[2] = Point3::ZAxis;
    m_[3] = Point3::Origin;
}

// Rodrigues' rotation written for row vectors: p * M turns p by `angle`
// about `axis`, counter-clockwise when the axis points at the viewer.
void Matrix3::SetAngleAxis(const Point3& axis, float angle)
{
    const float c = std::cos(angle);
    const float s = std::sin(angle);
    const float t = 1.0f - c;
    const float x = axis.x, y = axis.y, z = axis.z;
    m_[0] = {t * x * x + c, t * x * y + s * z, t * x * z - s * y};
    m_[1] = {t * x * y - s * z, t * y * y + c, t * y * z + s * x};
    m_[2] = {t * x * z + s * y, t * y * z - s * x, t * z * z + c};
    m_[3] = Point3::Origin;
}

Matrix3 Inverse(const Matrix3& m)
{
    const Point3 a = m.GetRow(0), b = m.GetRow(1), c = m.GetRow(2), t = m.GetTrans();
    // Rows of the adjugate of the 3x3 part, by cofactors.
    const Point3 bc = CrossProd(b, c), ca = CrossProd(c, a), ab = CrossProd(a, b);
    const float det = DotProd(a, bc);
    if (det == 0.0f || !std::isfinite(det)) return Matrix3{};
    // The inverse of the 3x3 part has the cross products as its columns.
    const Point3 r0{bc.x / det, ca.x / det, ab.x / det};
    const Point3 r1{bc.y / det, ca.y / det, ab.y / det};
    const Point3 r2{bc.z / det, ca.z / det, ab.z / det};
    Matrix3 inv(r0, r1, r2, Point3::Origin);
    const Point3 it = t * inv;
    inv.SetTrans(-it);
    return inv;
}
