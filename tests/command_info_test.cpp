// `dunsmere info` through the command: what it says of a mesh agrees with
// the mesh as read and with what a bake of it reports.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "app/command/info.h"
#include "app/mesh/mesh_files.h"
#include "command_runner.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

const std::string kCrate = std::string(DUNSMERE_EXAMPLES) + "/crate.obj";

// The unit square twice, once each way round, and a face reaching out of the
// square; the first material's faces in smoothing group 3, the rest in none.
const char* const kDoubled = R"(v 0 0 0
v 1 0 0
v 1 1 0
v 0 1 0
vt 0 0
vt 1 0
vt 1 1
vt 0 1
vt 1.5 0.5
usemtl skin
s 3
f 1/1 2/2 3/3
f 1/1 3/3 4/4
usemtl cloth
s off
f 1/1 3/3 2/2
f 1/1 4/4 3/3
f 1/1 2/2 3/5
)";

class Info : public ::testing::Test {
protected:
    void SetUp() override
    {
        doubled = scratch / "doubled.obj";
        std::ofstream(doubled) << kDoubled;
    }
    static CommandResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), "info");
        return RunProgram(DUNSMERE_COMMAND, args);
    }
    CommandResult Bake(const std::vector<std::string>& args) const
    {
        std::vector<std::string> all{"--config-dir", scratch / "config", "--size", "50x50", "-o", scratch / "map.png"};
        all.insert(all.end(), args.begin(), args.end());
        return RunProgram(DUNSMERE_COMMAND, all);
    }

    ScratchDir scratch;
    std::string doubled;
};

TEST_F(Info, JsonAgreesWithTheMeshAsRead)
{
    const CommandResult r = Run({"--json", kCrate});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json all = nlohmann::json::parse(r.out);
    ASSERT_EQ(all.size(), 1u);
    const nlohmann::json& crate = all[0];
    const MeshFile file = ReadMeshFile(kCrate);
    EXPECT_EQ(crate["file"], kCrate);
    EXPECT_EQ(crate["faces"], file.mesh.getNumFaces());
    EXPECT_EQ(crate["vertices"], file.mesh.getNumVerts());
    // The crate's corners span the cube -1..1, the planks standing a little proud of it.
    EXPECT_GT(crate["diagonal"].get<double>(), 2.0 * std::sqrt(3.0));
    EXPECT_LT(crate["diagonal"].get<double>(), 2.5 * std::sqrt(3.0));
    ASSERT_EQ(crate["channels"].size(), 1u);
    const nlohmann::json& channel = crate["channels"][0];
    EXPECT_EQ(channel["channel"], 1);
    EXPECT_GT(channel["coverage"].get<double>(), 0.0);
    EXPECT_LT(channel["coverage"].get<double>(), 1.0);
    EXPECT_EQ(channel["facesOutOfRange"], 0);
    EXPECT_EQ(channel["overlapShare"], 0.0);  // a tile per face
    ASSERT_EQ(crate["materials"].size(), 2u);
    EXPECT_EQ(crate["materials"][0]["id"], 1);
    EXPECT_EQ(crate["materials"][0]["name"], "body");
    EXPECT_EQ(crate["materials"][1]["id"], 2);
    EXPECT_EQ(crate["materials"][1]["name"], "planks");
    EXPECT_EQ(crate["materials"][0]["faces"].get<int>() + crate["materials"][1]["faces"].get<int>(),
              file.mesh.getNumFaces());
    EXPECT_EQ(crate["smoothingGroups"]["facesWithout"], 0);
    EXPECT_FALSE(crate["smoothingGroups"]["used"].empty());
}

TEST_F(Info, KnownLayoutGivesItsFigures)
{
    const CommandResult r = Run({"--json", doubled});
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json mesh = nlohmann::json::parse(r.out).at(0);
    EXPECT_EQ(mesh["faces"], 5);
    EXPECT_EQ(mesh["vertices"], 4);
    EXPECT_EQ(static_cast<float>(mesh["diagonal"].get<double>()), std::sqrt(2.0f));
    const nlohmann::json& channel = mesh["channels"].at(0);
    EXPECT_EQ(channel["coverage"], 1.0);
    EXPECT_EQ(channel["facesOutOfRange"], 1);
    // Every texel centre but those on the diagonal, which lie on edges, is
    // strictly inside a face and its mirror.
    const double side = kInfoMapWidth;
    EXPECT_DOUBLE_EQ(channel["overlapShare"].get<double>(), (side * side - side) / (side * side));
    EXPECT_EQ(mesh["materials"], nlohmann::json::parse(R"([{"id": 1, "name": "skin", "faces": 2},
                                                           {"id": 2, "name": "cloth", "faces": 3}])"));
    EXPECT_EQ(mesh["smoothingGroups"], nlohmann::json::parse(R"({"used": [2], "facesWithout": 3})"));
}

TEST_F(Info, TextShowsTheSameFacts)
{
    const CommandResult r = Run({doubled});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, doubled + "\n"
                     "  faces           5\n"
                     "  vertices        4\n"
                     "  diagonal        1.4142135\n"
                     "  map channel 1   coverage 100.00%, 1 face out of range, 99.50% covered twice (5 faces) at 200x200\n"
                     "  material 1      skin: 2 faces\n"
                     "  material 2      cloth: 3 faces\n"
                     "  smoothing       bits 2, 3 faces without a group\n");
    EXPECT_EQ(r.err, "");
}

TEST_F(Info, MaterialIdsAndFacesOutOfRangeAreThoseABakeUses)
{
    // The bake says how many faces it leaves out: those of other IDs, then
    // those whose corners leave the square.
    const CommandResult skin = Bake({doubled, "--material-filter", "--material-id", "1"});
    EXPECT_NE(skin.err.find("3 of 5 faces will not be baked"), std::string::npos) << skin.err;
    const CommandResult all = Bake({doubled, "--no-material-filter"});
    EXPECT_NE(all.err.find("1 of 5 faces will not be baked"), std::string::npos) << all.err;
}

TEST_F(Info, ABakeWarnsOfTheOverlapInfoMeasures)
{
    // At the default map size the warning gives info's figure; all five faces
    // overlap another.
    const CommandResult info = Run({"--json", doubled});
    ASSERT_EQ(info.status, 0) << info.err;
    const double share = nlohmann::json::parse(info.out)[0]["channels"][0]["overlapShare"];
    const std::string twice = CoveredTwice(5, share);
    std::vector<std::string> args{"--config-dir", scratch / "config", "-o", scratch / "map.png", doubled};
    const CommandResult bake = RunProgram(DUNSMERE_COMMAND, args);
    EXPECT_NE(bake.err.find("warning: " + doubled + ": map channel 1: " + twice + " at 200x200\n"), std::string::npos)
        << bake.err;
    args.push_back("-q");
    EXPECT_EQ(RunProgram(DUNSMERE_COMMAND, args).err.find("covered twice"), std::string::npos);
    // Faces that only share edges overlap nowhere.
    EXPECT_EQ(Bake({kCrate}).err.find("covered twice"), std::string::npos);
}

TEST_F(Info, OverlapIsMeasuredAtThePanelsDefaultMapSize)
{
    const CommandResult shown =
        RunProgram(DUNSMERE_COMMAND, {"--config-dir", scratch / "config", "--defaults", "--show-settings"});
    ASSERT_EQ(shown.status, 0) << shown.err;
    const auto value = [&](const std::string& control) {
        const size_t at = shown.out.find("  " + control + " ");
        EXPECT_NE(at, std::string::npos) << control;
        return at == std::string::npos ? -1 : std::stoi(shown.out.substr(at + 2 + control.size()));
    };
    EXPECT_EQ(value("Map Size: X"), kInfoMapWidth);
    EXPECT_EQ(value("Map Size: Y"), kInfoMapHeight);
}

TEST_F(Info, AFailedReadIsNamedAndTheOthersStillReported)
{
    const std::string missing = scratch / "missing.obj";
    const std::string broken = scratch / "broken.obj";
    std::ofstream(broken) << "v 0 0 0\nf 1 2 3\n";
    const CommandResult text = Run({kCrate, missing, doubled});
    EXPECT_EQ(text.status, 2);
    EXPECT_EQ(text.err.rfind("dunsmere: " + missing + ": ", 0), 0u) << text.err;
    EXPECT_NE(text.out.find(kCrate + "\n"), std::string::npos);
    EXPECT_NE(text.out.find(doubled + "\n"), std::string::npos);

    const CommandResult json = Run({"--json", broken, kCrate, missing, doubled});
    EXPECT_EQ(json.status, 2);
    EXPECT_NE(json.err.find("dunsmere: " + broken + ":"), std::string::npos) << json.err;
    EXPECT_NE(json.err.find("dunsmere: " + missing + ":"), std::string::npos) << json.err;
    // Every file given has its object, in order; an unreadable one its error.
    const nlohmann::json all = nlohmann::json::parse(json.out);
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0]["file"], broken);
    EXPECT_EQ(all[0]["error"].get<std::string>().rfind(broken + ":", 0), 0u) << all[0];
    EXPECT_EQ(all[1]["file"], kCrate);
    EXPECT_FALSE(all[1].contains("error"));
    EXPECT_EQ(all[2]["file"], missing);
    EXPECT_EQ(all[3]["file"], doubled);
}

TEST_F(Info, CommandLine)
{
    const CommandResult help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--json"), std::string::npos);
    EXPECT_EQ(Run({}).status, 2);
    EXPECT_EQ(Run({"--import-limits", "0.5", kCrate}).status, 2);
    EXPECT_EQ(Run({"--no-such-option", kCrate}).status, 2);
    EXPECT_EQ(Run({"--import-limits", "2", "-q", kCrate}).status, 0);
}

}  // namespace
