// PLY written for the vertex colour output: binary little-endian, float
// positions, 8-bit colours round(L * 255) clamped to 0..255, the texture
// coordinates of map channel 1 as float u and v (w is left out), and the
// faces as lists of three int indices.
//
// PLY keeps one set of attributes per vertex, so a vertex is written once per
// distinct (colour, u, v) over its corners: a seam in the map splits vertices
// as a change of colour does. A vertex no face uses has u = v = 0.
// Smoothing groups and material IDs have no place in PLY.

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

#include "app/mesh/mesh_formats.h"
#include "app/mesh/pending_file.h"

namespace dunsmere {

namespace {

void PutU32(std::string& out, std::uint32_t v)
{
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((v >> shift) & 0xFFu));
}

void PutFloat(std::string& out, float v) { PutU32(out, std::bit_cast<std::uint32_t>(v)); }

// A not-a-number level is taken as black, like any level below zero.
unsigned char Level8(float level)
{
    const float scaled = std::round(level * 255.0f);
    if (!(scaled > 0.0f)) return 0;
    return scaled >= 255.0f ? 255 : static_cast<unsigned char>(scaled);
}

// The colour split's vertices split again by channel 1's u, v, bit for bit:
// each output vertex's distinct pairs in the order its corners first use
// them, the copies side by side.
struct MappedVertices {
    std::vector<DWORD> from;  // written vertex -> colour-split vertex
    std::vector<UVVert> uv;   // written vertex -> its u, v
    std::vector<std::array<DWORD, 3>> faces;
};

MappedVertices SplitByMap(const Mesh& mesh, const ColoredVertices& out, const std::string& path)
{
    const TVFace* tf = mesh.mapFaces(1);
    const UVVert* tv = mesh.mapVerts(1);
    const size_t ntv = static_cast<size_t>(mesh.getNumMapVerts(1));
    auto same = [](const UVVert& a, const UVVert& b) {
        return std::bit_cast<std::uint32_t>(a.x) == std::bit_cast<std::uint32_t>(b.x) &&
               std::bit_cast<std::uint32_t>(a.y) == std::bit_cast<std::uint32_t>(b.y);
    };
    std::vector<std::vector<UVVert>> seen(out.vertex.size());
    for (size_t f = 0; f < out.faces.size(); ++f)
        for (size_t k = 0; k < 3; ++k) {
            const DWORD t = tf[f].t[k];
            if (t >= ntv)
                throw MeshFileError(path, "channel 1 map face " + std::to_string(f) + " uses map vertex " +
                                    std::to_string(t) + " of " + std::to_string(ntv));
            std::vector<UVVert>& list = seen[out.faces[f][k]];
            if (std::none_of(list.begin(), list.end(), [&](const UVVert& s) { return same(s, tv[t]); }))
                list.push_back(tv[t]);
        }
    MappedVertices mapped;
    std::vector<DWORD> first(out.vertex.size());
    for (size_t o = 0; o < out.vertex.size(); ++o) {
        first[o] = static_cast<DWORD>(mapped.from.size());
        if (seen[o].empty()) seen[o].push_back(UVVert{});
        for (const UVVert& uv : seen[o]) {
            mapped.from.push_back(static_cast<DWORD>(o));
            mapped.uv.push_back(uv);
        }
    }
    mapped.faces.resize(out.faces.size());
    for (size_t f = 0; f < out.faces.size(); ++f)
        for (size_t k = 0; k < 3; ++k) {
            const std::vector<UVVert>& list = seen[out.faces[f][k]];
            const UVVert& uv = tv[tf[f].t[k]];
            const auto at = std::find_if(list.begin(), list.end(), [&](const UVVert& s) { return same(s, uv); });
            mapped.faces[f][k] = first[out.faces[f][k]] + static_cast<DWORD>(at - list.begin());
        }
    return mapped;
}

}  // namespace

void WritePlyFile(const Mesh& changed, const std::string& path)
{
    const ColoredVertices out = SplitVerticesByColor(changed, path);
    const bool mapped = changed.getNumMapVerts(1) > 0;
    MappedVertices split;
    if (mapped) {
        split = SplitByMap(changed, out, path);
    } else {
        split.from.resize(out.vertex.size());
        for (size_t o = 0; o < out.vertex.size(); ++o) split.from[o] = static_cast<DWORD>(o);
        split.faces = out.faces;
    }
    if (split.from.size() > INT32_MAX) throw MeshFileError(path, "too many vertices for PLY");

    std::string data =
        "ply\n"
        "format binary_little_endian 1.0\n"
        "comment written by dunsmere\n"
        "element vertex " + std::to_string(split.from.size()) + "\n"
        "property float x\n"
        "property float y\n"
        "property float z\n";
    if (out.colored)
        data +=
            "property uchar red\n"
            "property uchar green\n"
            "property uchar blue\n";
    if (mapped)
        data +=
            "property float u\n"
            "property float v\n";
    data += "element face " + std::to_string(split.faces.size()) + "\n"
            "property list uchar int vertex_indices\n"
            "end_header\n";

    data.reserve(data.size() + split.from.size() * 23 + split.faces.size() * 13);
    for (size_t w = 0; w < split.from.size(); ++w) {
        const size_t o = split.from[w];
        const Point3& p = changed.verts[out.vertex[o]];
        PutFloat(data, p.x);
        PutFloat(data, p.y);
        PutFloat(data, p.z);
        if (out.colored) {
            data.push_back(static_cast<char>(Level8(out.color[o].x)));
            data.push_back(static_cast<char>(Level8(out.color[o].y)));
            data.push_back(static_cast<char>(Level8(out.color[o].z)));
        }
        if (mapped) {
            PutFloat(data, split.uv[w].x);
            PutFloat(data, split.uv[w].y);
        }
    }
    for (const auto& face : split.faces) {
        data.push_back(3);
        for (DWORD v : face) PutU32(data, v);
    }

    PendingFile file(path);
    file.Write(data);
    file.Commit();
}

}  // namespace dunsmere
