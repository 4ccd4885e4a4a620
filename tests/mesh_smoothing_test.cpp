// Hard edges for files without smoothing groups: the edge rule from the
// file's normals or the angle, the clusters, and their bits.
#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/mesh/import_stream.h"
#include "app/mesh/mesh_files.h"
#include "app/mesh/smoothing.h"
#include "mesh_test_files.h"

using namespace dunsmere;

namespace {

const std::string kData = std::string(DUNSMERE_TEST_DATA) + "/smoothing/";

MeshFile Read(const std::string& name, std::optional<double> angle = std::nullopt)
{
    MeshReading reading;
    reading.smoothAngle = angle;
    return ReadMeshFile(kData + name, reading);
}

// Faces that share an edge on a cube's side.
bool SameSide(const Mesh& m, size_t f, size_t g)
{
    int shared = 0;
    for (DWORD a : m.faces[f].v)
        for (DWORD b : m.faces[g].v) shared += a == b;
    const Point3 n = Normalize(CrossProd(m.verts[m.faces[f].v[1]] - m.verts[m.faces[f].v[0]],
                                         m.verts[m.faces[f].v[2]] - m.verts[m.faces[f].v[1]]));
    const Point3 o = Normalize(CrossProd(m.verts[m.faces[g].v[1]] - m.verts[m.faces[g].v[0]],
                                         m.verts[m.faces[g].v[2]] - m.verts[m.faces[g].v[1]]));
    return shared == 2 && DotProd(n, o) > 0.99f;
}

// Every pair of faces meeting at a vertex: the same group exactly when the
// two are on one side of the cube.
void ExpectHardCubeEdges(const Mesh& m)
{
    for (size_t f = 0; f < m.faces.size(); ++f) {
        EXPECT_NE(m.faces[f].smGroup, 0u) << f;
        for (size_t g = f + 1; g < m.faces.size(); ++g) {
            bool touch = false;
            for (DWORD a : m.faces[f].v)
                for (DWORD b : m.faces[g].v) touch = touch || a == b;
            if (!touch) continue;
            EXPECT_EQ(m.faces[f].smGroup == m.faces[g].smGroup, SameSide(m, f, g)) << f << " " << g;
        }
    }
}

TEST(MeshSmoothing, ACubeWithoutNormalsHasSixHardSides)
{
    const MeshFile file = Read("cube.ply");
    ASSERT_EQ(file.mesh.getNumVerts(), 8);
    ASSERT_EQ(file.mesh.getNumFaces(), 12);
    const Smoothing s = FindSmoothing(file.mesh, {}, kDefaultSmoothAngle);
    EXPECT_EQ(s.clusters, 6);
    EXPECT_EQ(s.ungroupedFaces, 0);
    ExpectHardCubeEdges(file.mesh);
    EXPECT_TRUE(file.warnings.empty());
}

TEST(MeshSmoothing, OneHundredEightyDegreesWeldsAsBefore)
{
    const MeshFile file = Read("cube.ply", 180.0);
    for (const Face& f : file.mesh.faces) EXPECT_EQ(f.smGroup, 1u);
    EXPECT_EQ(FindSmoothing(file.mesh, {}, 180.0).clusters, 1);
    // A cube's edges are 90 degrees: just above, they are smooth too.
    EXPECT_EQ(FindSmoothing(file.mesh, {}, 90.5).clusters, 1);
    EXPECT_EQ(FindSmoothing(file.mesh, {}, 89.5).clusters, 6);
}

TEST(MeshSmoothing, FileNormalsSharedPerSideDecideWhateverTheAngle)
{
    // Welded by position into the same 8 corners as the cube without normals.
    const MeshFile file = Read("cube_side_normals.ply", 180.0);
    ASSERT_EQ(file.mesh.getNumVerts(), 8);
    ExpectHardCubeEdges(file.mesh);
    std::set<DWORD> groups;
    for (const Face& f : file.mesh.faces) groups.insert(f.smGroup);
    // Opposite sides touch nowhere and may share a bit: three suffice.
    EXPECT_EQ(groups, (std::set<DWORD>{1u, 2u, 4u}));
}

TEST(MeshSmoothing, NormalsAgreeWithinTheTolerance)
{
    // Two triangles folded at 90 degrees along the edge (0,0,0)-(1,0,0).
    Mesh m;
    m.setNumVerts(4);
    m.verts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    m.setNumFaces(2);
    m.faces[0].setVerts(0, 1, 2);
    m.faces[1].setVerts(1, 0, 3);
    const Point3 up{0, 0, 1};
    // Not normalised as given; within 1e-4 once they are.
    std::vector<Point3> normals{{0, 0, 2}, {0, 0, 2}, up, {0, 0.00009f, 1}, {0, 0, 1}, up};
    EXPECT_EQ(FindSmoothing(m, normals, 0.0).clusters, 1);
    normals[3] = {0, 0.0002f, 1};
    EXPECT_EQ(FindSmoothing(m, normals, 180.0).clusters, 2);
    // A corner without a normal leaves the edge to the angle.
    normals[3] = {0, 0, 0};
    EXPECT_EQ(FindSmoothing(m, normals, 89.0).clusters, 2);
    EXPECT_EQ(FindSmoothing(m, normals, 91.0).clusters, 1);
}

TEST(MeshSmoothing, ClustersBeyondThirtyTwoAtAVertexGetNoGroupAndAWarning)
{
    const MeshFile file = Read("fan_33.ply");
    ASSERT_EQ(file.mesh.getNumFaces(), 33);
    for (int f = 0; f < 32; ++f) EXPECT_EQ(file.mesh.faces[static_cast<size_t>(f)].smGroup, 1u << f) << f;
    EXPECT_EQ(file.mesh.faces[32].smGroup, 0u);
    ASSERT_EQ(file.warnings.size(), 1u);
    EXPECT_EQ(file.warnings[0], kData + "fan_33.ply: 1 face got no smoothing group: its cluster found no free bit");
}

TEST(MeshSmoothing, BitsAreReusedWhereClustersDoNotMeet)
{
    // A strip of squares folded 90 degrees each, read from a file so that
    // the squares share their edges: neighbours differ, every other one
    // takes the bit back.
    ScratchDir dir;
    std::string text = "ply\nformat ascii 1.0\nelement vertex 14\nproperty float x\nproperty float y\n"
                       "property float z\nelement face 12\nproperty list uchar int vertex_indices\nend_header\n";
    for (int i = 0; i <= 6; ++i)
        text += std::to_string(i) + " 0 " + std::to_string(i % 2) + "\n" + std::to_string(i) + " 1 " +
                std::to_string(i % 2) + "\n";
    for (int i = 0; i < 6; ++i) {
        const int a = 2 * i, d = 2 * i + 1, b = 2 * i + 2, c = 2 * i + 3;
        text += "3 " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c) + "\n";
        text += "3 " + std::to_string(a) + " " + std::to_string(c) + " " + std::to_string(d) + "\n";
    }
    WriteText(dir / "strip.ply", text);
    const MeshFile strip = ReadMeshFile(dir / "strip.ply");
    ASSERT_EQ(strip.mesh.getNumVerts(), 14);
    const Smoothing s = FindSmoothing(strip.mesh, {}, 60.0);
    EXPECT_EQ(s.clusters, 6);
    const DWORD expected[] = {1, 1, 2, 2, 1, 1, 2, 2, 1, 1, 2, 2};
    for (size_t f = 0; f < 12; ++f) EXPECT_EQ(strip.mesh.faces[f].smGroup, expected[f]) << f;
}

TEST(MeshSmoothing, StlFacetNormalsCountAsNone)
{
    // Every facet says +z; taken as the file's normals they would weld the box.
    const MeshFile stl = Read("box_on_ground.stl");
    const MeshFile ply = Read("box_on_ground.ply");
    ASSERT_EQ(stl.mesh.getNumFaces(), ply.mesh.getNumFaces());
    for (size_t f = 0; f < ply.mesh.faces.size(); ++f) EXPECT_EQ(stl.mesh.faces[f].smGroup, ply.mesh.faces[f].smGroup);
    EXPECT_EQ(FindSmoothing(ply.mesh, {}, kDefaultSmoothAngle).clusters, 6);
}

TEST(MeshSmoothing, AnObjKeepsItsGroupsUnlessAnAngleIsGiven)
{
    const MeshFile kept = Read("box_on_ground.obj");
    for (size_t f = 0; f < kept.mesh.faces.size(); ++f)
        EXPECT_EQ(kept.mesh.faces[f].smGroup, DWORD{1} << (f / 2)) << f;
    const MeshFile welded = Read("box_on_ground.obj", 180.0);
    for (const Face& f : welded.mesh.faces) EXPECT_EQ(f.smGroup, 1u);
    // The same hard edges from the angle as from the s lines, in other bits.
    const MeshFile angled = Read("box_on_ground.obj", 60.0);
    const MeshFile ply = Read("box_on_ground.ply");
    for (size_t f = 0; f < ply.mesh.faces.size(); ++f)
        EXPECT_EQ(angled.mesh.faces[f].smGroup, ply.mesh.faces[f].smGroup) << f;
}

TEST(MeshSmoothing, TheImportersNormalsCrossItsStream)
{
    ImportedScene s;
    s.verts = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    s.triangles = {{{0, 1, 2}, {0, 1, 2}, 0}};
    s.flatCount = 3;
    s.normals = {{0, 0, 1}, {0, 0.5f, 1}, {0, 0, 0}};
    s.materialNames = {""};
    const ImportedScene back = DecodeImportAnswer(EncodeImportedScene(s), "in.ply");
    EXPECT_EQ(back.normals, s.normals);
    s.normals[1].y = std::numeric_limits<float>::quiet_NaN();
    try {
        DecodeImportAnswer(EncodeImportedScene(s), "in.ply");
        ADD_FAILURE() << "a normal that is not a number was taken";
    } catch (const MeshFileError& e) {
        EXPECT_STREQ(e.what(), "in.ply: normal 1 has a component that is not a finite number");
    }
}

}  // namespace
