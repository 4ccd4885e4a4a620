// The dunsmere command end to end: real files in, real files out, exit
// statuses as a pipeline sees them.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/image/image_files.h"
#include "app/mesh/mesh_files.h"
#include "command_runner.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;

// A floor and a wall meeting in a crease, n x n quads each, with UVs (floor
// on the left half of the map, wall on the right), smoothing groups 1 and 2
// and two materials.
std::string CreaseObj(int n)
{
    std::ostringstream s;
    s << "# crease\nmtllib crease.mtl\n";
    const int side = n + 1;
    for (int wall = 0; wall < 2; ++wall)
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i) {
                const float a = 10.0f * static_cast<float>(i) / static_cast<float>(n);
                const float b = 10.0f * static_cast<float>(j) / static_cast<float>(n);
                if (wall) s << "v 0 " << a << " " << b << "\n";
                else s << "v " << a << " " << b << " 0\n";
                s << "vt " << (0.5f * static_cast<float>(i) / static_cast<float>(n) + 0.5f * static_cast<float>(wall))
                  << " " << static_cast<float>(j) / static_cast<float>(n) << "\n";
            }
    for (int wall = 0; wall < 2; ++wall) {
        s << (wall ? "g wall\nusemtl brick\ns 2\n" : "g floor\nusemtl stone\ns 1\n");
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const int base = wall * side * side + 1;
                const int a = base + j * side + i, b = a + 1, c = a + side + 1, d = a + side;
                s << "f " << a << "/" << a << " " << b << "/" << b << " " << c << "/" << c << " " << d << "/" << d << "\n";
            }
    }
    return s.str();
}

class Command : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = scratch.path();
        config = (dir / "config").string();
        mesh = (dir / "crease.obj").string();
        std::ofstream(mesh) << CreaseObj(6);
    }

    CommandResult Run(std::vector<std::string> args,
                      const std::function<void(pid_t, const std::string&)>& onErrLine = {})
    {
        args.insert(args.begin(), {"--config-dir", config});
        return RunProgram(DUNSMERE_COMMAND, args, onErrLine);
    }
    std::string Settings() const
    {
        std::ifstream in(fs::path(config) / "Dunsmere.ini");
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    ScratchDir scratch;
    fs::path dir;
    std::string config, mesh;
};

TEST_F(Command, HelpVersionAndUsageErrors)
{
    const CommandResult help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Examples"), std::string::npos);
    EXPECT_EQ(Run({"--version"}).status, 0);

    const CommandResult noOutput = Run({mesh});
    EXPECT_EQ(noOutput.status, 2);
    EXPECT_NE(noOutput.err.find("--output"), std::string::npos);

    const CommandResult range = Run({mesh, "-o", (dir / "m.png").string(), "--distance", "0"});
    EXPECT_EQ(range.status, 2);
    EXPECT_NE(range.err.find("--distance wants a finite number above 0"), std::string::npos);

    for (const char* threads : {"0", "257", "2x", "-1", "", "some"}) {
        const CommandResult count = Run({mesh, "-o", (dir / "m.png").string(), "--threads", threads});
        EXPECT_EQ(count.status, 2) << threads;
        EXPECT_NE(count.err.find("--threads"), std::string::npos) << threads;
    }
    EXPECT_FALSE(fs::exists(dir / "m.png"));

    const CommandResult missing = Run({(dir / "nowhere.obj").string(), "-o", (dir / "m.png").string()});
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("nowhere.obj"), std::string::npos);

    std::ofstream((dir / "bad.obj").string()) << "v 0 0 0\nv 1 0 0\nv 0 1 zero\nf 1 2 3\n";
    const CommandResult bad = Run({(dir / "bad.obj").string(), "-o", (dir / "m.png").string()});
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bad.obj:3"), std::string::npos);

    const CommandResult ext = Run({mesh, "--algorithm", "uv-map", "-o", (dir / "m.bmpx").string()});
    EXPECT_EQ(ext.status, 2);
    EXPECT_NE(ext.err.find(".png"), std::string::npos);

    fs::create_directories(dir / "empty");
    const CommandResult noPlugin = Run({"--plugins", (dir / "empty").string(), mesh, "-o", (dir / "m.png").string()});
    EXPECT_EQ(noPlugin.status, 2);
    EXPECT_NE(noPlugin.err.find("Dunsmere"), std::string::npos);
}

TEST_F(Command, HelpNeedsNoPlugin)
{
    fs::create_directories(dir / "none");
    const CommandResult without = Run({"--plugins", (dir / "none").string(), "--help"});
    EXPECT_EQ(without.status, 0) << without.err;
    EXPECT_EQ(without.out, Run({"--help"}).out);
}

TEST_F(Command, BakesAMapAndSavesTheSettings)
{
    const std::string out = (dir / "map.png").string();
    const CommandResult r = Run({mesh, "--defaults", "--algorithm", "uv-map", "--size", "64x64", "--horizontal", "6",
                                 "--distance", "12.5", "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("elapsed time ="), std::string::npos);
    RgbaImage16 image;
    ASSERT_TRUE(ReadImageFile16(out, image)) << out;
    EXPECT_EQ(image.width, 64);
    EXPECT_EQ(image.height, 64);
    int dark = 0;
    for (const BMM_Color_64& p : image.pixels) {
        EXPECT_EQ(p.r, p.g);
        EXPECT_EQ(p.a, 65535);
        if (p.r > 0) ++dark;
    }
    EXPECT_GT(dark, 0);  // the crease is enclosed
    const std::string ini = Settings();
    EXPECT_NE(ini.find("XSiz=64\n"), std::string::npos) << ini;
    EXPECT_NE(ini.find("horizontalSpread=6\n"), std::string::npos);
    EXPECT_NE(ini.find("dist=12.500000\n"), std::string::npos);

    // The next run starts from what this one saved, when asked to.
    const CommandResult shown = Run({"--last", "--show-settings"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_NE(shown.out.find("12.5"), std::string::npos) << shown.out;
}

TEST_F(Command, WarnsOfFacesAMapRunLeavesOut)
{
    // 144 faces: 20 selected, of which the ten on the floor (material 1)
    // are filtered too; everything else is not selected.
    const CommandResult r = Run({mesh, "--algorithm", "uv-map", "--size", "50x50", "--material-filter",
                                 "--material-id", "2", "--select-faces", "0-9,100-109", "--selected-only", "-o",
                                 (dir / "f.png").string()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Dunsmere: 134 of 144 faces will not be baked (124 not selected, 10 other material IDs)"),
              std::string::npos)
        << r.err;
    // With every face left out the map would be black: the run is refused
    // with the same counts and reasons.
    const CommandResult all = Run({mesh, "--algorithm", "uv-map", "--size", "50x50", "--material-filter",
                                   "--material-id", "2", "--select-faces", "0-9", "--selected-only", "-o",
                                   (dir / "g.png").string(), "--quiet"});
    EXPECT_EQ(all.status, 2);
    EXPECT_NE(all.err.find("all 144 faces would be left out of the map (134 not selected, 10 other material IDs)"),
              std::string::npos)
        << all.err;
    const CommandResult channel = Run({mesh, "--no-selected-only", "--no-material-filter", "--map-channel", "3",
                                       "-o", (dir / "g.png").string(), "--quiet"});
    EXPECT_EQ(channel.status, 2);
    EXPECT_NE(channel.err.find("map channel 3 has no coordinates"), std::string::npos) << channel.err;
    EXPECT_FALSE(fs::exists(dir / "g.png"));
}

TEST_F(Command, BakesVertexColoursIntoAMeshThatReadsBack)
{
    const std::string out = (dir / "dirty.obj").string();
    const CommandResult r = Run({mesh, "--algorithm", "vertex-colors", "-o", out});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Smurl calculation complete"), std::string::npos);
    const MeshFile back = ReadMeshFile(out);
    const MeshFile original = ReadMeshFile(mesh);
    ASSERT_EQ(back.mesh.getNumVerts(), original.mesh.getNumVerts());
    ASSERT_EQ(back.mesh.getNumFaces(), original.mesh.getNumFaces());
    EXPECT_TRUE(back.hadColors);
    int grey = 0;
    for (int i = 0; i < back.mesh.getNumVertCol(); ++i) {
        const Point3 c = back.mesh.vertCol()[i];
        EXPECT_EQ(c.x, c.y);
        if (c.x < 1.0f) ++grey;
    }
    EXPECT_GT(grey, 0);
}

TEST_F(Command, TimingsLineOnlyWhenAskedWithThePhasesEachRunHas)
{
    const std::string map = (dir / "map.png").string();
    // Large enough for the steps around the workers to be lent threads.
    const std::vector<std::string> bake{mesh, "--defaults", "--size", "200x200", "-o", map, "--quiet"};
    const CommandResult plain = Run(bake);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(plain.err.find("timings"), std::string::npos) << plain.err;

    std::vector<std::string> timed = bake;
    timed.push_back("--timings");
    const CommandResult r = Run(timed);
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t at = r.err.find("dunsmere: timings: plugin ");
    ASSERT_NE(at, std::string::npos) << r.err;
    const std::string line = r.err.substr(at, r.err.find('\n', at) + 1 - at);
    // The last lines: the timings, then the process's peak memory.
    const std::string after = r.err.substr(at + line.size());
    EXPECT_EQ(after.rfind("dunsmere: peak memory: ", 0), 0u) << r.err;
    EXPECT_EQ(after.find('\n'), after.size() - 1) << "not the last lines: " << r.err;
    size_t previous = 0;
    for (const char* phase : {"plugin ", ", load ", ", panel ", ", build ", ", rasterize ", ", rays ", ", passes ",
                              ", write ", ", close "}) {
        const size_t found = line.find(phase);
        ASSERT_NE(found, std::string::npos) << phase << " missing: " << line;
        EXPECT_GT(found, previous) << phase << " out of order: " << line;
        previous = found;
    }

    // Vertex colours rasterize nothing: the phase is left out, not shown as 0.
    const CommandResult vc = Run({mesh, "--algorithm", "vertex-colors", "-o", (dir / "vc.obj").string(), "--quiet",
                                  "--timings"});
    ASSERT_EQ(vc.status, 0) << vc.err;
    EXPECT_NE(vc.err.find(", build "), std::string::npos) << vc.err;
    EXPECT_NE(vc.err.find(", rays "), std::string::npos) << vc.err;
    EXPECT_NE(vc.err.find(", write "), std::string::npos) << vc.err;
    EXPECT_EQ(vc.err.find("rasterize"), std::string::npos) << vc.err;
}

TEST_F(Command, UnsavableSettingsAreNamedWithDebugAndChangeNothing)
{
    std::ofstream((dir / "blocker").string()) << "a file where a directory should be\n";
    const std::string unusable = (dir / "blocker" / "config").string();
    const std::vector<std::string> bake{"--config-dir", unusable, mesh, "--size", "50x50", "-o",
                                        (dir / "d.png").string(), "--quiet"};
    std::vector<std::string> args = bake;
    const CommandResult quiet = RunProgram(DUNSMERE_COMMAND, args);
    EXPECT_EQ(quiet.status, 0) << quiet.err;
    EXPECT_EQ(quiet.err.find("not saved"), std::string::npos);
    args.push_back("--debug");
    const CommandResult debug = RunProgram(DUNSMERE_COMMAND, args);
    EXPECT_EQ(debug.status, 0) << debug.err;
    EXPECT_NE(debug.err.find("settings not saved to " + unusable), std::string::npos) << debug.err;
}

TEST_F(Command, SkipsALibraryForAnotherHostVersion)
{
    const fs::path plugins = dir / "plugins";
    fs::create_directories(plugins);
    fs::copy_file(OLD_PLUGIN, plugins / "Aardvark.dlu");  // sorts before the real one
    fs::copy_file(REAL_PLUGIN, plugins / "Dunsmere.dlu");
    const CommandResult r = Run({"--plugins", plugins.string(), "--show-settings"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Aardvark.dlu"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("0x10600800"), std::string::npos);
    EXPECT_NE(r.out.find("UV Map"), std::string::npos);
}

TEST_F(Command, RefusalsAndNotImplementedExitWithOne)
{
    // One input is one node: --select names it, by name or index, and
    // takes exactly one value, so the mesh after it stays an input.
    const std::string second = (dir / "second.obj").string();
    fs::copy_file(mesh, second);
    const CommandResult byIndex =
        Run({"--select", "0", second, "--algorithm", "vertex-colors", "-o", (dir / "v.ply").string(), "--quiet"});
    EXPECT_EQ(byIndex.status, 0) << byIndex.err;
    const CommandResult byName = Run({"--select", "second", second, "--algorithm", "uv-map", "--size", "50x50", "-o",
                                      (dir / "m.png").string(), "--quiet"});
    EXPECT_EQ(byName.status, 0) << byName.err;
    EXPECT_EQ(Run({second, "--select", "crate", "-o", (dir / "n.png").string(), "-q"}).status, 2);

    const CommandResult spatial = Run({mesh, "--algorithm", "spatial", "-o", (dir / "s.png").string()});
    EXPECT_EQ(spatial.status, 1);
    EXPECT_NE(spatial.err.find("This Smurl type is not implemented yet"), std::string::npos);
}

TEST_F(Command, ShowSettingsAndNoSaveLeaveTheFileAlone)
{
    EXPECT_EQ(Run({"--show-settings"}).status, 0);
    EXPECT_FALSE(fs::exists(fs::path(config) / "Dunsmere.ini"));
    ASSERT_EQ(Run({mesh, "--size", "50x50", "-o", (dir / "a.png").string(), "--quiet"}).status, 0);
    const std::string before = Settings();
    ASSERT_EQ(Run({mesh, "--size", "60x60", "--no-save-settings", "-o", (dir / "b.png").string(), "--quiet"}).status, 0);
    EXPECT_EQ(Settings(), before);
    const CommandResult about = Run({"--about"});
    EXPECT_EQ(about.status, 0);
    EXPECT_NE(about.out.find("About Dunsmere"), std::string::npos);
}

// Cancels once the first progress line is out, so the test does not depend
// on how fast the machine is.
TEST_F(Command, CtrlCCancelsAndSavesNothingUnlessAsked)
{
    const std::string out = (dir / "cancel.png").string();
    bool sent = false;
    auto cancelAtFirstProgress = [&](int sig) {
        return [&sent, sig](pid_t pid, const std::string& line) {
            if (!sent && line.find("Building Smurl Map") != std::string::npos) {
                sent = true;
                kill(pid, sig);
            }
        };
    };
    const std::vector<std::string> slow{mesh, "--algorithm", "uv-map", "--size", "1024x1024", "--horizontal", "24",
                                        "--vertical", "10", "-o", out};
    std::vector<std::string> args = slow;
    CommandResult r = Run(args, cancelAtFirstProgress(SIGINT));
    EXPECT_TRUE(sent);
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_EQ(r.signal, SIGINT) << "a cancel ends by its signal, so that a shell loop stops";
    EXPECT_NE(r.err.find("Save Partial Bitmap?"), std::string::npos);
    EXPECT_FALSE(fs::exists(out));

    sent = false;
    args.push_back("--save-partial");
    args.push_back("yes");
    r = Run(args, cancelAtFirstProgress(SIGTERM));
    EXPECT_EQ(r.status, 143) << r.err;
    EXPECT_EQ(r.signal, SIGTERM);
    EXPECT_TRUE(fs::exists(out));
    for (const auto& entry : fs::directory_iterator(dir))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();
}

}  // namespace
