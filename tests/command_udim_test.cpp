// UDIM tiles through the command: each tile's file against the classic bake
// of the mesh moved onto the unit square, faces across a border, --tiles,
// and the refusals that cover every tile's file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "app/command/tiles.h"
#include "command_runner.h"
#include "file_bytes.h"
#include "mesh_test_files.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

// A floor whose map lies in tile 1001 and a two-sided wall standing on it
// whose map lies in tile 1002, so that the wall shades the floor from
// another tile; a small face high above maps across the border u = 1. Every
// u is shifted by SHIFT, exactly representable either way.
std::string FloorAndWall(float shift)
{
    std::string obj = "v 0 0 0\nv 2 0 0\nv 2 2 0\nv 0 2 0\nv 1 0 0\nv 1 2 0\nv 1 2 1\nv 1 0 1\n"
                      "v 0 0 5\nv 1 0 5\nv 0 1 5\n";
    const float u[] = {0.25f, 0.75f, 0.75f, 0.25f, 1.125f, 1.375f, 1.375f, 1.125f,
                       1.625f, 1.875f, 1.875f, 1.625f, 0.75f, 1.25f, 1.0f};
    const float v[] = {0.25f, 0.25f, 0.75f, 0.75f, 0.25f, 0.25f, 0.75f, 0.75f,
                       0.25f, 0.25f, 0.75f, 0.75f, 0.125f, 0.125f, 0.375f};
    for (int i = 0; i < 15; ++i) obj += "vt " + std::to_string(u[i] + shift) + " " + std::to_string(v[i]) + "\n";
    return obj + "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n"
                 "f 5/5 6/6 7/7\nf 5/5 7/7 8/8\nf 7/11 6/10 5/9\nf 8/12 7/11 5/9\n"
                 "f 9/13 10/14 11/15\n";
}

struct Udim : ::testing::Test {
    ScratchDir scratch;
    std::string mesh = scratch / "floor.obj", moved = scratch / "moved.obj";

    void SetUp() override
    {
        WriteText(mesh, FloorAndWall(0.0f));
        WriteText(moved, FloorAndWall(-1.0f));
    }
    CommandResult Bake(const std::string& input, const std::string& output, std::vector<std::string> more = {})
    {
        std::vector<std::string> args{input, "--size", "64x64", "--distance", "1", "--threads", "2",
                                      "--config-dir", scratch / "config", "-o", scratch / output};
        args.insert(args.end(), more.begin(), more.end());
        return RunProgram(DUNSMERE_COMMAND, args);
    }
};

TEST_F(Udim, EachTileIsTheClassicBakeOfTheMeshMovedOntoIt)
{
    const CommandResult tiled = Bake(mesh, "tile_<UDIM>.png", {"--json"});
    ASSERT_EQ(tiled.status, 0) << tiled.err;
    EXPECT_NE(tiled.err.find("1 of 7 faces will not be baked (1 cross a tile border)"), std::string::npos)
        << tiled.err;
    ASSERT_EQ(Bake(mesh, "classic_1001.png").status, 0);
    ASSERT_EQ(Bake(moved, "classic_1002.png").status, 0);
    // The second tile reuses the first's ray scene; the classic bakes build their own.
    for (const char* tile : {"1001", "1002"})
        EXPECT_EQ(ReadAll(scratch / ("tile_" + std::string(tile) + ".png")),
                  ReadAll(scratch / ("classic_" + std::string(tile) + ".png")))
            << tile;
    EXPECT_FALSE(std::filesystem::exists(scratch / "tile_1003.png"));

    const nlohmann::json report = nlohmann::json::parse(tiled.out).at(0);
    EXPECT_EQ(report["faces"]["baked"], 6);
    EXPECT_EQ(report["faces"]["crossingTiles"], 1);
    ASSERT_EQ(report["tiles"].size(), 2u);
    EXPECT_EQ(report["tiles"][0]["faces"], 2);
    EXPECT_EQ(report["tiles"][1]["faces"], 4);
    // The wall lies in the other tile, yet shades the floor.
    EXPECT_GT(report["tiles"][0]["value"]["max"].get<double>(), 0.0);

    const CommandResult picked = Bake(mesh, "picked_{udim}.png", {"--tiles", "1002"});
    ASSERT_EQ(picked.status, 0) << picked.err;
    EXPECT_FALSE(std::filesystem::exists(scratch / "picked_1001.png"));
    EXPECT_EQ(ReadAll(scratch / "picked_1002.png"), ReadAll(scratch / "classic_1002.png"));

    const CommandResult info = RunProgram(DUNSMERE_COMMAND, {"info", mesh});
    EXPECT_NE(info.out.find("1001 25.00% (2 faces), 1002 25.00% (4 faces); 1 face crosses a tile border"),
              std::string::npos)
        << info.out;
}

TEST_F(Udim, EveryTilesFileIsCheckedBeforeTheFirstBake)
{
    std::filesystem::create_directory(scratch / "blocked_1002.png");
    const CommandResult blocked = Bake(mesh, "blocked_<UDIM>.png");
    EXPECT_EQ(blocked.status, 2);
    EXPECT_NE(blocked.err.find("blocked_1002.png: it is a folder"), std::string::npos) << blocked.err;
    EXPECT_FALSE(std::filesystem::exists(scratch / "blocked_1001.png"));

    const CommandResult empty = Bake(mesh, "e_<UDIM>.png", {"--tiles", "1001,1005-1006"});
    EXPECT_EQ(empty.status, 0) << empty.err;
    EXPECT_NE(empty.err.find("no face lies in tile 1005,1006"), std::string::npos) << empty.err;
    EXPECT_EQ(Bake(mesh, "n_<UDIM>.png", {"--tiles", "1011"}).status, 2);
    EXPECT_EQ(Bake(mesh, "plain.png", {"--tiles", "1001"}).status, 2);
    EXPECT_EQ(Bake(mesh, "bad_<UDIM>.png", {"--tiles", "1003-1001"}).status, 2);
    EXPECT_FALSE(std::filesystem::exists(scratch / "n_1011.png"));
    EXPECT_FALSE(std::filesystem::exists(scratch / "plain.png"));
}

TEST(UdimTiles, ABorderFaceWithinTheMarginIsInBothTiles)
{
    const UVVert a(0.9995f, 0.5f, 0.0f), b(1.00005f, 0.5f, 0.0f), c(1.0f, 0.6f, 0.0f);
    EXPECT_EQ(TilesOfFace(a, b, c), (std::vector<int>{1001, 1002}));
    EXPECT_EQ(TilesOfFace({9.5f, 99.5f, 0.0f}, {9.25f, 99.0f, 0.0f}, {10.0f, 100.0f, 0.0f}),
              (std::vector<int>{2000}));
    EXPECT_TRUE(TilesOfFace({-0.5f, 0.5f, 0.0f}, {0.5f, 0.5f, 0.0f}, {0.5f, 0.6f, 0.0f}).empty());
    EXPECT_EQ(ParseTiles("1005,1001,1003-1005"), (std::vector<int>{1001, 1003, 1004, 1005}));
    EXPECT_EQ(ParseTiles("1000"), std::nullopt);
    EXPECT_EQ(TileOutput("m_<UDIM>/{udim}.png", 1012), "m_1012/1012.png");
}

}  // namespace
