#include "eval/sample.h"

#include <cmath>
#include <cstdint>

#include "geom/geom.h"
#include "host/matrix3.h"

namespace dunsmere {

namespace {

constexpr float kRadiansPerDegree = 0.017453292f;
constexpr float kDegreesPerRadian = 57.29578f;
// 45 / 32767: maps a draw of 0..32767 onto -45..+45 degrees.
constexpr float kJitterDegreesPerStep = 0.0013733329f;

// The matrix whose inverse turns the local frame (+Z up) onto N.
Matrix3 RotationOntoZ(const Point3& N)
{
    const Point3 Z = Point3::ZAxis;
    Matrix3 R;
    R.IdentityMatrix();
    if (N == -Z) {
        // N x Z vanishes here and no axis is defined: a half turn about X
        // takes -Z onto +Z.
        R.SetAngleAxis(Point3::XAxis, std::acos(-1.0f));
        return R;
    }
    const Point3 A = Normalize(CrossProd(N, Z));
    float c = DotProd(N, Z) / (std::sqrt(DotProd(N, N)) * std::sqrt(DotProd(Z, Z)));
    // Rounding can push the quotient a hair past 1 and acos would give NaN.
    if (c > 1.0f) c = 1.0f;
    if (c < -1.0f) c = -1.0f;
    float theta = std::acos(c);
    // The angle goes to degrees and back on purpose: the round trip changes
    // the last bits of theta, every ray direction follows from them, and so
    // does every stored map. Folding it away would change every output.
    theta = theta * kDegreesPerRadian * kRadiansPerDegree;
    R.SetAngleAxis(A, theta);
    return R;
}

bool ServingDistance(float dist) { return dist > 0.0f && std::isfinite(dist); }

}  // namespace

std::int64_t RayCount(const UtilitySettings& settings)
{
    return std::int64_t{settings.horizontalSpread} * settings.verticalSpread + 1;
}

std::int64_t RayScratchCount(const UtilitySettings& settings)
{
    const std::int64_t count = RayCount(settings);
    if (count > INT32_MAX || count < INT32_MIN) return 0;
    return count < 1 ? 1 : count;
}

float EvaluateSample(const UtilitySettings& settings, const SampleTables& tables, const Mesh& mesh, int face,
                     const Point3& weights, Ray* rayScratch, CrtRand& rng)
{
    // A distance that gives 0 takes no draw.
    if (!ServingDistance(settings.dist)) return 0.0f;
    const int draw = settings.algorithm != kAlgorithmVertexColors ? rng.Next() : 0;
    return EvaluateSampleWithDraw(settings, tables, mesh, face, weights, rayScratch, draw);
}

float EvaluateSampleWithDraw(const UtilitySettings& settings, const SampleTables& tables, const Mesh& mesh, int face,
                             const Point3& weights, Ray* rayScratch, int azimuthDraw)
{
    const float dist = settings.dist;
    if (!ServingDistance(dist)) return 0.0f;
    const int H = settings.horizontalSpread;
    const int V = settings.verticalSpread;

    const Face& f = mesh.faces[static_cast<size_t>(face)];
    const Point3 V0 = mesh.verts[f.v[0]], V1 = mesh.verts[f.v[1]], V2 = mesh.verts[f.v[2]];
    const Point3 P{(weights.x * V0.x + weights.y * V1.x) + weights.z * V2.x,
                   (weights.x * V0.y + weights.y * V1.y) + weights.z * V2.y,
                   (weights.x * V0.z + weights.y * V1.z) + weights.z * V2.z};

    // A face without a smoothing group is flat: its own normal, not whichever
    // group-less face happened to come last at each corner.
    const Point3 N = f.smGroup == 0
                         ? tables.faceNormals[face]
                         : Normalize(tables.vertexNormals.InterpolatedNormal(f, weights.x, weights.y, weights.z));

    rayScratch[0] = Ray{P, N};

    const Matrix3 toNormal = Inverse(RotationOntoZ(N));

    float phi0 = 0.0f;
    if (settings.algorithm != kAlgorithmVertexColors)
        phi0 = static_cast<float>(2 * azimuthDraw - 32767) * kJitterDegreesPerStep * kRadiansPerDegree;

    for (int w = 0; w < V; ++w) {
        const float e = 90.0f / static_cast<float>(V + 1) * static_cast<float>(w + 1) * kRadiansPerDegree;
        const float cosE = std::cos(e), sinE = std::sin(e);
        for (int i = 0; i < H; ++i) {
            // The specified ring spreads its H rays over H + 1 slots and
            // leaves one empty; the even ring fills the circle.
            const float a = (settings.evenRing ? 360.0f / static_cast<float>(H) * static_cast<float>(i)
                                               : 360.0f / static_cast<float>(H + 1) * static_cast<float>(i + 1)) *
                                kRadiansPerDegree +
                            phi0;
            const Point3 local{std::cos(a) * cosE, std::sin(a) * cosE, sinE};
            rayScratch[H * w + i + 1] = Ray{P, local * toNormal};
        }
    }

    const int count = H * V + 1;
    // Hits nearer than the bias are the sample's own surface seen through
    // smooth normals on coarse faces: each ray looks on past them.
    const float least = settings.rayBias * dist;
    float sum = 0.0f;
    for (int k = 0; k < count; ++k) {
        float t = 0.0f;
        int hit = tables.scene ? tables.scene->Intersect(rayScratch[k], t, dist, least)
                               : IntersectRay(mesh, rayScratch[k], t, dist, tables.faceNormals, least);
        float beside = 0.0f;
        if (tables.besideScene && tables.besideScene->Intersect(rayScratch[k], beside, dist, least) &&
            (!hit || beside < t)) {
            t = beside;
            hit = 1;
        }
        if (hit) {
            if (t > dist) t = dist;
            sum += dist - t;
        }
    }

    const float v = sum / (static_cast<float>(count) * dist) * 2.0f;
    // >= here and > in the map's cap (CapTexelValue) on purpose: a sample
    // reaching 1 is reported saturated, 0.99, while a texel that comes to
    // exactly 1 after the noise stays 1.
    return v >= 1.0f ? 0.99f : v;
}

}  // namespace dunsmere
