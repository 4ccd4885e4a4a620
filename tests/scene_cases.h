// What the ray scene tests cast: meshes that break unsound trees, rays of
// every kind that reaches edges and corners, and a check of every route
// against the brute force by the bits of each answer.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "geom/geom.h"
#include "mesh_builders.h"

namespace dunsmere {

// 0, -0, a negative, NaN and infinity.
inline std::vector<float> SpecialDistances()
{
    return {0.0f, -0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN(), INFINITY};
}

inline std::vector<RayRoute> SupportedRoutes()
{
    std::vector<RayRoute> routes;
    for (RayRoute r : {RayRoute::kPlain, RayRoute::kScalar, RayRoute::kSse2, RayRoute::kAvx2, RayRoute::kAvx512})
        if (RouteSupported(r)) routes.push_back(r);
    return routes;
}

// Triangles with shared corners, its front facing du x dv.
inline void AddSharedQuad(Mesh& mesh, DWORD a, DWORD b, DWORD c, DWORD d)
{
    const int f = mesh.getNumFaces();
    mesh.setNumFaces(f + 2, true);
    mesh.faces[static_cast<std::size_t>(f)].setVerts(a, b, c);
    mesh.faces[static_cast<std::size_t>(f) + 1].setVerts(a, c, d);
}

inline void AddFaceOf(Mesh& mesh, DWORD a, DWORD b, DWORD c)
{
    const int f = mesh.getNumFaces();
    mesh.setNumFaces(f + 1, true);
    mesh.faces[static_cast<std::size_t>(f)].setVerts(a, b, c);
}

// A tilted grid with shared edges and corners, a closed box, degenerate
// faces, slivers, duplicated and reversed faces, coplanar overlaps, slivers
// almost in an axis plane and a soup; variant 2 is scaled up and moved far
// from the origin, variant 3 scaled down.
inline Mesh NastyMesh(std::uint32_t variant)
{
    Mesh mesh;
    std::mt19937 rng(variant);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    AddGrid(mesh, 16, {-4, -4, -1}, {8, 0, 1}, {0, 8, 2});
    const int gridFaces = mesh.getNumFaces();
    // A closed box: corners 0..7 of its own.
    const int base = mesh.getNumVerts();
    mesh.setNumVerts(base + 8, true);
    for (int i = 0; i < 8; ++i)
        mesh.setVert(base + i, {(i & 1) ? 2.5f : 0.5f, (i & 2) ? 2.5f : 0.5f, (i & 4) ? 3.0f : 1.0f});
    const DWORD b = static_cast<DWORD>(base);
    AddSharedQuad(mesh, b + 0, b + 2, b + 3, b + 1);  // bottom, facing -z
    AddSharedQuad(mesh, b + 4, b + 5, b + 7, b + 6);  // top
    AddSharedQuad(mesh, b + 0, b + 1, b + 5, b + 4);
    AddSharedQuad(mesh, b + 2, b + 6, b + 7, b + 3);
    AddSharedQuad(mesh, b + 0, b + 4, b + 6, b + 2);
    AddSharedQuad(mesh, b + 1, b + 3, b + 7, b + 5);
    // Degenerate: collinear corners, coincident corners.
    AddTriangle(mesh, {-3, 3, 2}, {-2, 3, 2.5f}, {-1, 3, 3});
    AddTriangle(mesh, {1, -3, 2}, {1, -3, 2}, {2, -2, 2});
    // Slivers, some almost in an axis plane.
    for (int i = 0; i < 40; ++i) {
        const Point3 a{u(rng) * 4, u(rng) * 4, u(rng) * 2 + 1};
        const Point3 d{u(rng) * 3, u(rng) * 3, u(rng)};
        const Point3 off = i % 2 ? Point3{0, 0, 1e-6f * u(rng)} : Point3{u(rng) * 1e-5f, u(rng) * 1e-5f, 1e-5f};
        AddTriangle(mesh, a, a + d, a + d * 0.5f + off);
    }
    // Duplicates of grid faces (same corners), reversed duplicates, and
    // coplanar overlapping copies shifted within the grid's plane.
    for (int i = 0; i < 60; ++i) {
        const Face f = mesh.faces[static_cast<std::size_t>(rng() % static_cast<unsigned>(gridFaces))];
        if (i % 3 == 0) AddFaceOf(mesh, f.v[0], f.v[1], f.v[2]);
        if (i % 3 == 1) AddFaceOf(mesh, f.v[0], f.v[2], f.v[1]);
        if (i % 3 == 2) {
            const Point3 shift = Point3{8, 0, 1} * 0.013f + Point3{0, 8, 2} * 0.021f;
            AddTriangle(mesh, mesh.getVert(static_cast<int>(f.v[0])) + shift,
                        mesh.getVert(static_cast<int>(f.v[1])) + shift, mesh.getVert(static_cast<int>(f.v[2])) + shift);
        }
    }
    const Mesh soup = RandomSoup(200, 4.0f, variant + 7);
    for (int f = 0; f < soup.getNumFaces(); ++f) {
        const DWORD* v = soup.faces[static_cast<std::size_t>(f)].v;
        AddTriangle(mesh, soup.getVert(static_cast<int>(v[0])), soup.getVert(static_cast<int>(v[1])),
                    soup.getVert(static_cast<int>(v[2])));
    }
    const float scale = variant == 2 ? 1e3f : variant == 3 ? 1e-3f : 1.0f;
    const Point3 offset = variant == 2 ? Point3{3e4f, -1e4f, 5e3f} : Point3{};
    for (Point3& p : mesh.verts) p = p * scale + offset;
    return mesh;
}

// Faces of 1e-3 near the origin in a mesh 1e4 across.
inline Mesh MixedScaleMesh(std::uint32_t variant)
{
    Mesh mesh;
    AddTriangle(mesh, {-5e3f, -5e3f, -5e3f}, {5e3f, -5e3f, -5e3f}, {0, 5e3f, -5e3f});
    AddTriangle(mesh, {-5e3f, -5e3f, 5e3f}, {0, 5e3f, 5e3f}, {5e3f, -5e3f, 5e3f});
    const Mesh big = RandomSoup(100, 5e3f, variant);
    const Mesh small = RandomSoup(400, 1e-3f, variant + 1);
    for (const Mesh* part : {&big, &small})
        for (int f = 0; f < part->getNumFaces(); ++f) {
            const DWORD* v = part->faces[static_cast<std::size_t>(f)].v;
            AddTriangle(mesh, part->getVert(static_cast<int>(v[0])), part->getVert(static_cast<int>(v[1])),
                        part->getVert(static_cast<int>(v[2])));
        }
    return mesh;
}

// Small faces exactly in the three axis planes through the origin, and
// slivers there, inside a frame 1e4 across that makes the scene large.
inline Mesh FlatFacesNearTheOrigin(std::uint32_t variant)
{
    Mesh mesh;
    AddTriangle(mesh, {-5e3f, -5e3f, -5e3f}, {5e3f, -5e3f, -5e3f}, {0, 5e3f, -5e3f});
    AddTriangle(mesh, {-5e3f, -5e3f, 5e3f}, {0, 5e3f, 5e3f}, {5e3f, -5e3f, 5e3f});
    const float cell = 0.01f;
    AddGrid(mesh, 8, {-0.04f, -0.04f, 0}, {8 * cell, 0, 0}, {0, 8 * cell, 0});         // z = 0, up
    AddGrid(mesh, 8, {0, -0.04f, -0.04f}, {0, 8 * cell, 0}, {0, 0, 8 * cell});         // x = 0
    AddGrid(mesh, 8, {-0.04f, 0, -0.04f}, {0, 0, 8 * cell}, {8 * cell, 0, 0});         // y = 0
    // Tilted by a hair, so that the stored normals are inexact and the
    // boxes all but flat.
    AddGrid(mesh, 8, {-0.04f, -0.04f, 0.02f}, {8 * cell, 0, 8 * cell * 1e-4f}, {0, 8 * cell, 8 * cell * 3e-4f});
    AddGrid(mesh, 8, {0.02f, -0.04f, -0.04f}, {8 * cell * 2e-4f, 8 * cell, 0}, {8 * cell * 1e-4f, 0, 8 * cell});
    std::mt19937 rng(variant);
    std::uniform_real_distribution<float> u(-0.05f, 0.05f);
    for (int i = 0; i < 60; ++i) {
        // Long and thin, but not so thin that every ray must test it.
        const Point3 a{u(rng), u(rng), u(rng)}, d{u(rng), u(rng), u(rng)};
        const Point3 side = Normalize(CrossProd(d, {0.3f, 0.5f, 0.8f})) * (Length(d) * 3e-4f);
        AddTriangle(mesh, a, a + d, a + d * 0.5f + side);
    }
    return mesh;
}

// A uniformly random point of face f: two draws of u, folded into the triangle.
inline Point3 RandomPointOn(const Mesh& mesh, int f, std::mt19937& rng, std::uniform_real_distribution<float>& u)
{
    const Face& face = mesh.faces[static_cast<std::size_t>(f)];
    float a = u(rng), b = u(rng);
    if (a + b > 1.0f) {
        a = 1.0f - a;
        b = 1.0f - b;
    }
    const Point3 c0 = mesh.getVert(static_cast<int>(face.v[0]));
    return c0 + (mesh.getVert(static_cast<int>(face.v[1])) - c0) * a + (mesh.getVert(static_cast<int>(face.v[2])) - c0) * b;
}

inline std::string DescribeRay(const Ray& r, float maxDistance)
{
    char buf[256];
    const auto d = [](float x) { return static_cast<double>(x); };
    std::snprintf(buf, sizeof buf, "O (%a, %a, %a) D (%a, %a, %a) max %a", d(r.p.x), d(r.p.y), d(r.p.z), d(r.dir.x),
                  d(r.dir.y), d(r.dir.z), d(maxDistance));
    return buf;
}

// One mesh with its normals and a scene for every route this machine runs.
class SceneCase {
public:
    explicit SceneCase(const Mesh& m) : mesh(m)
    {
        BuildFaceNormals(mesh, normals);
        const SceneInput input{&mesh, &normals};
        for (RayRoute route : SupportedRoutes()) {
            scenes_.push_back(std::make_unique<RayScene>());
            scenes_.back()->Build({&input, 1}, route);
            EXPECT_EQ(scenes_.back()->Route(), route);
        }
        for (const Point3& p : mesh.verts) {
            lo_ = {std::fmin(lo_.x, p.x), std::fmin(lo_.y, p.y), std::fmin(lo_.z, p.z)};
            hi_ = {std::fmax(hi_.x, p.x), std::fmax(hi_.y, p.y), std::fmax(hi_.z, p.z)};
        }
        diagonal_ = mesh.verts.empty() ? 1.0f : Length(hi_ - lo_);
    }

    // Casts ray i with maximum distances[i % size] through IntersectRay and
    // every route, each starting from a not-a-number hit distance that a
    // miss must leave as it was; every other ray with a least distance, a
    // bias that looks past the nearer hits. Returns the reference's hits;
    // the first disagreement fails the test and ends the check.
    int CheckAll(const std::vector<Ray>& rays, std::vector<float> distances = {}) const
    {
        if (distances.empty())
            distances = {0.25f * diagonal_, 0.5f * diagonal_, INFINITY, 0.05f * diagonal_, 0.0f, -0.0f,
                         std::numeric_limits<float>::quiet_NaN(), -1.0f, diagonal_};
        int hits = 0;
        for (std::size_t i = 0; i < rays.size(); ++i) {
            const float maxDistance = distances[i % distances.size()];
            const float least = i % 2 ? 0.01f * static_cast<float>(i % 7) * diagonal_ : 0.0f;
            float expectT = std::numeric_limits<float>::quiet_NaN();
            const int expectHit = IntersectRay(mesh, rays[i], expectT, maxDistance, normals, least);
            hits += expectHit;
            for (const auto& scene : scenes_) {
                float t = std::numeric_limits<float>::quiet_NaN();
                const int hit = scene->Intersect(rays[i], t, maxDistance, least);
                if (hit != expectHit || std::bit_cast<std::uint32_t>(t) != std::bit_cast<std::uint32_t>(expectT)) {
                    ADD_FAILURE() << RouteName(scene->Route()) << " ray " << i << ": "
                                  << DescribeRay(rays[i], maxDistance) << " least " << least << " expected "
                                  << expectHit << " " << expectT << " got " << hit << " " << t;
                    return hits;
                }
            }
        }
        return hits;
    }

    // Rays of every kind, in turn: random; from a point on a face; aimed at
    // a corner; aimed at an edge; along an axis; grazing a face; from far
    // outside the scene; with a zero direction component; some directions
    // not of unit length.
    std::vector<Ray> MixedRays(int count, std::uint32_t stream) const
    {
        std::mt19937 rng(stream);
        std::uniform_real_distribution<float> u(0.0f, 1.0f), s(-1.0f, 1.0f);
        std::vector<Ray> rays;
        if (mesh.getNumFaces() == 0) {
            for (int i = 0; i < count; ++i) rays.push_back({{s(rng), s(rng), s(rng)}, {s(rng), s(rng), 1.0f}});
            return rays;
        }
        const auto inBox = [&] {
            const Point3 t{u(rng) * 1.4f - 0.2f, u(rng) * 1.4f - 0.2f, u(rng) * 1.4f - 0.2f};
            return Point3{lo_.x + (hi_.x - lo_.x) * t.x, lo_.y + (hi_.y - lo_.y) * t.y, lo_.z + (hi_.z - lo_.z) * t.z};
        };
        const auto corner = [&](int f, int i) {
            return mesh.getVert(static_cast<int>(mesh.faces[static_cast<std::size_t>(f)].v[i]));
        };
        const auto onFace = [&](int f) {
            float a = u(rng), b = u(rng);
            if (a + b > 1.0f) {
                a = 1.0f - a;
                b = 1.0f - b;
            }
            const Point3 c0 = corner(f, 0);
            return c0 + (corner(f, 1) - c0) * a + (corner(f, 2) - c0) * b;
        };
        const auto randomDir = [&] { return Normalize({s(rng), s(rng), s(rng)}); };
        const int faces = mesh.getNumFaces();
        for (int i = 0; i < count; ++i) {
            const int f = static_cast<int>(rng() % static_cast<unsigned>(faces));
            Ray r{inBox(), randomDir()};
            switch (i % 9) {
            case 0: break;
            case 1: r.p = onFace(f); break;
            case 2: r.dir = corner(f, static_cast<int>(rng() % 3)) - r.p; break;
            case 3: {
                const Point3 a = corner(f, static_cast<int>(rng() % 3)), b = corner(f, static_cast<int>(rng() % 3));
                r.dir = a + (b - a) * u(rng) - r.p;
                break;
            }
            case 4: {
                Point3 d{};
                const float sign = rng() % 2 ? 1.0f : -1.0f;
                (rng() % 3 == 0 ? d.x : rng() % 2 ? d.y : d.z) = sign;
                r.dir = d;
                if (rng() % 2) r.p = corner(f, 0) - d * (0.3f * diagonal_);  // straight through a corner
                break;
            }
            case 5: {
                const Point3 n = normals[f];
                const Point3 along = corner(f, 1) - corner(f, 0);
                r.dir = along + n * (Length(along) * 1e-3f * s(rng));
                r.p = onFace(f) - r.dir * u(rng);
                break;
            }
            case 6: r.p = r.p + randomDir() * (5.0f * diagonal_); r.dir = onFace(f) - r.p; break;
            case 7: r.dir = onFace(f) - r.p; (rng() % 2 ? r.dir.x : r.dir.y) = rng() % 2 ? 0.0f : -0.0f; break;
            default: r.dir = (onFace(f) - r.p) * (rng() % 2 ? 1e3f : 1e-3f); break;
            }
            rays.push_back(r);
        }
        return rays;
    }

    // Rays from far away at random points of the faces after the first
    // `skip`, grazing them at angles of 1e-3 to 1e-1 on their front side.
    std::vector<Ray> GrazingFromAfar(int count, std::uint32_t stream, int skip, float distance) const
    {
        std::mt19937 rng(stream);
        std::uniform_real_distribution<float> u(0.0f, 1.0f), s(-1.0f, 1.0f);
        std::vector<Ray> rays;
        const int faces = mesh.getNumFaces() - skip;
        for (int i = 0; i < count; ++i) {
            const int f = skip + static_cast<int>(rng() % static_cast<unsigned>(faces));
            const Face& face = mesh.faces[static_cast<std::size_t>(f)];
            const Point3 target = RandomPointOn(mesh, f, rng, u);
            const Point3 c0 = mesh.getVert(static_cast<int>(face.v[0]));
            const Point3 e1 = mesh.getVert(static_cast<int>(face.v[1])) - c0;
            const Point3 e2 = mesh.getVert(static_cast<int>(face.v[2])) - c0;
            const Point3 n = normals[f];
            const Point3 inPlane = Normalize(e1 * s(rng) + e2 * s(rng));
            const float angle = std::pow(10.0f, -3.0f + 2.0f * u(rng));
            const Point3 back = inPlane + n * angle;  // from the front side
            const Point3 origin = target + Normalize(back) * distance;
            rays.push_back({origin, Normalize(target - origin)});
        }
        return rays;
    }

    // Rays from `from` (spread a little) at random points of random faces.
    std::vector<Ray> RaysAtFaces(int count, std::uint32_t stream, Point3 from) const
    {
        std::mt19937 rng(stream);
        std::uniform_real_distribution<float> u(0.0f, 1.0f), s(-1.0f, 1.0f);
        std::vector<Ray> rays;
        const int faces = mesh.getNumFaces();
        for (int i = 0; i < count; ++i) {
            const int f = faces - 1 - static_cast<int>(rng() % static_cast<unsigned>(std::min(faces, 400)));
            const Point3 target = RandomPointOn(mesh, f, rng, u);
            const Point3 origin = from + Point3{s(rng), s(rng), s(rng)} * 10.0f;
            rays.push_back({origin, target - origin});
        }
        return rays;
    }

    const Mesh& mesh;
    Tab<Point3> normals;

private:
    std::vector<std::unique_ptr<RayScene>> scenes_;
    Point3 lo_{INFINITY, INFINITY, INFINITY}, hi_{-INFINITY, -INFINITY, -INFINITY};
    float diagonal_ = 1.0f;
};

}  // namespace dunsmere
