// The run tables keep their ray scene for a mesh that only changed its map
// coordinates, and build afresh for one whose geometry moved: either way the
// scene answers as one built from nothing. A bake from high-poly sources
// keeps its projection tables by the same rule.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "eval/eval.h"
#include "mesh_builders.h"

using namespace dunsmere;

namespace {

// Every ray's answer from TABLES, as bits: hit flag and distance.
std::vector<float> Answers(const RunTables& tables)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1.5f, 1.5f);
    std::vector<float> answers;
    for (int i = 0; i < 2000; ++i) {
        const Ray ray{{u(rng), u(rng), u(rng)}, {u(rng), u(rng), u(rng)}};
        float t = -1.0f;
        answers.push_back(static_cast<float>(tables.scene.Intersect(ray, t, 4.0f)));
        answers.push_back(t);
    }
    return answers;
}

std::vector<float> Fresh(const Mesh& mesh)
{
    RunTables tables;
    tables.BuildRayTables(mesh);
    return Answers(tables);
}

TEST(SceneKept, OnlyForTheSameGeometryAndAnswersAsAFreshBuild)
{
    Mesh mesh = RandomSoup(300, 1.0f, 3);
    mesh.setMapSupport(1);
    mesh.setNumMapVerts(1, 3);
    RunTables tables;
    tables.BuildRayTables(mesh);
    EXPECT_FALSE(tables.SceneKept());

    mesh.mapVerts(1)[0] = UVVert(1.5f, 0.25f, 0.0f);  // a tile's shift: no geometry changes
    tables.BuildRayTables(mesh);
    EXPECT_TRUE(tables.SceneKept());
    EXPECT_EQ(Answers(tables), Fresh(mesh));

    mesh.verts[5].z += 0.5f;  // moved in place: the same object, another scene
    tables.BuildRayTables(mesh);
    EXPECT_FALSE(tables.SceneKept());
    EXPECT_EQ(Answers(tables), Fresh(mesh));

    const Mesh copy = mesh;  // equal, but another object the scene would not point at
    tables.BuildRayTables(copy);
    EXPECT_FALSE(tables.SceneKept());
    std::vector<Mesh> occluders{RandomSoup(10, 1.0f, 4)};
    tables.BuildRayTables(copy, {}, occluders);
    tables.BuildRayTables(copy, {}, occluders);
    EXPECT_FALSE(tables.SceneKept());  // occluders are gathered anew each run
}

// A sculpt's projection tables likewise: kept for the same low mesh,
// sources, cage and occluders, built afresh when any of them moved.
TEST(SceneKept, ProjectionTablesForTheSameSourcesAlone)
{
    const Mesh low = UnitSquare();
    UtilitySettings settings;
    ProjectionTables projection;
    const auto build = [&](Mesh source, std::vector<Mesh> occluders) {
        projection.Build(low, settings, {std::move(source)}, std::nullopt, std::move(occluders));
        return projection.Kept();
    };
    Mesh source = RandomSoup(50, 1.0f, 5);
    EXPECT_FALSE(build(source, {}));
    EXPECT_TRUE(build(source, {}));
    EXPECT_FALSE(build(source, {RandomSoup(5, 1.0f, 6)}));
    EXPECT_TRUE(build(source, {RandomSoup(5, 1.0f, 6)}));
    source.verts[0].x += 0.25f;
    EXPECT_FALSE(build(source, {RandomSoup(5, 1.0f, 6)}));
    projection.Clear();
    EXPECT_FALSE(build(source, {RandomSoup(5, 1.0f, 6)}));
}

}  // namespace
