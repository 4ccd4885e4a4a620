// Several mesh files in one command: each baked on its own as a single run
// of it would be, outputs named by a pattern, refusals before any bake, the
// worst status, a cancel that ends the batch, and the JSON report.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "command_runner.h"
#include "scratch_dir.h"
#include "file_bytes.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;

const std::string kCrate = std::string(DUNSMERE_EXAMPLES) + "/crate.obj";

// The crate with every position times FACTOR, a power of two, so that the
// positions stay exact.
void WriteScaledCrate(const std::string& path, float factor)
{
    std::ifstream in(kCrate);
    std::ofstream out(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("v ", 0) != 0) {
            out << line << "\n";
            continue;
        }
        std::istringstream v(line.substr(2));
        std::string x, y, z;
        v >> x >> y >> z;
        auto scaled = [factor](const std::string& t) { return static_cast<double>(std::strtof(t.c_str(), nullptr) * factor); };
        char text[96];
        std::snprintf(text, sizeof text, "v %.9g %.9g %.9g\n", scaled(x), scaled(y), scaled(z));
        out << text;
    }
}

class Batch : public ::testing::Test {
protected:
    CommandResult Run(std::vector<std::string> args,
                      const std::function<void(pid_t, const std::string&)>& onErrLine = {})
    {
        args.insert(args.begin(), {"--config-dir", scratch / "config", "--size", "50x50", "--horizontal", "4"});
        return RunProgram(DUNSMERE_COMMAND, args, onErrLine);
    }
    ScratchDir scratch;
};

TEST_F(Batch, EachInputBakesAsItsOwnRunWould)
{
    // Two copies in one place would shade each other if they shared a scene;
    // the second is named through every placeholder.
    const std::string a = scratch / "a.obj", b = scratch / "b.obj";
    fs::copy_file(kCrate, a);
    fs::copy_file(kCrate, b);
    ASSERT_EQ(Run({kCrate, "-o", scratch / "alone.png", "-q"}).status, 0);
    const CommandResult batch =
        Run({a, b, "-o", scratch / "{stem}-{name}-{ext}-{channel}-{index}.png", "--map-channel", "1"});
    ASSERT_EQ(batch.status, 0) << batch.err;
    EXPECT_EQ(ReadAll(scratch / "a-a-obj-1-1.png"), ReadAll(scratch / "alone.png"));
    EXPECT_EQ(ReadAll(scratch / "b-b-obj-1-2.png"), ReadAll(scratch / "alone.png"));
    EXPECT_NE(batch.err.find("wrote " + scratch / "b-b-obj-1-2.png"), std::string::npos) << batch.err;
    // The output is a fact of the run: the settings keep none.
    EXPECT_EQ(ReadAll(scratch / "config/Dunsmere.ini").find("output="), std::string::npos);
}

TEST_F(Batch, RelativeDistanceAndScaleAreEachMeshsOwn)
{
    // 2^16 times the crate: its relative distance lies past the panel's
    // range, so it alone is baked scaled, and its map is the crate's.
    const std::string big = scratch / "big.obj";
    WriteScaledCrate(big, 65536.0f);
    const std::vector<std::string> relative{"--distance-relative", "2.5", "--no-save-settings", "-q"};
    std::vector<std::string> both{kCrate, big, "-o", scratch / "{stem}.png"};
    both.insert(both.end(), relative.begin(), relative.end());
    ASSERT_EQ(Run(both).status, 0);
    EXPECT_FALSE(ReadAll(scratch / "crate.png").empty());
    EXPECT_EQ(ReadAll(scratch / "big.png"), ReadAll(scratch / "crate.png"));

    // With noise, the big run also scales the noise size and saves it so:
    // the crate after it starts from the batch's settings, not from those.
    std::vector<std::string> alone{kCrate, "--noise", "-o", scratch / "alone.png"},
        after{big, kCrate, "--noise", "-o", scratch / "{stem}-noise.png"};
    alone.insert(alone.end(), relative.begin(), relative.end());
    after.insert(after.end(), relative.begin(), relative.end());
    ASSERT_EQ(Run(alone).status, 0);
    ASSERT_EQ(Run(after).status, 0);
    EXPECT_EQ(ReadAll(scratch / "crate-noise.png"), ReadAll(scratch / "alone.png"));
}

TEST_F(Batch, RefusedBeforeAnyBake)
{
    const std::string a = scratch / "a.obj";
    fs::copy_file(kCrate, a);
    fs::copy_file(kCrate, scratch / "1.obj");
    const CommandResult one = Run({kCrate, a, "-o", scratch / "one.png"});
    EXPECT_EQ(one.status, 2);
    EXPECT_NE(one.err.find("names one file for 2 inputs"), std::string::npos) << one.err;
    // Two spellings of one output.
    const CommandResult same = Run({kCrate, scratch / "sub/../crate.obj", "-o", scratch / "{stem}.png"});
    EXPECT_EQ(same.status, 2);
    EXPECT_NE(same.err.find("would both be written to"), std::string::npos) << same.err;
    // The first output is the second input, which it would overwrite unread.
    const CommandResult over = Run({kCrate, scratch / "1.obj", "--algorithm", "vertex-colors", "-o",
                                    scratch / "{index}.obj"});
    EXPECT_EQ(over.status, 2);
    EXPECT_NE(over.err.find("it is the input file"), std::string::npos) << over.err;
    const CommandResult select = Run({kCrate, a, "--select", "crate", "-o", scratch / "{stem}.png"});
    EXPECT_EQ(select.status, 2);
    EXPECT_NE(select.err.find("--select"), std::string::npos);
    for (const std::string& left : scratch.Entries())
        EXPECT_TRUE(left == "a.obj" || left == "1.obj") << left;
}

TEST_F(Batch, AFailedMeshLeavesTheOthersAndTheWorstStatusWins)
{
    const std::string bad = scratch / "bad.obj", none = scratch / "none.obj";
    { std::ofstream(bad) << "v 0 0 0\nf 1 2 3\n"; }
    WriteScaledCrate(none, 1.0f);
    const CommandResult r = Run({kCrate, bad, none, "-o", scratch / "{stem}.png", "--material-filter",
                                 "--material-id", "1", "--json"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(bad + ":2: "), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(scratch / "crate.png"));
    EXPECT_TRUE(fs::exists(scratch / "none.png"));

    const nlohmann::json reports = nlohmann::json::parse(r.out);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports[1]["inputs"][0], bad);
    EXPECT_EQ(reports[1]["status"], 2);
    EXPECT_TRUE(reports[1]["outputs"].empty());
    EXPECT_TRUE(reports[1]["value"].is_null());
    const nlohmann::json& crate = reports[0];
    EXPECT_EQ(crate["status"], 0);
    EXPECT_EQ(crate["outputs"][0], scratch / "crate.png");
    EXPECT_EQ(crate["settings"]["XSiz"], 50);
    EXPECT_EQ(crate["settings"]["mtlIDOn"], 1);
    const nlohmann::json& faces = crate["faces"];
    EXPECT_GT(faces["baked"].get<int>(), 0);
    EXPECT_EQ(faces["baked"].get<int>() + faces["otherMaterial"].get<int>() + faces["notSelected"].get<int>() +
                  faces["outOfRange"].get<int>(),
              3072);
    EXPECT_LE(crate["value"]["min"].get<double>(), crate["value"]["mean"].get<double>());
    EXPECT_LE(crate["value"]["mean"].get<double>(), crate["value"]["max"].get<double>());
    EXPECT_GT(crate["value"]["max"].get<double>(), 0.0);
    EXPECT_GE(crate["seconds"]["bake"].get<double>(), 0.0);
}

TEST_F(Batch, ACancelEndsTheBatch)
{
    const std::string a = scratch / "a.obj";
    fs::copy_file(kCrate, a);
    bool sent = false;
    const CommandResult r = RunProgram(DUNSMERE_COMMAND,
                                       {kCrate, a, "--config-dir", scratch / "config", "--size", "1024x1024",
                                        "--horizontal", "24", "--vertical", "10", "-o", scratch / "{stem}.png",
                                        "--json"},
                                [&sent](pid_t pid, const std::string& line) {
                                    if (!sent && line.find("Building Smurl Map") != std::string::npos) {
                                        sent = true;
                                        kill(pid, SIGINT);
                                    }
                                });
    EXPECT_TRUE(sent);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_FALSE(fs::exists(scratch / "crate.png"));
    EXPECT_FALSE(fs::exists(scratch / "a.png"));
    const nlohmann::json reports = nlohmann::json::parse(r.out);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0]["status"], 130);
}

}  // namespace
