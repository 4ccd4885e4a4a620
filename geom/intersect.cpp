#include "geom/intersect.h"

#include <algorithm>
#include <cmath>

#include "geom/detail/face_test.h"
#include "geom/detail/nearest_face.h"
#include "geom/parallel.h"
#include "host/runtime.h"

namespace dunsmere {

void BuildFaceNormals(const Mesh& mesh, Tab<Point3>& faceNormals, const BuildHelpers& helpers)
{
    constexpr std::size_t kChunk = 8192;  // faces a thread takes at a time
    const int faceCount = mesh.getNumFaces();
    TBSetCount(faceNormals, faceCount);
    const Point3* verts = mesh.verts.data();
    Point3* normals = faceNormals.Data();
    const auto n = static_cast<std::size_t>(faceCount);
    ParallelFor(n > kChunk ? helpers : BuildHelpers{}, (n + kChunk - 1) / kChunk, [&](std::size_t c) {
        for (std::size_t i = c * kChunk; i < std::min(n, (c + 1) * kChunk); ++i) {
            const Face& face = mesh.faces[i];
            const Point3 c0 = verts[face.v[0]], c1 = verts[face.v[1]], c2 = verts[face.v[2]];
            normals[i] = Normalize(CrossProd(c1 - c0, c2 - c1));
        }
    });
}

Point3 FaceBaryCoords(const Mesh& mesh, int f, Point3 point)
{
    const Face& face = mesh.faces[static_cast<size_t>(f)];
    const Point3 c0 = mesh.verts[face.v[0]];
    const Point3 E1 = mesh.verts[face.v[1]] - c0;
    const Point3 E2 = mesh.verts[face.v[2]] - c0;
    const Point3 d = point - c0;
    const Point3 N = CrossProd(E1, E2);
    const int k = MaxComponent(N);
    const float nk = N[k];
    if (nk == 0.0f || std::isnan(nk)) return {-1.0f, 1.0f, 1.0f};

    float w1, w2;
    switch (k) {
    case 0:
        w1 = (d.y * E2.z - E2.y * d.z) / N.x;
        w2 = (E1.y * d.z - E1.z * d.y) / N.x;
        break;
    case 1:
        w1 = (E2.x * d.z - d.x * E2.z) / N.y;
        w2 = (d.x * E1.z - E1.x * d.z) / N.y;
        break;
    default:
        w1 = (d.x * E2.y - E2.x * d.y) / N.z;
        w2 = (E1.x * d.y - d.x * E1.y) / N.z;
        break;
    }
    return {(1.0f - w1) - w2, w1, w2};
}

namespace {

template <Facing F>
int Nearest(const Mesh& mesh, const Ray& ray, float& hitDistance, int& face, float maxDistance,
            const Tab<Point3>& faceNormals, float least)
{
    const int faceCount = mesh.getNumFaces();
    const int normalCount = faceNormals.Count();
    if (normalCount != faceCount) assert1(kIntersectTableLine, kIntersectSource);

    bool found = false;
    for (int f = 0; f < faceCount; ++f) {
        if (f >= normalCount) {
            // Every later candidate is out of the table too: report once, stop.
            assert1(kIntersectCandidateLine, kIntersectSource);
            break;
        }
        // Among equal distances the later face wins (t > hitDistance is
        // what rejects), so even the sign of a zero is the last face's.
        float t;
        const float bound = found ? hitDistance : INFINITY;
        if (FaceTest<F>(MakeFaceRecord(mesh, f, faceNormals[f]), ray.p, ray.dir, maxDistance, bound, t, least)) {
            found = true;
            hitDistance = t;
            face = f;
        }
    }
    return found ? 1 : 0;
}

}  // namespace

int IntersectRay(const Mesh& mesh, const Ray& ray, float& hitDistance, float maxDistance,
                 const Tab<Point3>& faceNormals, float minDistance)
{
    int face = -1;
    return Nearest<Facing::kFront>(mesh, ray, hitDistance, face, maxDistance, faceNormals, minDistance);
}

int NearestFace(const Mesh& mesh, const Ray& ray, Facing facing, float& hitDistance, int& face, float maxDistance,
                const Tab<Point3>& faceNormals, float minDistance)
{
    return facing == Facing::kFront
               ? Nearest<Facing::kFront>(mesh, ray, hitDistance, face, maxDistance, faceNormals, minDistance)
               : Nearest<Facing::kBack>(mesh, ray, hitDistance, face, maxDistance, faceNormals, minDistance);
}

}  // namespace dunsmere
