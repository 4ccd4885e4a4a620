// The OBJ reader and writer on several threads held against themselves on
// one: the same bytes written, the same mesh read, the same first error.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

#include "app/mesh/obj_parser.h"
#include "mesh_test_files.h"

using namespace dunsmere;

namespace {

const int kThreadCounts[] = {2, 3, 7};

std::string Number(double x)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, " %.9g", x);
    return buffer;
}

// An N x N grid of quads, a row of faces after the vertices it needs, with
// every kind of line the reader keeps, large enough that seven threads each
// get a part of every section.
std::string GridObj(int n)
{
    std::string text = "mtllib grid.mtl\no grid\n";
    auto vertexRow = [&](int j) {
        for (int i = 0; i <= n; ++i) {
            text += "v" + Number(i / 7.0) + Number(j / 3.0) + Number((i + 2 * j) / 9.0);
            text += Number(i / double(n)) + Number(j / double(n)) + Number(0.3) + "\n";
            text += "vt" + Number(i / 11.0) + Number(j / 13.0) + "\n";
        }
    };
    for (int k = 0; k < 8; ++k) text += "vn" + Number(k / 8.0) + Number(0.5) + Number(1) + "\n";
    vertexRow(0);
    for (int j = 0; j < n; ++j) {
        vertexRow(j + 1);
        text += "usemtl m" + std::to_string(j % 5) + "\ns " + std::to_string(j % 3) + "\ng row" + std::to_string(j) + "\n";
        for (int i = 0; i < n; ++i) {
            const int a = j * (n + 1) + i + 1, b = a + 1, c = b + n + 1, d = a + n + 1;
            const std::string nn = "/" + std::to_string(1 + (i + j) % 8);
            text += "f " + std::to_string(a) + "/" + std::to_string(a) + nn + " " + std::to_string(b) + "/" +
                    std::to_string(b) + nn + " " + std::to_string(c) + "/" + std::to_string(c) + nn + " " +
                    std::to_string(d) + "/" + std::to_string(d) + nn + "\n";
        }
    }
    return text + "g\n";
}

// Every field of two files read from one text, the mesh to the bit.
void ExpectSameFile(const MeshFile& a, const MeshFile& b)
{
    ExpectSameMesh(a.mesh, b.mesh);
    EXPECT_EQ(a.materialNames, b.materialNames);
    EXPECT_EQ(a.hadColors, b.hadColors);
    EXPECT_EQ(a.warnings, b.warnings);
    ASSERT_EQ(a.objLines.size(), b.objLines.size());
    for (size_t i = 0; i < a.objLines.size(); ++i) {
        EXPECT_EQ(a.objLines[i].face, b.objLines[i].face) << "line " << i;
        EXPECT_EQ(a.objLines[i].text, b.objLines[i].text) << "line " << i;
    }
    ASSERT_EQ(a.objNormals.size(), b.objNormals.size());
    for (size_t i = 0; i < a.objNormals.size(); ++i) EXPECT_TRUE(SameBits(a.objNormals[i], b.objNormals[i]));
    ASSERT_EQ(a.objFaces.size(), b.objFaces.size());
    for (size_t f = 0; f < a.objFaces.size(); ++f) {
        EXPECT_EQ(a.objFaces[f].uv, b.objFaces[f].uv) << "face " << f;
        for (int c = 0; c < 3; ++c) EXPECT_EQ(a.objFaces[f].normal[c], b.objFaces[f].normal[c]) << "face " << f;
    }
}

MeshReading OnThreads(int threads)
{
    MeshReading reading;
    reading.threads = threads;
    return reading;
}

std::string ReadError(const std::string& path, int threads)
{
    try {
        ReadMeshFile(path, OnThreads(threads));
    } catch (const MeshFileError& e) {
        return e.what();
    }
    return "no error";
}

// Every N-th occurrence of FIND in TEXT replaced with REPLACE.
void ReplaceEvery(std::string& text, const std::string& find, const std::string& replace, int n)
{
    int seen = 0;
    for (size_t at = text.find(find); at != std::string::npos; at = text.find(find, at + replace.size()))
        if (++seen % n == 0) text.replace(at, find.size(), replace);
}

TEST(MeshObjThreads, ReadsTheFileAndFirstErrorOfOneThread)
{
    ScratchDir dir;
    // The grid, with what reaches across the parts: lines continued over a
    // cut, vertices without colours, faces counting back, and no group or
    // material set at the start of most parts.
    std::string text = "\xEF\xBB\xBF" + GridObj(64);
    ReplaceEvery(text, "\nf ", "\nf \\\n ", 37);
    ReplaceEvery(text, "\nv ", "\n# a comment \\\nv ", 41);
    ReplaceEvery(text, "\nv ", "\nv 1 2 3 # white:", 5);
    ReplaceEvery(text, "\ns 0\n", "\ns 5\n", 1);
    text += "v 0 0 1\nv 1 0 1\nv 0 1 1\nvt 0.5 0.5\nf -3/-1 -2/-1 -1/-1\nf -1/1 -3/1 -2/-1\n";
    WriteText(dir / "in.obj", text);
    const MeshFile one = ReadMeshFile(dir / "in.obj");
    ASSERT_GT(one.mesh.getNumFaces(), 64 * 64 * 2);
    for (int threads : kThreadCounts) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        ExpectSameFile(ReadMeshFile(dir / "in.obj", OnThreads(threads)), one);
        // Read side by side, not handed to the line-by-line route, which
        // would give the same file.
        MeshCheck check;
        std::optional<MeshFile> parts = ReadObjParts(std::string_view(text).substr(3), "in.obj", threads, check);
        ASSERT_TRUE(parts.has_value());
        parts->warnings = one.warnings;  // the whole reading's, from the check
        ExpectSameFile(*parts, one);
    }

    // A bad number late in the file and, before it, a face that counts back
    // too far; then a mesh that breaks the rule, found only once all is read.
    std::string bad = text;
    bad.replace(bad.rfind("\nv ") + 3, 1, "x");
    bad.replace(bad.find("\nf ", bad.size() / 2) + 3, 1, "-99999");
    std::string huge = text;
    huge.replace(huge.rfind("\nv ") + 3, 1, "3e30 ");
    for (const auto& [name, content] : {std::pair{"bad.obj", bad}, std::pair{"huge.obj", huge}}) {
        WriteText(dir / name, content);
        const std::string error = ReadError(dir / name, 1);
        EXPECT_NE(error.find(".obj:"), std::string::npos) << error;
        for (int threads : kThreadCounts) EXPECT_EQ(ReadError(dir / name, threads), error) << threads << " threads";
    }
}

std::string WriteError(const MeshFile& file, const Mesh& mesh, const std::string& path, int threads)
{
    try {
        WriteMeshFile(file, mesh, path, threads);
    } catch (const MeshFileError& e) {
        return e.what();
    }
    return "no error";
}

TEST(MeshObjThreads, WritesTheBytesAndFirstErrorOfOneThread)
{
    ScratchDir dir;
    WriteText(dir / "in.obj", GridObj(64));
    const MeshFile file = ReadMeshFile(dir / "in.obj");
    Mesh made = file.mesh;  // other groups: s and usemtl lines made from the faces
    made.faces[100].smGroup = 4;

    // The first non-finite number in file order is the last vertex's colour,
    // in the last thread's part; the first thread meets a normal first.
    MeshFile badFile = file;
    badFile.objNormals[0].x = std::numeric_limits<float>::quiet_NaN();
    Mesh bad = file.mesh;
    bad.vertCol()[bad.getNumVertCol() - 1].y = std::numeric_limits<float>::infinity();
    bad.mapVerts(1)[7].x = -std::numeric_limits<float>::infinity();

    WriteMeshFile(file, file.mesh, dir / "kept.obj");
    WriteMeshFile(file, made, dir / "made.obj");
    const std::string kept = ReadBytes(dir / "kept.obj"), madeBytes = ReadBytes(dir / "made.obj");
    const std::string error = WriteError(badFile, bad, dir / "bad.obj", 1);
    ASSERT_NE(kept, madeBytes);
    ASSERT_NE(error.find("a vertex colour"), std::string::npos) << error;
    for (int threads : kThreadCounts) {
        WriteMeshFile(file, file.mesh, dir / "kept.obj", threads);
        WriteMeshFile(file, made, dir / "made.obj", threads);
        EXPECT_TRUE(ReadBytes(dir / "kept.obj") == kept) << threads << " threads";
        EXPECT_TRUE(ReadBytes(dir / "made.obj") == madeBytes) << threads << " threads";
        EXPECT_EQ(WriteError(badFile, bad, dir / "bad.obj", threads), error) << threads << " threads";
    }
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.obj", "kept.obj", "made.obj"}));
}

}  // namespace
