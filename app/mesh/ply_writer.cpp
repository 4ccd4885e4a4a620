// PLY written for the vertex colour output: binary little-endian, float
// positions, 8-bit colours round(L * 255) clamped to 0..255, and the faces as
// lists of three int indices.
//
// Texture coordinates are left out: PLY keeps them per vertex, so every seam
// in the map would split vertices further than the colours do, and readers
// disagree on their property names. Smoothing groups and material IDs have no
// place in PLY either.

#include <bit>
#include <cmath>
#include <cstdint>

#include "app/mesh/mesh_formats.h"
#include "app/mesh/pending_file.h"

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

}  // namespace

void WritePlyFile(const Mesh& changed, const std::string& path)
{
    const ColoredVertices out = SplitVerticesByColor(changed, path);
    if (out.vertex.size() > INT32_MAX) throw MeshFileError(path, "too many vertices for PLY");

    std::string data =
        "ply\n"
        "format binary_little_endian 1.0\n"
        "comment written by dunsmere\n"
        "element vertex " + std::to_string(out.vertex.size()) + "\n"
        "property float x\n"
        "property float y\n"
        "property float z\n";
    if (out.colored)
        data +=
            "property uchar red\n"
            "property uchar green\n"
            "property uchar blue\n";
    data += "element face " + std::to_string(out.faces.size()) + "\n"
            "property list uchar int vertex_indices\n"
            "end_header\n";

    data.reserve(data.size() + out.vertex.size() * 15 + out.faces.size() * 13);
    for (size_t o = 0; o < out.vertex.size(); ++o) {
        const Point3& p = changed.verts[out.vertex[o]];
        PutFloat(data, p.x);
        PutFloat(data, p.y);
        PutFloat(data, p.z);
        if (out.colored) {
            data.push_back(static_cast<char>(Level8(out.color[o].x)));
            data.push_back(static_cast<char>(Level8(out.color[o].y)));
            data.push_back(static_cast<char>(Level8(out.color[o].z)));
        }
    }
    for (const auto& face : out.faces) {
        data.push_back(3);
        for (DWORD v : face) PutU32(data, v);
    }

    PendingFile file(path);
    file.Write(data);
    file.Commit();
}
