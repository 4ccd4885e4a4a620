// Formats read through assimp: the scene flattened into one welded mesh with
// its texture coordinates and colours kept per face corner.

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "mesh_test_files.h"

using namespace dunsmere;

namespace {

std::string Base64(const void* data, size_t size)
{
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const auto* p = static_cast<const unsigned char*>(data);
    std::string out;
    for (size_t i = 0; i < size; i += 3) {
        const unsigned n = (p[i] << 16) | (i + 1 < size ? p[i + 1] << 8 : 0) | (i + 2 < size ? p[i + 2] : 0);
        out += digits[(n >> 18) & 63];
        out += digits[(n >> 12) & 63];
        out += i + 1 < size ? digits[(n >> 6) & 63] : '=';
        out += i + 2 < size ? digits[n & 63] : '=';
    }
    return out;
}

// A binary STL file: each facet a normal, three corners and a spare word.
std::string BinaryStl(const std::vector<std::array<Point3, 3>>& facets)
{
    std::string data(80, ' ');
    auto put = [&](const void* p, size_t n) { data.append(static_cast<const char*>(p), n); };
    const std::uint32_t count = static_cast<std::uint32_t>(facets.size());
    put(&count, 4);
    for (const auto& facet : facets) {
        const float normal[3] = {0, 0, 1};
        put(normal, sizeof normal);
        for (const Point3& p : facet) put(&p, sizeof p);
        const std::uint16_t spare = 0;
        put(&spare, 2);
    }
    return data;
}

TEST(MeshAssimpRead, StlCornersAreWeldedByPosition)
{
    ScratchDir dir;
    WriteText(dir / "quad.stl", BinaryStl({{{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}}, {{{-0.0f, 0, 0}, {1, 1, 0}, {0, 1, 0}}}}));
    const MeshFile file = ReadMeshFile(dir / "quad.stl");
    const Mesh& m = file.mesh;
    EXPECT_EQ(file.format, MeshFormat::kAssimp);
    ASSERT_EQ(m.getNumVerts(), 4);
    ASSERT_EQ(m.getNumFaces(), 2);
    EXPECT_EQ(m.getVert(3), Point3(0, 1, 0));
    EXPECT_EQ(m.faces[1].v[0], 0u);  // -0 meets +0
    EXPECT_EQ(m.faces[1].v[1], 2u);
    EXPECT_EQ(m.faces[1].v[2], 3u);
    for (const Face& f : m.faces) {
        EXPECT_EQ(f.smGroup, 1u);
        EXPECT_EQ(f.getMatID(), 0);
    }
    EXPECT_FALSE(m.mapSupport(0));
    EXPECT_FALSE(m.mapSupport(1));
}

TEST(MeshAssimpRead, PlyColoursStayWithTheCornersAndSplitOnWriting)
{
    ScratchDir dir;
    WriteText(dir / "in.ply",
              "ply\nformat ascii 1.0\nelement vertex 5\n"
              "property float x\nproperty float y\nproperty float z\n"
              "property uchar red\nproperty uchar green\nproperty uchar blue\n"
              "element face 2\nproperty list uchar int vertex_indices\nend_header\n"
              "0 0 0 255 0 0\n1 0 0 0 255 0\n1 1 0 0 0 255\n0 1 0 255 255 255\n0 0 0 0 0 0\n"
              "3 0 1 2\n3 4 2 3\n");
    const MeshFile file = ReadMeshFile(dir / "in.ply");
    const Mesh& m = file.mesh;
    ASSERT_EQ(m.getNumVerts(), 4);
    ASSERT_EQ(m.getNumFaces(), 2);
    EXPECT_EQ(m.faces[1].v[0], m.faces[0].v[0]);  // the two corners at the origin are one vertex
    EXPECT_EQ(m.vertCol()[m.vcFace()[0].t[0]], Point3(1, 0, 0));
    EXPECT_EQ(m.vertCol()[m.vcFace()[1].t[0]], Point3(0, 0, 0));

    // Written back, that vertex takes one copy per colour.
    WriteMeshFile(file, m, dir / "out.obj");
    const Mesh back = ReadMeshFile(dir / "out.obj").mesh;
    ASSERT_EQ(back.getNumVerts(), 5);
    EXPECT_EQ(back.getVert(0), back.getVert(1));
    EXPECT_EQ(back.vertCol()[0], Point3(1, 0, 0));
    EXPECT_EQ(back.vertCol()[1], Point3(0, 0, 0));
}

TEST(MeshAssimpRead, GltfNodesPlaceEachUseOfAMesh)
{
    // One triangle with UVs, used by a moved node and by a moved child of a
    // scaled node.
    const float data[] = {0, 0, 0, 1, 0, 0, 0, 1, 0, /* uv */ 0, 0, 0.25f, 0, 0, 0.5f};
    const std::string gltf = R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0,1]}],
      "nodes":[{"mesh":0,"translation":[10,0,0]},{"children":[2],"scale":[2,2,2]},{"mesh":0,"translation":[0,0,5]}],
      "materials":[{"name":"paint"},{"name":"steel"}],
      "meshes":[{"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":1},"material":1}]}],
      "buffers":[{"byteLength":60,"uri":"data:application/octet-stream;base64,)" +
                             Base64(data, sizeof data) + R"("}],
      "bufferViews":[{"buffer":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":24}],
      "accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]},
                   {"bufferView":1,"componentType":5126,"count":3,"type":"VEC2"}]})";
    ScratchDir dir;
    WriteText(dir / "nodes.gltf", gltf);
    const MeshFile file = ReadMeshFile(dir / "nodes.gltf");
    const Mesh& m = file.mesh;
    ASSERT_EQ(m.getNumFaces(), 2);
    ASSERT_EQ(m.getNumVerts(), 6);
    EXPECT_EQ(m.getVert(static_cast<int>(m.faces[0].v[1])), Point3(11, 0, 0));
    EXPECT_EQ(m.getVert(static_cast<int>(m.faces[1].v[0])), Point3(0, 0, 10));
    EXPECT_EQ(m.getVert(static_cast<int>(m.faces[1].v[2])), Point3(0, 2, 10));
    EXPECT_EQ(file.materialNames.at(static_cast<size_t>(m.faces[1].getMatID())), "steel");
    ASSERT_TRUE(m.mapSupport(1));
    EXPECT_EQ(m.getNumMapVerts(1), 6);
    EXPECT_FALSE(m.mapSupport(2));
    const UVVert uv = m.mapVerts(1)[m.mapFaces(1)[1].t[1]];
    EXPECT_EQ(uv.x, 0.25f);
}

TEST(MeshAssimpRead, ErrorsNameTheFile)
{
    ScratchDir dir;
    for (const char* name : {"missing.ply", "junk.ply", "lines.ply"}) {
        if (std::strcmp(name, "junk.ply") == 0) WriteText(dir / name, "ply\nthis is not a header\n");
        if (std::strcmp(name, "lines.ply") == 0)
            WriteText(dir / name, "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
                                  "property float z\nend_header\n0 0 0\n1 0 0\n");
        try {
            ReadMeshFile(dir / name);
            ADD_FAILURE() << name;
        } catch (const MeshFileError& e) {
            EXPECT_EQ(std::string(e.what()).rfind(dir / name + ": ", 0), 0u) << e.what();
        }
    }
}

}  // namespace
