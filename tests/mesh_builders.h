// Small meshes for tests, benchmarks and the probe.
#pragma once

#include <cstdint>
#include <random>

#include "host/mesh.h"

namespace dunsmere {

// Appends a triangle with its own three vertices; returns its face index.
inline int AddTriangle(Mesh& mesh, const Point3& a, const Point3& b, const Point3& c, DWORD smGroup = 1)
{
    const int base = mesh.getNumVerts();
    mesh.setNumVerts(base + 3, true);
    mesh.setVert(base, a);
    mesh.setVert(base + 1, b);
    mesh.setVert(base + 2, c);
    const int f = mesh.getNumFaces();
    mesh.setNumFaces(f + 1, true);
    Face& face = mesh.faces[static_cast<size_t>(f)];
    face.setVerts(static_cast<DWORD>(base), static_cast<DWORD>(base + 1), static_cast<DWORD>(base + 2));
    face.smGroup = smGroup;
    return f;
}

// A square of side `size` in the plane z = `z`, centred on the origin, made of
// two triangles. Facing up (normal +Z) unless `down`.
inline void AddSquare(Mesh& mesh, float size, float z, bool down = false)
{
    const float h = size * 0.5f;
    const Point3 a{-h, -h, z}, b{h, -h, z}, c{h, h, z}, d{-h, h, z};
    if (!down) {
        AddTriangle(mesh, a, b, c);
        AddTriangle(mesh, a, c, d);
    } else {
        AddTriangle(mesh, a, c, b);
        AddTriangle(mesh, a, d, c);
    }
}

// `count` random triangles inside the cube [-extent, extent]^3 around
// `centre`, with random orientation. `variant` picks the sequence.
inline Mesh RandomSoup(int count, float extent, std::uint32_t variant, Point3 centre = {})
{
    std::mt19937 rng(variant);
    std::uniform_real_distribution<float> u(-extent, extent);
    Mesh mesh;
    for (int i = 0; i < count; ++i) {
        const Point3 a{centre.x + u(rng), centre.y + u(rng), centre.z + u(rng)};
        const Point3 b{centre.x + u(rng), centre.y + u(rng), centre.z + u(rng)};
        const Point3 c{centre.x + u(rng), centre.y + u(rng), centre.z + u(rng)};
        AddTriangle(mesh, a, b, c);
    }
    return mesh;
}

// An n x n grid of quads (two triangles each) with shared vertices, spanning
// origin + [0,1]*du + [0,1]*dv; its front faces the side du x dv points to.
inline void AddGrid(Mesh& mesh, int n, const Point3& origin, const Point3& du, const Point3& dv, DWORD smGroup = 1)
{
    const int base = mesh.getNumVerts();
    const int side = n + 1;
    mesh.setNumVerts(base + side * side, true);
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) {
            const float s = static_cast<float>(i) / static_cast<float>(n);
            const float t = static_cast<float>(j) / static_cast<float>(n);
            mesh.setVert(base + j * side + i, origin + du * s + dv * t);
        }
    int f = mesh.getNumFaces();
    mesh.setNumFaces(f + 2 * n * n, true);
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const auto v = [&](int ii, int jj) { return static_cast<DWORD>(base + jj * side + ii); };
            mesh.faces[static_cast<size_t>(f)].setVerts(v(i, j), v(i + 1, j), v(i + 1, j + 1));
            mesh.faces[static_cast<size_t>(f++)].smGroup = smGroup;
            mesh.faces[static_cast<size_t>(f)].setVerts(v(i, j), v(i + 1, j + 1), v(i, j + 1));
            mesh.faces[static_cast<size_t>(f++)].smGroup = smGroup;
        }
}

// The unit square in z = 0 as two triangles, (0, 1, 2) and (0, 2, 3).
inline Mesh UnitSquare()
{
    Mesh m;
    m.setNumVerts(4);
    m.verts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    m.setNumFaces(2);
    m.faces[0].setVerts(0, 1, 2);
    m.faces[1].setVerts(0, 2, 3);
    return m;
}

// A floor facing up with a wall facing it along x = 0: a crease whose
// samples near the wall are enclosed and far ones open.
inline Mesh CreaseMesh(int n = 8, float size = 10.0f)
{
    Mesh mesh;
    AddGrid(mesh, n, {0, 0, 0}, {size, 0, 0}, {0, size, 0}, 1);
    AddGrid(mesh, n, {0, 0, 0}, {0, size, 0}, {0, 0, size}, 2);
    return mesh;
}

}  // namespace dunsmere
