// The command as a pipeline runs it: every run from the defaults or a
// preset, never from what an earlier run left; quiet when asked; one line
// per message; progress by phase; signals that stop a shell loop.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
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

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The value --show-settings prints for a control, e.g. "Ray Spread: Horizontal".
std::string Shown(const std::string& out, const std::string& control)
{
    const size_t at = out.find("  " + control + " ");
    if (at == std::string::npos) return "?";
    const size_t value = out.find_first_not_of(' ', at + 2 + control.size());
    return out.substr(value, out.find_first_of(" \n", value) - value);
}

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name)
    {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value->c_str(), 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

class Pipeline : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(tmp);
        ini = config + "/Dunsmere.ini";
    }
    // The command with the test's configuration directory and temporary
    // directory, so that whatever a run leaves is seen.
    CommandResult Run(std::vector<std::string> args, const std::string& program = DUNSMERE_COMMAND)
    {
        const ScopedEnv tmpdir("TMPDIR", tmp);
        args.insert(args.begin(), {"--config-dir", config});
        return RunProgram(program, args);
    }
    CommandResult Map(const std::string& out, std::vector<std::string> more = {})
    {
        more.insert(more.begin(), {kCrate, "--size", "50x50", "--horizontal", "4", "-o", out});
        return Run(more);
    }
    std::vector<std::string> Left(const std::string& dir) const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
        return names;
    }

    ScratchDir scratch;
    const std::string config = scratch / "config", tmp = scratch / "tmp";
    std::string ini;
};

// The trap the command used to set: a leftover --selected-only made the
// next bake of any mesh come out black, with status 0.
TEST_F(Pipeline, NoRunInheritsWhatAnEarlierRunLeft)
{
    const std::string fresh = scratch / "fresh.png", after = scratch / "after.png";
    ASSERT_EQ(Map(fresh).status, 0);
    const std::string saved = ReadAll(ini);
    ASSERT_NE(saved.find("horizontalSpread=4\n"), std::string::npos) << saved;

    // Refused before "Generate": nothing goes back.
    EXPECT_EQ(Map(scratch / "m.bmpx", {"--selected-only", "--select-faces", "0-3"}).status, 2);
    EXPECT_EQ(ReadAll(ini), saved);
    // Baked: its settings go back, and still do not reach the next run.
    ASSERT_EQ(Map(scratch / "black.png", {"--selected-only", "--select-faces", "0-3", "--noise"}).status, 0);
    EXPECT_NE(ReadAll(ini).find("selectedOnly=1\n"), std::string::npos);
    ASSERT_EQ(Map(after).status, 0);
    EXPECT_EQ(ReadAll(after), ReadAll(fresh));
    EXPECT_NE(ReadAll(after), ReadAll(scratch / "black.png"));

    // --defaults is kept for old scripts and removes nothing.
    const std::string last = ReadAll(ini);
    ASSERT_EQ(Map(after, {"--defaults", "--no-save-settings"}).status, 0);
    EXPECT_EQ(ReadAll(ini), last);
    EXPECT_EQ(Left(tmp), std::vector<std::string>{}) << "a run's scratch directory outlives it";
}

TEST_F(Pipeline, LastStartsFromTheLastBakeAndOnlyItNeedsADirectory)
{
    ASSERT_EQ(Map(scratch / "a.png", {"--vertical", "3"}).status, 0);
    EXPECT_EQ(Shown(Run({"--last", "--show-settings"}).out, "Ray Spread: Vertical"), "3");
    EXPECT_EQ(Shown(Run({"--show-settings"}).out, "Ray Spread: Vertical"), "1");  // the load default

    // No --config-dir and no home: a bake goes on and says with --debug that
    // it kept nothing; --last has nothing to start from.
    const ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt), home("HOME", std::nullopt);
    const std::vector<std::string> bake{kCrate, "--size", "50x50", "-o", scratch / "b.png", "--debug"};
    const CommandResult homeless = RunProgram(DUNSMERE_COMMAND, bake);
    EXPECT_EQ(homeless.status, 0) << homeless.err;
    EXPECT_NE(homeless.err.find("no configuration directory; settings not saved"), std::string::npos) << homeless.err;
    const CommandResult last = RunProgram(DUNSMERE_COMMAND, {"--last", "--show-settings"});
    EXPECT_EQ(last.status, 2);
    EXPECT_NE(last.err.find("--last"), std::string::npos) << last.err;
}

TEST_F(Pipeline, APresetCarriesTheRunItCameFrom)
{
    const std::string first = scratch / "first.png", preset = scratch / "studio.ini";
    ASSERT_EQ(Map(first, {"--distance", "12.345678", "--noise", "--noise-size", "0.1", "--write-preset", preset})
                  .status,
              0);
    // Byte for byte the file the run saved, with the user's own values kept
    // exactly where the panel keeps six decimals.
    const std::string text = ReadAll(preset);
    EXPECT_EQ(text, ReadAll(ini));
    EXPECT_NE(text.find("dist=12.345678\nselectedOnly="), std::string::npos) << text;
    EXPECT_NE(text.find("noiseSize=0.100000\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[dunsmere-command]\ndistance=12.345678\nnoiseSize=0.1\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("output="), std::string::npos) << text;

    // Elsewhere, from the preset and the output alone, the same map; and an
    // option given beats the preset's value.
    fs::remove_all(config);
    const std::string again = scratch / "again.png";
    fs::rename(first, again);
    ASSERT_EQ(Run({kCrate, "--preset", preset, "-o", first}).status, 0);
    EXPECT_EQ(ReadAll(first), ReadAll(again));
    const CommandResult shown = Run({"--preset", preset, "--horizontal", "9", "--show-settings"});
    EXPECT_EQ(Shown(shown.out, "Ray Spread: Horizontal"), "9");
    EXPECT_EQ(Shown(shown.out, "Noise: Size"), "0.1");

    // A preset holds nothing the command line would refuse.
    std::string bad = text;
    bad.replace(bad.find("distance=12.345678"), 18, "distance=abc");
    std::ofstream(scratch / "bad.ini") << bad;
    const CommandResult refused = Run({kCrate, "--preset", scratch / "bad.ini", "-o", scratch / "x.png"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find(scratch / "bad.ini"), std::string::npos) << refused.err;
    EXPECT_FALSE(fs::exists(scratch / "x.png"));
    EXPECT_EQ(Run({kCrate, "--preset", scratch / "none.ini", "-o", scratch / "x.png"}).status, 2);
}

TEST_F(Pipeline, ShowSettingsLeavesNothingAnywhere)
{
    const ScopedEnv tmpdir("TMPDIR", tmp), xdg("XDG_CONFIG_HOME", scratch / "xdg");
    for (const std::vector<std::string>& args : {std::vector<std::string>{"--show-settings"},
                                                 std::vector<std::string>{"--show-settings", "--last"}}) {
        const CommandResult r = RunProgram(DUNSMERE_COMMAND, args);
        EXPECT_EQ(r.status, 0) << r.err;
    }
    EXPECT_FALSE(fs::exists(scratch / "xdg"));
    const CommandResult r = Run({"--show-settings"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(config));
    EXPECT_EQ(Left(tmp), std::vector<std::string>{});
}

TEST_F(Pipeline, QuietSaysOnlyWhatAFailingRunMustSay)
{
    // Clean, and with a warning (faces left out): not a word.
    const CommandResult clean = Map(scratch / "a.png", {"-q"});
    EXPECT_EQ(clean.status, 0);
    EXPECT_EQ(clean.err, "");
    const std::vector<std::string> some{"--selected-only", "--select-faces", "0-3"};
    std::vector<std::string> quiet = some;
    quiet.push_back("-q");
    const CommandResult warned = Map(scratch / "b.png", quiet);
    EXPECT_EQ(warned.status, 0);
    EXPECT_EQ(warned.err, "");
    EXPECT_NE(Map(scratch / "c.png", some).err.find("will not be baked"), std::string::npos);

    // A refusal and a usage error are still said.
    const CommandResult spatial = Run({kCrate, "--algorithm", "spatial", "-o", scratch / "d.png", "-q"});
    EXPECT_EQ(spatial.status, 1);
    EXPECT_EQ(spatial.err, "Dunsmere: This Smurl type is not implemented yet\n");
    EXPECT_NE(Run({kCrate, "-q"}).err.find("--output"), std::string::npos);
}

TEST_F(Pipeline, EachMessageOnceAndProgressByPhase)
{
    const CommandResult map = Map(scratch / "a.png");
    ASSERT_EQ(map.status, 0) << map.err;
    EXPECT_EQ(Count(map.err, "elapsed time"), 1u) << map.err;
    EXPECT_EQ(Count(map.err, " s)"), 0u) << map.err;

    // Rasterizing, then Baking, each going only forward; 100 % at the end.
    std::istringstream lines(map.err);
    std::vector<std::pair<std::string, int>> bar;
    for (std::string line; std::getline(lines, line);) {
        const std::string prefix = "Building Smurl Map: ";
        if (line.rfind(prefix, 0) != 0) continue;
        const size_t space = line.find(' ', prefix.size());
        bar.emplace_back(line.substr(prefix.size(), space - prefix.size()), std::stoi(line.substr(space)));
    }
    ASSERT_GE(bar.size(), 3u) << map.err;
    EXPECT_EQ(bar.front(), (std::pair<std::string, int>{"Rasterizing", 0}));
    EXPECT_EQ(bar.back(), (std::pair<std::string, int>{"Baking", 100}));
    for (size_t i = 1; i < bar.size(); ++i) {
        if (bar[i].first == bar[i - 1].first) EXPECT_GE(bar[i].second, bar[i - 1].second) << map.err;
        else EXPECT_EQ(bar[i], (std::pair<std::string, int>{"Baking", 0})) << map.err;
    }

    const CommandResult vc = Run({kCrate, "--algorithm", "vertex-colors", "-o", scratch / "v.ply"});
    ASSERT_EQ(vc.status, 0) << vc.err;
    EXPECT_EQ(Count(vc.err, "Rasterizing"), 0u) << vc.err;
    EXPECT_NE(vc.err.find("Building Vertex Smurl: Baking 100%"), std::string::npos) << vc.err;
    EXPECT_LT(vc.err.find("Baking 100%"), vc.err.find("Smurl calculation complete")) << vc.err;
    EXPECT_NE(vc.err.find("Dunsmere: Smurl calculation complete\nDunsmere: elapsed time = "), std::string::npos);
}

// The one question of a cancelled map, said once with its answer; the run
// ends by its signal, and its scratch directory is gone even when a second
// signal ends it at once.
TEST_F(Pipeline, CancelAsksOnceAndEndsByItsSignal)
{
    const std::string out = scratch / "cancel.png";
    bool sent = false;
    const ScopedEnv tmpdir("TMPDIR", tmp);
    const CommandResult r =
        RunProgram(DUNSMERE_COMMAND,
                   {"--config-dir", config, kCrate, "--size", "1024x1024", "--horizontal", "24", "--vertical", "10",
                    "-o", out},
                   [&](pid_t pid, const std::string& line) {
                       if (!sent && line.find("Baking") != std::string::npos) {
                           sent = true;
                           kill(pid, SIGINT);
                       }
                   });
    EXPECT_EQ(r.signal, SIGINT) << r.err;
    EXPECT_EQ(Count(r.err, "Save Partial Bitmap?"), 1u) << r.err;
    EXPECT_NE(r.err.find("Dunsmere: Save Partial Bitmap? No\n"), std::string::npos) << r.err;
    // The bar stops where the run stood, never on 100 %, before the messages.
    EXPECT_EQ(Count(r.err, "100%"), 0u) << r.err;
    const size_t bar = r.err.rfind("\nBuilding Smurl Map: Baking ");
    EXPECT_EQ(r.err.find('\n', bar + 1), r.err.find(" elapsed, cancelled\nDunsmere: elapsed", bar) + 19) << r.err;
    EXPECT_TRUE(r.err.ends_with(" secs\nDunsmere: Save Partial Bitmap? No\n")) << r.err;

    ::setenv("DUNSMERE_TEST_FAULT", "write 1 2xSIGINT Dunsmere.ini", 1);
    const CommandResult faulty = Run({kCrate, "--size", "50x50", "-o", scratch / "c.png"}, DUNSMERE_FAULTY_COMMAND);
    ::unsetenv("DUNSMERE_TEST_FAULT");
    EXPECT_EQ(faulty.signal, SIGINT) << faulty.err;
    EXPECT_NE(faulty.err.find("interrupted"), std::string::npos) << faulty.err;
    EXPECT_EQ(Left(tmp), std::vector<std::string>{});
}

TEST_F(Pipeline, VersionNamesBothInOneLine)
{
    const CommandResult v = Run({"--version"});
    EXPECT_EQ(v.status, 0) << v.err;
    EXPECT_EQ(v.out, "dunsmere 0.2.5 (Dunsmere V0.25b)\n");
    // The plug-in's part is what its About box says.
    EXPECT_NE(Run({"--about"}).out.find("\nDunsmere V0.25b "), std::string::npos);
    fs::create_directories(scratch / "none");
    const CommandResult without = Run({"--plugins", scratch / "none", "--version"});
    EXPECT_EQ(without.status, 2);
    EXPECT_EQ(without.out, "");
}

TEST_F(Pipeline, ATypoGetsTheNearestVisibleOption)
{
    const CommandResult typo = Run({kCrate, "--distanse", "3", "-o", scratch / "a.png"});
    EXPECT_EQ(typo.status, 2);
    EXPECT_NE(typo.err.find("did you mean --distance?"), std::string::npos) << typo.err;
    EXPECT_NE(Run({kCrate, "--selected-onyl"}).err.find("did you mean --selected-only?"), std::string::npos);
    // Hidden options are never offered, however near.
    for (const char* hidden : {"--plian", "--timing"}) {
        const CommandResult r = Run({kCrate, hidden, "-o", scratch / "a.png"});
        EXPECT_EQ(r.status, 2) << hidden;
        EXPECT_EQ(r.err.find("--plain"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("--timings"), std::string::npos) << r.err;
    }
    EXPECT_FALSE(fs::exists(scratch / "a.png"));
}

}  // namespace
