// Reading OBJ files: every index form, polygons, smoothing groups, materials,
// colours, and an error naming file and line for each kind of bad input.

#include <gtest/gtest.h>

#include <random>

#include "mesh_test_files.h"

using namespace dunsmere;

namespace {

MeshFile ReadObj(const ScratchDir& dir, const std::string& text)
{
    const std::string path = dir / "in.obj";
    WriteText(path, text);
    return ReadMeshFile(path);
}

std::array<DWORD, 3> Verts(const Mesh& m, int f) { const Face& x = m.faces[static_cast<size_t>(f)]; return {x.v[0], x.v[1], x.v[2]}; }
std::array<DWORD, 3> UVs(const Mesh& m, int f) { const TVFace& x = m.mapFaces(1)[f]; return {x.t[0], x.t[1], x.t[2]}; }
using Tri = std::array<DWORD, 3>;

const char kFourVerts[] = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";

TEST(MeshObjRead, EveryIndexForm)
{
    ScratchDir dir;
    const MeshFile file = ReadObj(dir, std::string(kFourVerts) +
                                           "vt 0 0\nvt 1 0\nvt 1 1\nvn 0 0 1\nvn 0 0 -1\n"
                                           "f 1 2 3\n"
                                           "f 1/1 2/2 3/3\n"
                                           "f 2/3/1 3/2/2 4/1/1\n"
                                           "f 1//2 3//1 4//2\n"
                                           "f -4/-3 -3/-2 -1/-1\n"
                                           "f -4//-1 -2//-2 -1//-1\n");
    const Mesh& m = file.mesh;
    ASSERT_EQ(m.getNumFaces(), 6);
    EXPECT_EQ(Verts(m, 0), (Tri{0, 1, 2}));
    EXPECT_EQ(Verts(m, 2), (Tri{1, 2, 3}));
    EXPECT_EQ(Verts(m, 4), (Tri{0, 1, 3}));  // negative: counted back from the fourth
    EXPECT_EQ(Verts(m, 5), (Tri{0, 2, 3}));
    ASSERT_TRUE(m.mapSupport(1));
    EXPECT_EQ(m.getNumMapVerts(1), 3);
    EXPECT_EQ(UVs(m, 0), (Tri{0, 0, 0}));  // no texture indices
    EXPECT_EQ(UVs(m, 1), (Tri{0, 1, 2}));
    EXPECT_EQ(UVs(m, 2), (Tri{2, 1, 0}));
    EXPECT_EQ(UVs(m, 3), (Tri{0, 0, 0}));
    EXPECT_EQ(UVs(m, 4), (Tri{0, 1, 2}));
    EXPECT_FALSE(file.objFaces[0].uv);
    EXPECT_TRUE(file.objFaces[1].uv);
    EXPECT_EQ(file.objFaces[2].normal[1], 1);
    EXPECT_EQ(file.objFaces[5].normal[0], 1);
    EXPECT_EQ(file.objFaces[1].normal[0], -1);
    EXPECT_FALSE(m.mapSupport(0));  // no colours given
    EXPECT_FALSE(file.hadColors);
}

TEST(MeshObjRead, NegativeIndicesCountFromTheLineAndNoVtMeansNoChannel)
{
    ScratchDir dir;
    const Mesh m = ReadObj(dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf -3 -2 -1\n"
                                "v 0 0 1\nv 1 0 1\nv 0 1 1\nf -3 -2 -1\n").mesh;
    EXPECT_EQ(Verts(m, 1), (Tri{3, 4, 5}));
    EXPECT_FALSE(m.mapSupport(1));
}

TEST(MeshObjRead, PolygonsAreFannedInFileOrder)
{
    ScratchDir dir;
    const MeshFile file = ReadObj(dir, "v 0 0 0\nv 1 0 0\nv 2 1 0\nv 1 2 0\nv 0 1 0\n"
                                       "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nvt 5 5\nvn 0 0 1\n"
                                       "f 5/1/1 4/2/1 3/3/1 2/4/1 1/5/1\n");
    const Mesh& m = file.mesh;
    ASSERT_EQ(m.getNumFaces(), 3);
    EXPECT_EQ(Verts(m, 0), (Tri{4, 3, 2}));
    EXPECT_EQ(Verts(m, 1), (Tri{4, 2, 1}));
    EXPECT_EQ(Verts(m, 2), (Tri{4, 1, 0}));
    EXPECT_EQ(UVs(m, 2), (Tri{0, 3, 4}));
    EXPECT_EQ(file.objFaces.size(), 3u);
}

TEST(MeshObjRead, SmoothingGroups)
{
    ScratchDir dir;
    const Mesh m = ReadObj(dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
                                "f 1 2 3\n"
                                "s 1\nf 1 2 3\n"
                                "s 33\nf 1 2 3\n"
                                "s 32\nf 1 2 3\n"
                                "s 3\nf 1 2 3\n"
                                "s off\nf 1 2 3\n"
                                "s 4\ns 0\nf 1 2 3\n").mesh;
    const DWORD expected[] = {0, 1, 1, 0x80000000u, 4, 0, 0};
    for (int f = 0; f < 7; ++f) EXPECT_EQ(m.faces[static_cast<size_t>(f)].smGroup, expected[f]) << f;

    const Mesh plain = ReadObj(dir, "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\nf 3 2 1\n").mesh;
    EXPECT_EQ(plain.faces[0].smGroup, 1u);  // no s line at all: one group
    EXPECT_EQ(plain.faces[1].smGroup, 1u);
}

TEST(MeshObjRead, MaterialsNumberedByFirstAppearance)
{
    ScratchDir dir;
    const MeshFile file = ReadObj(dir, "mtllib a.mtl\no pot\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"
                                       "f 1 2 3\n"
                                       "usemtl zinc\nf 1 2 3\n"
                                       "usemtl  old brass \nf 1 2 3 # a comment\n"
                                       "usemtl zinc\nf 1 2 3\n"
                                       "g lid\nusemtl old brass\nf 1 2 3\n");
    const int expected[] = {0, 0, 1, 0, 1};
    for (int f = 0; f < 5; ++f) EXPECT_EQ(file.mesh.faces[static_cast<size_t>(f)].getMatID(), expected[f]) << f;
    EXPECT_EQ(file.mesh.faces[2].flags, 1u << 16);
    EXPECT_EQ(file.materialNames, (std::vector<std::string>{"zinc", "old brass"}));
    ASSERT_EQ(file.objLines.size(), 7u);
    EXPECT_EQ(file.objLines[0].text, "mtllib a.mtl");
    EXPECT_EQ(file.objLines[0].face, 0);
    EXPECT_EQ(file.objLines[1].text, "o pot");
    EXPECT_EQ(file.objLines[5].text, "g lid");
    EXPECT_EQ(file.objLines[5].face, 4);
}

TEST(MeshObjRead, ColoursWhiteWhereAVertexHasNone)
{
    ScratchDir dir;
    const MeshFile file = ReadObj(dir, "v 0 0 0 0.25 0.5 2\nv 1 0 0\nv 0 1 0 0 0 0\nf 3 1 2\n");
    const Mesh& m = file.mesh;
    EXPECT_TRUE(file.hadColors);
    ASSERT_EQ(m.getNumVertCol(), 3);
    EXPECT_EQ(m.vertCol()[0], Point3(0.25f, 0.5f, 2.0f));  // not clamped
    EXPECT_EQ(m.vertCol()[1], Point3(1.0f, 1.0f, 1.0f));
    EXPECT_EQ(m.vcFace()[0], (TVFace{{2, 0, 1}}));
}

TEST(MeshObjRead, LineEndsCommentsContinuationsAndNumberForms)
{
    ScratchDir dir;
    const MeshFile file = ReadObj(dir, "\xEF\xBB\xBF# header\r\n\r\nv +1 -0 1e-50\r\n"
                                       "v 1.5e1 .5 5.\r\nv 0 \\\r\n 1 \\\n  0\nf 1 2\\ # comment\n3\n");
    const Mesh& m = file.mesh;
    ASSERT_EQ(m.getNumVerts(), 3);
    EXPECT_TRUE(SameBits(m.getVert(0), Point3(1.0f, -0.0f, 0.0f)));
    EXPECT_EQ(m.getVert(1), Point3(15.0f, 0.5f, 5.0f));
    EXPECT_EQ(m.getVert(2), Point3(0.0f, 1.0f, 0.0f));
    EXPECT_EQ(Verts(m, 0), (Tri{0, 1, 2}));
}

struct BadInput {
    const char* text;
    int line;
    const char* message;
};

TEST(MeshObjRead, BadInputNamesFileAndLine)
{
    const BadInput cases[] = {
        {"v 0 0 0\nv 1 0 x\n", 2, "not a number: 'x'"},
        {"v 0 0 0\nv 1 0 1.5e\n", 2, "not a number: '1.5e'"},
        {"v 0 0 0\nv 1 0 2,5\n", 2, "not a number: '2,5'"},
        {"v 0 0 0\nv 1 0 0x10\n", 2, "not a number"},
        {"v nan 0 0\n", 1, "not a finite number: 'nan'"},
        {"v 0 -inf 0\n", 1, "not a finite number"},
        {"v 0 1e39 0\n", 1, "number out of range"},
        {"v 0 0\n", 1, "v needs x y z"},
        {"v 0 0 0 1\n", 1, "v needs x y z"},
        {"vt\n", 1, "vt needs"},
        {"vn 0 0\n", 1, "vn needs"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 4\n", 4, "vertex index 4 is out of range (3 defined so far)"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n", 4, "vertex index 0"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf -4 1 2\n", 4, "vertex index -4 is out of range"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 1.5\n", 4, "bad vertex index '1.5'"},
        {"v 0 0 0\nv 1 0 0\nf 1 2\n", 3, "a face needs at least three corners; this one has 2"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/1 2/1 3/1\n", 4, "no vt line came before it"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nf 1/2 2/1 3/1\n", 5, "texture vertex index 2 is out of range"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nvn 0 0 1\nf 1//1 2//2 3//1\n", 5, "normal index 2 is out of range"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nf 1/1 2 3/1\n", 5, "different index forms"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/ 2/ 3/\n", 4, "bad face corner '1/'"},
        {"v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1/1/1/1 2 3\n", 4, "bad face corner"},
        {"s 1 2\n", 1, "s needs one group number"},
        {"s -1\n", 1, "bad smoothing group '-1'"},
        {"usemtl\n", 1, "usemtl needs a material name"},
        {"# one\nv 0 \\\n0 0 0\n", 2, "v needs"},  // a continued line is named by its first line
    };
    ScratchDir dir;
    const std::string path = dir / "bad.obj";
    for (const BadInput& c : cases) {
        WriteText(path, c.text);
        try {
            ReadMeshFile(path);
            ADD_FAILURE() << "accepted: " << c.text;
        } catch (const MeshFileError& e) {
            const std::string prefix = path + ":" + std::to_string(c.line) + ": ";
            const std::string message = e.what();
            EXPECT_EQ(message.rfind(prefix, 0), 0u) << message;
            EXPECT_NE(message.find(c.message), std::string::npos) << message;
        }
    }
}

TEST(MeshObjRead, WholeFileErrorsNameTheFile)
{
    ScratchDir dir;
    const std::string missing = dir / "missing.obj";
    EXPECT_THROW(
        {
            try {
                ReadMeshFile(missing);
            } catch (const MeshFileError& e) {
                EXPECT_EQ(std::string(e.what()).rfind(missing + ": cannot open", 0), 0u) << e.what();
                throw;
            }
        },
        MeshFileError);
    const std::string empty = dir / "empty.OBJ";  // the extension in any case
    WriteText(empty, "v 0 0 0\n# nothing else\n");
    try {
        ReadMeshFile(empty);
        ADD_FAILURE();
    } catch (const MeshFileError& e) {
        EXPECT_EQ(std::string(e.what()), empty + ": no faces");
    }
}

// Random damage to a good file must end in a clean MeshFileError or in a
// mesh whose every index is in range, never in anything else.
TEST(MeshObjRead, DamagedFilesFailCleanly)
{
    const std::string good =
        "mtllib m.mtl\no box\nv 0 0 0 1 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 1 0\nvn 0 0 1\n"
        "g top\nusemtl red\ns 2\nf 1/1/1 2/2/1 3/1/1 4/2/1\nf -1 -2 -3\ns off\nf 1//1 3//1 4//1\n";
    const char alphabet[] = "0123456789 -+./\\#\nfvtnse\r\t";
    std::mt19937 rng(12345);
    ScratchDir dir;
    const std::string path = dir / "fuzz.obj";
    for (int round = 0; round < 3000; ++round) {
        std::string text = good;
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits; ++e) {
            const size_t at = rng() % text.size();
            const char c = alphabet[rng() % (sizeof alphabet - 1)];
            switch (rng() % 3) {
            case 0: text[at] = c; break;
            case 1: text.insert(at, 1, c); break;
            default: text.erase(at, 1 + rng() % 3); break;
            }
            if (text.empty()) text = "f";
        }
        WriteText(path, text);
        try {
            const Mesh m = ReadMeshFile(path).mesh;
            for (const Face& f : m.faces) {
                for (DWORD v : f.v) ASSERT_LT(v, static_cast<DWORD>(m.getNumVerts())) << text;
            }
            for (int f = 0; m.mapSupport(1) && f < m.getNumFaces(); ++f) {
                for (DWORD t : m.mapFaces(1)[f].t) ASSERT_LT(t, static_cast<DWORD>(m.getNumMapVerts(1))) << text;
            }
        } catch (const MeshFileError& e) {
            ASSERT_EQ(std::string(e.what()).rfind(path + ":", 0), 0u) << e.what();
        }
    }
}

}  // namespace
