// What the command never overwrites, and how its line reads: targets that
// are not regular files or that the run reads are refused before the bake
// and survive untouched; repeated options, patterns, shared options before
// "info", and a full stdout.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "command_runner.h"
#include "file_bytes.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;

const std::string kCrate = std::string(DUNSMERE_EXAMPLES) + "/crate.obj";

class Guards : public ::testing::Test {
protected:
    CommandResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--config-dir", scratch / "config", "--size", "50x50", "--horizontal", "2"});
        return RunProgram(DUNSMERE_COMMAND, args);
    }
    std::string At(const std::string& name) const { return scratch / name; }
    ScratchDir scratch;
};

std::string Kind(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return "missing";
    if (S_ISFIFO(st.st_mode)) return "fifo";
    if (S_ISCHR(st.st_mode)) return "device";
    if (S_ISDIR(st.st_mode)) return "folder";
    return "file:" + ReadAll(path);
}

TEST_F(Guards, TargetsThatAreNotOutputsSurviveUntouched)
{
    const std::string mesh = At("crate.obj"), occluder = At("occluder.obj"), fifo = At("pipe.png");
    fs::copy_file(kCrate, mesh);
    fs::copy_file(kCrate, occluder);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(fifo, At("to-pipe.png"));
    fs::create_directory(At("folder.ini"));
    // A device of our own, where the test may make one (root): written
    // through, a rename would replace it by a plain file.
    const bool device = ::mknod(At("null.png").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;
    const std::string kept = At("kept.png");
    std::ofstream(kept) << "an earlier map";

    const struct {
        std::vector<std::string> args;
        std::string survivor, why;
    } cases[] = {
        {{mesh, "-o", fifo}, fifo, "a FIFO"},
        {{mesh, "-o", At("to-pipe.png")}, fifo, "a FIFO"},
        {{mesh, "-o", At("null.png")}, At("null.png"), "a device"},
        {{mesh, "--algorithm", "vertex-colors", "--occluder", occluder, "-o", occluder}, occluder, "occluder file"},
        {{mesh, "--write-preset", mesh, "-o", At("a.png")}, mesh, "input file"},
        {{mesh, "--occluder", occluder, "--write-preset", occluder, "-o", At("a.png")}, occluder, "occluder file"},
        {{mesh, "--write-preset", kept, "-o", kept}, kept, "the output"},
        {{mesh, mesh, "--write-preset", At("crate-2.png"), "-o", At("{stem}-{index}.png")}, At("crate-1.png"),
         "the output"},
        {{mesh, "--write-preset", At("folder.ini"), "-o", At("a.png")}, At("folder.ini"), "a folder"},
        {{mesh, "--write-preset", fifo, "-o", At("a.png")}, fifo, "a FIFO"},
        {{mesh, "--write-preset", At("missing/p.ini"), "-o", At("a.png")}, At("a.png"), "does not exist"},
        {{mesh, "-o", "-"}, At("-"), "standard output"},
    };
    for (const auto& c : cases) {
        if (!device && c.survivor == At("null.png")) continue;
        const std::string before = Kind(c.survivor);
        const CommandResult r = Run(c.args);
        const std::string line = c.args.back() + " / " + c.why;
        EXPECT_EQ(r.status, 2) << line << "\n" << r.err;
        EXPECT_NE(r.err.find(c.why), std::string::npos) << line << "\n" << r.err;
        EXPECT_EQ(r.err.find("wrote"), std::string::npos) << line << "\n" << r.err;
        EXPECT_EQ(Kind(c.survivor), before) << line;
        EXPECT_FALSE(fs::exists(At("a.png"))) << line;
    }
    EXPECT_EQ(Kind(mesh), "file:" + ReadAll(kCrate));
}

TEST_F(Guards, TheLineReadsAsScriptsExpect)
{
    // A pattern makes its folders; a plain path into a missing one is a typo.
    EXPECT_EQ(Run({kCrate, "-o", At("typo/crate.png")}).status, 2);
    EXPECT_FALSE(fs::exists(At("typo")));
    EXPECT_EQ(Run({kCrate, "-o", At("maps/deep/{stem}.png")}).status, 0);
    EXPECT_TRUE(fs::is_regular_file(At("maps/deep/crate.png")));

    // The last of a repeated option wins.
    const CommandResult shown = Run({"--horizontal", "3", "--show-settings", "--horizontal", "5"});
    EXPECT_EQ(shown.status, 0) << shown.err;
    EXPECT_NE(shown.out.find("Ray Spread: Horizontal             5"), std::string::npos) << shown.out;

    // A misspelt placeholder never becomes part of a name; {{ is a brace.
    const CommandResult typo = Run({kCrate, "-o", At("{stme}.png")});
    EXPECT_EQ(typo.status, 2);
    EXPECT_NE(typo.err.find("no placeholder {stme}; the placeholders are {stem}, {name}"), std::string::npos) << typo.err;
    EXPECT_EQ(Run({kCrate, "-o", At("{{{stem}}.png")}).status, 0);
    EXPECT_TRUE(fs::exists(At("{crate}.png")));

    // The shared options may stand before "info".
    const CommandResult info = RunProgram(DUNSMERE_COMMAND, {"-q", "--config-dir", At("c"), "info", "--json", kCrate});
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_EQ(nlohmann::json::parse(info.out).at(0).at("file"), kCrate);

    // The per-triangle trace only at the second debug level.
    const CommandResult debug = Run({kCrate, "-o", At("d.png"), "--debug"});
    const CommandResult more = Run({kCrate, "-o", At("d.png"), "--debug=2"});
    EXPECT_EQ(debug.err.find("TRIANGLE "), std::string::npos);
    EXPECT_NE(more.err.find("\nTRIANGLE "), std::string::npos);

    // A failed mesh's report says why.
    std::ofstream(At("broken.obj")) << "f 1 2 3\n";
    const CommandResult batch = Run({At("broken.obj"), kCrate, "-o", At("{stem}.png"), "--json", "-q"});
    const nlohmann::json reports = nlohmann::json::parse(batch.out);
    EXPECT_NE(reports.at(0).at("error").get<std::string>().find(At("broken.obj")), std::string::npos) << reports;
    EXPECT_TRUE(reports.at(1).at("error").is_null());
}

TEST_F(Guards, AFullStdoutFailsAfterTheOutputsAreInPlace)
{
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const std::string command = DUNSMERE_COMMAND;
    for (const std::string& line : {" " + kCrate + " -q --json --size 50x50 -o " + At("full.png"), " info " + kCrate,
                                     std::string(" --help"), " --show-settings --config-dir " + At("config")}) {
        const CommandResult r = RunProgram("/bin/sh", {"-c", command + line + " >/dev/full"});
        EXPECT_EQ(r.status, 1) << line << "\n" << r.err;
        EXPECT_NE(r.err.find("standard output"), std::string::npos) << line << "\n" << r.err;
    }
    EXPECT_TRUE(fs::is_regular_file(At("full.png")));
}

}  // namespace
