// Host affine matrix: four rows of Point3, points are row vectors and
// transform as p * M = p.x*row0 + p.y*row1 + p.z*row2 + row3.
#pragma once

#include "host/point3.h"

class Matrix3 {
public:
    Matrix3() { IdentityMatrix(); }
    explicit Matrix3(const Point3& r0, const Point3& r1, const Point3& r2, const Point3& r3)
        : m_{r0, r1, r2, r3} {}

    void IdentityMatrix();

    // The rotation part becomes the right-handed rotation by `angle` radians
    // about `axis` (a unit vector); the translation is cleared. With
    // A = Normalize(N ^ Z) and angle = acos(N . Z) the matrix maps N onto Z.
    void SetAngleAxis(const Point3& axis, float angle);

    const Point3& GetRow(int i) const { return m_[i & 3]; }
    void SetRow(int i, const Point3& r) { m_[i & 3] = r; }
    const Point3& GetTrans() const { return m_[3]; }
    void SetTrans(const Point3& t) { m_[3] = t; }

    Point3 TransformPoint(const Point3& p) const
    {
        return {((p.x * m_[0].x + p.y * m_[1].x) + p.z * m_[2].x) + m_[3].x,
                ((p.x * m_[0].y + p.y * m_[1].y) + p.z * m_[2].y) + m_[3].y,
                ((p.x * m_[0].z + p.y * m_[1].z) + p.z * m_[2].z) + m_[3].z};
    }

    bool operator==(const Matrix3&) const = default;

private:
    Point3 m_[4];
};

inline Point3 operator*(const Point3& p, const Matrix3& m) { return m.TransformPoint(p); }

// The inverse of an affine matrix. A singular matrix gives the identity.
Matrix3 Inverse(const Matrix3& m);
