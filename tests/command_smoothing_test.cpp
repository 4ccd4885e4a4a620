// Hard edges through the command: a mesh read through assimp bakes as the
// same mesh with OBJ smoothing groups does, --smooth-angle and its preset
// key, and the normals and texture coordinates of written files.
#include <gtest/gtest.h>

#include <assimp/Importer.hpp>
#include <assimp/scene.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "app/mesh/mesh_files.h"
#include "command_runner.h"
#include "scratch_dir.h"
#include "file_bytes.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;

const std::string kData = std::string(DUNSMERE_TEST_DATA) + "/smoothing/";

class Smoothing : public ::testing::Test {
protected:
    CommandResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--config-dir", dir / "config"});
        return RunProgram(DUNSMERE_COMMAND, args);
    }
    // The vertex colours baked into MESH, as the PLY the command writes.
    std::string Bake(const std::string& mesh, std::vector<std::string> more = {})
    {
        const std::string out = dir / ("baked" + std::to_string(++bakes_) + ".ply");
        more.insert(more.begin(), {mesh, "--algorithm", "vertex-colors", "-q", "-o", out});
        const CommandResult r = Run(more);
        EXPECT_EQ(r.status, 0) << r.err;
        return ReadAll(out);
    }
    // The box's OBJ as it was before it had s lines: smooth all over.
    std::string WeldedObj()
    {
        std::istringstream in(ReadAll(kData + "box_on_ground.obj"));
        std::string text, line;
        while (std::getline(in, line))
            if (line.rfind("s ", 0) != 0) text += line + "\n";
        const std::string path = dir / "welded.obj";
        std::ofstream(path) << text;
        return path;
    }

    ScratchDir dir;

private:
    int bakes_ = 0;
};

TEST_F(Smoothing, PlyStlAndObjWithGroupsBakeTheSameColours)
{
    const std::string obj = Bake(kData + "box_on_ground.obj");
    ASSERT_FALSE(obj.empty());
    EXPECT_EQ(Bake(kData + "box_on_ground.ply"), obj);
    EXPECT_EQ(Bake(kData + "box_on_ground.stl"), obj);
}

TEST_F(Smoothing, OneHundredEightyDegreesBakesTheWeldedBox)
{
    const std::string welded = Bake(WeldedObj());
    EXPECT_EQ(Bake(kData + "box_on_ground.ply", {"--smooth-angle", "180"}), welded);
    // An angle given overrides an OBJ's own groups.
    EXPECT_EQ(Bake(kData + "box_on_ground.obj", {"--smooth-angle", "180"}), welded);
    // The welded box is the one with the false band along its edges.
    EXPECT_NE(Bake(kData + "box_on_ground.ply"), welded);
}

TEST_F(Smoothing, AnAngleOutsideZeroToOneHundredEightyIsAUsageError)
{
    for (const char* bad : {"-1", "180.5", "nan", "inf", "abc"}) {
        const CommandResult r = Run({kData + "cube.ply", "--smooth-angle", bad, "-o", dir / "x.ply"});
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_NE(r.err.find("--smooth-angle"), std::string::npos) << bad << ": " << r.err;
    }
    EXPECT_FALSE(fs::exists(dir / "x.ply"));
    const CommandResult zero =
        Run({kData + "cube.ply", "--algorithm", "vertex-colors", "--smooth-angle", "0", "-o", dir / "x.ply"});
    EXPECT_EQ(zero.status, 0) << zero.err;
}

TEST_F(Smoothing, ClustersWithoutAFreeBitAreCountedInAWarning)
{
    const CommandResult r = Run({kData + "fan_33.ply", "--algorithm", "vertex-colors", "-o", dir / "fan.ply"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("fan_33.ply: 1 face got no smoothing group: its cluster found no free bit"),
              std::string::npos)
        << r.err;
}

TEST_F(Smoothing, APresetKeepsTheAngle)
{
    const std::string preset = dir / "hinge.ini";
    const std::string given =
        Bake(kData + "box_on_ground.ply", {"--smooth-angle", "100.25", "--write-preset", preset});
    EXPECT_NE(ReadAll(preset).find("\nsmoothAngle=100.25\n"), std::string::npos) << ReadAll(preset);
    EXPECT_EQ(Bake(kData + "box_on_ground.ply", {"--preset", preset}), given);
    EXPECT_NE(Bake(kData + "box_on_ground.ply"), given);
    // The command line beats the preset.
    EXPECT_EQ(Bake(kData + "box_on_ground.ply", {"--preset", preset, "--smooth-angle", "60"}),
              Bake(kData + "box_on_ground.ply"));

    std::string bad = ReadAll(preset);
    bad.replace(bad.find("smoothAngle=100.25"), 18, "smoothAngle=200");
    std::ofstream(dir / "bad.ini") << bad;
    const CommandResult r = Run({kData + "box_on_ground.ply", "--preset", dir / "bad.ini", "-o", dir / "y.ply"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--smooth-angle"), std::string::npos) << r.err;
}

TEST_F(Smoothing, WrittenPlyCarriesChannelOneSplitAtSeams)
{
    // A square whose diagonal is a seam in the map: corners 0 and 2 have two
    // texture vertices each.
    const std::string in = dir / "seam.obj";
    std::ofstream(in) << "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                         "vt 0 0\nvt 0.5 0\nvt 0.5 0.5\nvt 0.75 0.5\nvt 0.25 0.5\nvt 0 0.25\n"
                         "f 1/1 2/2 3/3\nf 1/6 3/4 4/5\n";
    const std::string out = dir / "seam.ply";
    ASSERT_EQ(Run({in, "--algorithm", "vertex-colors", "-o", out}).status, 0);
    const std::string bytes = ReadAll(out);
    EXPECT_NE(bytes.find("element vertex 6\n"), std::string::npos);
    EXPECT_NE(bytes.find("property uchar blue\nproperty float u\nproperty float v\nelement face 2\n"),
              std::string::npos);

    // Read back, every corner has the position and texture vertex it had.
    const MeshFile back = ReadMeshFile(out);
    const Mesh& m = back.mesh;
    ASSERT_EQ(m.getNumFaces(), 2);
    ASSERT_GT(m.getNumMapVerts(1), 0);
    const Point3 pos[2][3] = {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {{0, 0, 0}, {1, 1, 0}, {0, 1, 0}}};
    const Point3 uv[2][3] = {{{0, 0, 0}, {0.5f, 0, 0}, {0.5f, 0.5f, 0}},
                             {{0, 0.25f, 0}, {0.75f, 0.5f, 0}, {0.25f, 0.5f, 0}}};
    for (int f = 0; f < 2; ++f)
        for (int k = 0; k < 3; ++k) {
            const size_t fi = static_cast<size_t>(f);
            EXPECT_EQ(m.verts[m.faces[fi].v[k]], pos[f][k]) << f << k;
            const UVVert& t = m.mapVerts(1)[m.mapFaces(1)[fi].t[k]];
            EXPECT_EQ(t.x, uv[f][k].x) << f << k;
            EXPECT_EQ(t.y, uv[f][k].y) << f << k;
        }

    // Without channel 1 the file is as it was: no u, no v.
    ASSERT_EQ(Run({kData + "cube.ply", "--algorithm", "vertex-colors", "-o", dir / "cube.ply"}).status, 0);
    EXPECT_EQ(ReadAll(dir / "cube.ply").find("property float u"), std::string::npos);
}

// The normals of a written glTF, each rounded to a unit axis where it is one.
std::set<std::tuple<float, float, float>> WrittenNormals(const std::string& path, bool& everyVertex)
{
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, 0);
    std::set<std::tuple<float, float, float>> normals;
    everyVertex = scene && scene->mNumMeshes > 0;
    for (unsigned m = 0; scene && m < scene->mNumMeshes; ++m) {
        const aiMesh* mesh = scene->mMeshes[m];
        everyVertex = everyVertex && mesh->mNormals;
        for (unsigned i = 0; mesh->mNormals && i < mesh->mNumVertices; ++i)
            normals.emplace(mesh->mNormals[i].x, mesh->mNormals[i].y, mesh->mNormals[i].z);
    }
    return normals;
}

TEST_F(Smoothing, WrittenGltfCarriesTheNormalsTheBakeSampled)
{
    ASSERT_EQ(Run({kData + "box_on_ground.ply", "--algorithm", "vertex-colors", "-o", dir / "hard.glb"}).status, 0);
    bool everyVertex = false;
    const auto hard = WrittenNormals(dir / "hard.glb", everyVertex);
    EXPECT_TRUE(everyVertex);
    // Hard edges: the five sides' and the ground's normals, nothing between.
    using N = std::tuple<float, float, float>;
    EXPECT_EQ(hard, (std::set<N>{{0, 0, 1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}}));

    ASSERT_EQ(Run({kData + "box_on_ground.ply", "--algorithm", "vertex-colors", "--smooth-angle", "180", "-o",
                   dir / "welded.gltf"})
                  .status,
              0);
    const auto welded = WrittenNormals(dir / "welded.gltf", everyVertex);
    EXPECT_TRUE(everyVertex);
    // A top corner's normal leans out over its two sides and up.
    bool leaning = false;
    for (const auto& [x, y, z] : welded)
        leaning = leaning || (std::fabs(x) > 0.1f && std::fabs(y) > 0.1f && z > 0.1f);
    EXPECT_TRUE(leaning);
}

}  // namespace
