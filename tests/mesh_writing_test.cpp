// Writing meshes back: OBJ read again bit for bit, PLY levels, glTF through
// assimp, vertices split for their colours, and failures that leave the
// target and its folder as they were.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <iterator>
#include <limits>

#include "mesh_builders.h"
#include "mesh_test_files.h"

using namespace dunsmere;

namespace {

// Every feature the OBJ reader keeps, with numbers that need all nine digits.
const char kRichObj[] =
    "mtllib parts.mtl\n"
    "o crate\n"
    "v 0.1 -0 3.4e-38 0.5 0.25 1\n"
    "v 1e-40 16777217 -7.5\n"
    "v 1 1 0\n"
    "v 0 1 0\n"
    "v 2 2 2\n"
    "vt 0.1 0.2\nvt 1 0 -0\nvt 0.5 0.5 3.4e38\n"
    "vn 0 0 1\n"
    "g lid\nusemtl wood\ns 1\n"
    "f 1/1/1 3/3/1 2/2/1 4/1/1\n"
    "s 33\nf 1 3 5\n"
    "usemtl metal\ng side\ns off\nf 2//1 3//1 5//1\n"
    "usemtl wood\nf -1/-1 -2/-2 -3/-3\n"
    "g\n";

MeshFile ReadText(const ScratchDir& dir, const std::string& name, const std::string& text)
{
    WriteText(dir / name, text);
    return ReadMeshFile(dir / name);
}

std::string ErrorOf(const MeshFile& file, const Mesh& mesh, const std::string& path)
{
    try {
        WriteMeshFile(file, mesh, path);
    } catch (const MeshFileError& e) {
        return e.what();
    }
    return "no error";
}

TEST(MeshObjWrite, ReadsBackBitForBitWithItsLines)
{
    ScratchDir dir;
    const MeshFile original = ReadText(dir, "in.obj", kRichObj);
    Mesh changed = original.mesh;
    const VertColor levels[] = {{1.0f / 3.0f, 0.1f, 2.5e-8f}, {0, 0, 0}, {1, 1, 1}, {0.7f, 0.7f, 0.7f}, {-0.0f, 2, 3}};
    for (int i = 0; i < 5; ++i) changed.vertCol()[i] = levels[i];

    WriteMeshFile(original, changed, dir / "out.obj");
    const MeshFile back = ReadMeshFile(dir / "out.obj");
    ExpectSameMesh(changed, back.mesh);
    EXPECT_EQ(back.materialNames, original.materialNames);
    ASSERT_EQ(back.objLines.size(), original.objLines.size());
    for (size_t i = 0; i < back.objLines.size(); ++i) {
        EXPECT_EQ(back.objLines[i].text, original.objLines[i].text);
        EXPECT_EQ(back.objLines[i].face, original.objLines[i].face) << back.objLines[i].text;
    }
    ASSERT_EQ(back.objFaces.size(), original.objFaces.size());
    for (size_t f = 0; f < back.objFaces.size(); ++f) {
        EXPECT_EQ(back.objFaces[f].uv, original.objFaces[f].uv);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(back.objFaces[f].normal[k], original.objFaces[f].normal[k]);
    }
    EXPECT_EQ(back.objNormals.size(), 1u);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.obj", "out.obj"}));  // no temporary left
}

TEST(MeshObjWrite, NumbersAsNineDigitsAndLinesOnlyWhereNeeded)
{
    ScratchDir dir;
    const MeshFile file = ReadText(dir, "in.obj", "v 0.1 0 1 0.5 0.5 0.5\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    WriteMeshFile(file, file.mesh, dir / "out.obj");
    EXPECT_EQ(ReadBytes(dir / "out.obj"),
              "v 0.100000001 0 1 0.5 0.5 0.5\nv 1 0 0 1 1 1\nv 0 1 0 1 1 1\nf 1 2 3\n");
}

TEST(MeshObjWrite, ChangedGroupsAndMaterialsAreWrittenFromTheFaces)
{
    ScratchDir dir;
    const MeshFile original = ReadText(dir, "in.obj", kRichObj);
    Mesh changed = original.mesh;
    changed.faces[0].smGroup = 4;
    changed.faces[2].setMatID(0);
    changed.faces[4].smGroup = 0x30;  // two groups: OBJ keeps the lowest
    WriteMeshFile(original, changed, dir / "out.obj");
    const MeshFile back = ReadMeshFile(dir / "out.obj");
    changed.faces[4].smGroup = 0x10;
    ExpectSameMesh(changed, back.mesh);
    EXPECT_EQ(back.objLines.front().text, "mtllib parts.mtl");
    EXPECT_EQ(back.objLines.back().text, "g");
}

// Vertex 0 gets two colours, vertex 2 two colour vertices of one colour.
Mesh TwoColouredSquare()
{
    Mesh m = UnitSquare();
    m.setNumVertCol(6);
    const VertColor colours[] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}, {0, 0, 0}, {0, 0, 1}};
    std::copy(std::begin(colours), std::end(colours), m.vertCol());
    m.setNumVCFaces(2);
    m.vcFace()[0].setTVerts(0, 1, 2);
    m.vcFace()[1].setTVerts(4, 5, 3);
    return m;
}

TEST(MeshObjWrite, AVertexWithTwoColoursIsSplit)
{
    ScratchDir dir;
    const Mesh m = TwoColouredSquare();
    WriteMeshFile(MeshFile{}, m, dir / "out.obj");
    const Mesh back = ReadMeshFile(dir / "out.obj").mesh;
    ASSERT_EQ(back.getNumVerts(), 5);
    const Point3 positions[] = {{0, 0, 0}, {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    const VertColor colours[] = {{1, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 1, 1}};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(back.getVert(i), positions[i]) << i;
        EXPECT_EQ(back.vertCol()[i], colours[i]) << i;
    }
    EXPECT_EQ(back.faces[0].v[0], 0u);
    EXPECT_EQ(back.faces[1].v[0], 1u);
    EXPECT_EQ(back.faces[1].v[1], 3u);
    EXPECT_EQ(back.faces[1].v[2], 4u);
}

TEST(MeshPlyWrite, ColoursAsRoundedBytesReadBackThroughAssimp)
{
    ScratchDir dir;
    const float levels[] = {0, 1, 0.5f, 0.2f, 2, -1, 0.75f, 0.999f, 0.001f, 0.004f, std::numeric_limits<float>::quiet_NaN(), 0.1f};
    const int bytes[] = {0, 255, 128, 51, 255, 0, 191, 255, 0, 1, 0, 26};
    Mesh m;
    m.setNumVerts(12);
    m.setNumFaces(4);
    m.setNumVertCol(12);
    for (int i = 0; i < 12; ++i) {
        m.verts[static_cast<size_t>(i)] = {static_cast<float>(i % 3), static_cast<float>(i / 3), 0.25f * static_cast<float>(i)};
        m.vertCol()[i] = {levels[i], levels[i], levels[i]};
    }
    m.setNumVCFaces(4);
    for (int f = 0; f < 4; ++f) {
        const DWORD b = static_cast<DWORD>(3 * f);
        m.faces[static_cast<size_t>(f)].setVerts(b, b + 1, b + 2);
        m.vcFace()[f].setTVerts(b, b + 1, b + 2);
    }
    WriteMeshFile(MeshFile{}, m, dir / "out.PLY");
    EXPECT_EQ(ReadBytes(dir / "out.PLY").rfind("ply\nformat binary_little_endian 1.0\n", 0), 0u);

    const MeshFile back = ReadMeshFile(dir / "out.PLY");
    ASSERT_EQ(back.mesh.getNumFaces(), 4);
    ASSERT_TRUE(back.hadColors);
    for (int f = 0; f < 4; ++f)
        for (int k = 0; k < 3; ++k) {
            const int i = 3 * f + k;
            EXPECT_EQ(back.mesh.getVert(static_cast<int>(back.mesh.faces[static_cast<size_t>(f)].v[k])), m.getVert(i));
            const VertColor c = back.mesh.vertCol()[back.mesh.vcFace()[f].t[k]];
            EXPECT_EQ(std::lround(c.x * 255.0f), bytes[i]) << "level " << levels[i];
            EXPECT_EQ(c.x, c.z);
        }
}

TEST(MeshGltfWrite, GlbAndGltfReadBackThroughAssimp)
{
    ScratchDir dir;
    MeshFile original = ReadText(dir, "in.obj",
                                 "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0 0.5 0.25 0.125\n"
                                 "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                                 "usemtl paint\nf 1/1 2/2 3/3\nusemtl steel\nf 1/4 3/3 4/4\n");
    for (const char* name : {"out.glb", "out.gltf"}) {
        WriteMeshFile(original, original.mesh, dir / name);
        const MeshFile back = ReadMeshFile(dir / name);
        const Mesh& a = original.mesh;
        const Mesh& b = back.mesh;
        ASSERT_EQ(b.getNumFaces(), 2) << name;
        ASSERT_TRUE(b.mapSupport(0) && b.mapSupport(1)) << name;
        for (int f = 0; f < 2; ++f) {
            const Face& fa = a.faces[static_cast<size_t>(f)];
            const Face& fb = b.faces[static_cast<size_t>(f)];
            EXPECT_EQ(back.materialNames.at(static_cast<size_t>(fb.getMatID())), original.materialNames[static_cast<size_t>(fa.getMatID())]);
            for (int k = 0; k < 3; ++k) {
                EXPECT_EQ(b.getVert(static_cast<int>(fb.v[k])), a.getVert(static_cast<int>(fa.v[k])));
                EXPECT_EQ(b.vertCol()[b.vcFace()[f].t[k]], a.vertCol()[a.vcFace()[f].t[k]]);
                const UVVert ua = a.mapVerts(1)[a.mapFaces(1)[f].t[k]];
                const UVVert ub = b.mapVerts(1)[b.mapFaces(1)[f].t[k]];
                EXPECT_EQ(Point2(ub.x, ub.y), Point2(ua.x, ua.y)) << name;
            }
        }
    }
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.obj", "out.bin", "out.glb", "out.gltf"}));
}

// An old buffer goes once no .gltf in its folder names it; another .gltf
// (a copy) may still.
TEST(MeshGltfWrite, AnOldBufferStaysWhileAnotherFileNamesIt)
{
    ScratchDir dir;
    const MeshFile file = ReadText(dir, "in.obj", "v 0 0 0 1 1 1\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    for (const bool copied : {false, true}) {
        SCOPED_TRACE(copied ? "copied" : "alone");
        const std::string sub = dir / (copied ? "copied" : "alone");
        std::filesystem::create_directory(sub);
        WriteMeshFile(file, file.mesh, sub + "/out.gltf");
        if (copied) std::filesystem::copy_file(sub + "/out.gltf", sub + "/copy.gltf");
        WriteMeshFile(file, file.mesh, sub + "/out.gltf");  // beside out.bin, so as out-XXXXXXXX.bin
        EXPECT_EQ(std::filesystem::exists(sub + "/out.bin"), copied);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(sub), {}), copied ? 4 : 2);
    }
}

// Runs writing one .gltf at once, each its own mesh, leave it and the one
// buffer it names.
TEST(MeshGltfWrite, WritersAtOnceLeaveOnePair)
{
    ScratchDir dir;
    const MeshFile file = ReadText(dir, "in.obj", "v 0 0 0 1 1 1\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    std::filesystem::create_directory(dir / "out");
    std::vector<pid_t> writers;
    for (int w = 0; w < 4; ++w)
        if (writers.push_back(::fork()); writers.back() == 0) {
            Mesh mesh = file.mesh;
            mesh.verts[0].x = static_cast<float>(w);
            try {
                for (int i = 0; i < 4; ++i) WriteMeshFile(file, mesh, dir / "out/out.gltf");
            } catch (...) {
                ::_exit(1);
            }
            ::_exit(0);
        }
    int status = 0;
    for (const pid_t pid : writers) EXPECT_TRUE(::waitpid(pid, &status, 0) == pid && status == 0);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir / "out")) left.push_back(entry.path().filename());
    ASSERT_EQ(left.size(), 2u);
    const std::string bin = left[0] == "out.gltf" ? left[1] : left[0];
    EXPECT_NE(ReadBytes(dir / "out/out.gltf").find("\"" + bin + "\""), std::string::npos) << bin;
}

TEST(MeshWrite, FailuresLeaveTheFolderAsItWas)
{
    ScratchDir dir;
    const MeshFile file = ReadText(dir, "in.obj", "v 0 0 0 1 1 1\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");

    const std::string nowhere = dir / "missing/out.obj";
    EXPECT_EQ(ErrorOf(file, file.mesh, nowhere).rfind(nowhere + ": ", 0), 0u);
    EXPECT_EQ(ErrorOf(file, file.mesh, dir / "missing/out.gltf").rfind(dir / "missing/out.gltf: ", 0), 0u);

    // A folder in the way: the rename fails, the temporary goes.
    std::filesystem::create_directory(dir / "taken.ply");
    WriteText(dir / "taken.ply/keep", "x");
    EXPECT_EQ(ErrorOf(file, file.mesh, dir / "taken.ply").rfind(dir / "taken.ply: ", 0), 0u);

    // A mesh that cannot be written never touches the old file.
    WriteText(dir / "old.obj", "old");
    Mesh bad = file.mesh;
    bad.vertCol()[0].y = std::numeric_limits<float>::infinity();
    EXPECT_NE(ErrorOf(file, bad, dir / "old.obj").find("non-finite"), std::string::npos);
    bad = file.mesh;
    bad.faces[0].v[1] = 7;
    EXPECT_NE(ErrorOf(file, bad, dir / "old.ply").find("uses vertex 7 of 3"), std::string::npos);
    EXPECT_EQ(ReadBytes(dir / "old.obj"), "old");

    EXPECT_NE(ErrorOf(file, file.mesh, dir / "out.stl").find("cannot write this kind of file"), std::string::npos);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"in.obj", "old.obj", "taken.ply"}));
}

TEST(MeshWrite, ReplacesTheTargetKeepingItsPermissions)
{
    ScratchDir dir;
    const MeshFile file = ReadText(dir, "in.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    WriteText(dir / "out.obj", "old");
    ASSERT_EQ(chmod((dir / "out.obj").c_str(), 0640), 0);
    WriteMeshFile(file, file.mesh, dir / "out.obj");
    struct stat st {};
    ASSERT_EQ(stat((dir / "out.obj").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadBytes(dir / "out.obj"), "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
}

TEST(MeshWrite, KnowsItsExtensions)
{
    for (const char* path : {"a.obj", "b/c.OBJ", "x.ply", "x.glb", "x.GlTf"}) EXPECT_TRUE(CanWriteMesh(path)) << path;
    for (const char* path : {"a.stl", "obj", "a.obj/b", ".obj", "a.fbx"}) EXPECT_FALSE(CanWriteMesh(path)) << path;
    for (const char* path : {"a.obj", "a.stl", "a.PLY", "a.fbx", "a.dae", "a.glb", "a.3ds"}) EXPECT_TRUE(CanReadMesh(path)) << path;
    for (const char* path : {"a.png", "a", "a.nosuchformat"}) EXPECT_FALSE(CanReadMesh(path)) << path;
}

}  // namespace
