// Small meshes for tests, benchmarks and the probe.
#pragma once

#include <cstdint>
#include <random>

#include "host/mesh.h"

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
