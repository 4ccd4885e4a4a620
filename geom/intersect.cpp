#include "geom/intersect.h"

#include <cmath>

#include "host/runtime.h"

void BuildFaceNormals(const Mesh& mesh, Tab<Point3>& faceNormals)
{
    const int faceCount = mesh.getNumFaces();
    TBSetCount(faceNormals, faceCount);
    const Point3* verts = mesh.verts.data();
    for (int i = 0; i < faceCount; ++i) {
        const Face& face = mesh.faces[static_cast<size_t>(i)];
        const Point3 c0 = verts[face.v[0]], c1 = verts[face.v[1]], c2 = verts[face.v[2]];
        faceNormals[i] = Normalize(CrossProd(c1 - c0, c2 - c1));
    }
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

int IntersectRay(const Mesh& mesh, const Ray& ray, float& hitDistance, float maxDistance,
                 const Tab<Point3>& faceNormals)
{
    const int faceCount = mesh.getNumFaces();
    const int normalCount = faceNormals.Count();
    if (normalCount != faceCount) assert1(kIntersectTableLine, kIntersectSource);

    const Point3 O = ray.p;
    const Point3 D = ray.dir;
    bool found = false;
    for (int f = 0; f < faceCount; ++f) {
        if (f >= normalCount) {
            // Every later candidate is out of the table too: report once, stop.
            assert1(kIntersectCandidateLine, kIntersectSource);
            break;
        }
        const Point3 N = faceNormals[f];

        // Facing test first: faces seen edge-on or from behind never count,
        // which also keeps a ray from hitting the face it leaves.
        const float den = (N.z * D.z + N.y * D.y) + N.x * D.x;
        if (den > -0.0001f) continue;

        const Point3 c0 = mesh.verts[mesh.faces[static_cast<size_t>(f)].v[0]];
        const float t = (((N.z * c0.z + N.y * c0.y) + N.x * c0.x) - ((N.x * O.x + N.z * O.z) + N.y * O.y)) / den;
        // Written so that a not-a-number t is rejected too.
        if (!(t >= 0.0f)) continue;
        if (t > maxDistance) continue;
        if (found && t > hitDistance) continue;

        const Point3 P{t * D.x + O.x, t * D.y + O.y, t * D.z + O.z};
        const Point3 w = FaceBaryCoords(mesh, f, P);
        if (!(w.x >= 0.0f) || !(w.y >= 0.0f) || !(w.z >= 0.0f)) continue;

        found = true;
        hitDistance = t;
    }
    return found ? 1 : 0;
}
