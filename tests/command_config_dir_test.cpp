// The command's configuration directory: the XDG rules, and the directory a
// run gives the plug-in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/command/command.h"
#include "app/command/config_dir.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;

// Sets an environment variable for one test and puts the old value back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name)
    {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (old) old_ = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (had_) ::setenv(name_, old_.c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

TEST(CommandConfigDir, FollowsTheXdgRulesAndIsCreated)
{
    ScratchDir scratch;
    const std::string dir = scratch.path();
    {
        const ScopedEnv xdg("XDG_CONFIG_HOME", (dir + "/xdg/").c_str());
        EXPECT_EQ(CommandConfigDir(), dir + "/xdg/dunsmere");
        EXPECT_TRUE(fs::is_directory(dir + "/xdg/dunsmere"));
    }
    const ScopedEnv xdg("XDG_CONFIG_HOME", "");
    {
        const ScopedEnv home("HOME", (dir + "/home").c_str());
        EXPECT_EQ(CommandConfigDir(), dir + "/home/.config/dunsmere");
        EXPECT_TRUE(fs::is_directory(dir + "/home/.config/dunsmere"));
    }
    const ScopedEnv noHome("HOME", nullptr);
    EXPECT_EQ(CommandConfigDir(), "");
    const ScopedEnv relative("XDG_CONFIG_HOME", "relative/path");  // invalid, so ignored
    EXPECT_EQ(CommandConfigDir(), "");
}

TEST(CommandConfigDir, AShowingRunWorksOnACopyItThrowsAway)
{
    ScratchDir scratch;
    const std::string real = scratch / "config";
    fs::create_directories(real);
    std::ofstream(real + "/Dunsmere.ini") << "[Dunsmere]\nXSiz=64\n";
    CommandOptions o;
    o.configDir = real;
    o.showSettings = true;
    o.last = true;
    std::string copy;
    {
        const RunConfigDir run(o);
        copy = run.path();
        EXPECT_NE(copy, real);
        std::ifstream in(copy + "/Dunsmere.ini");
        std::string first, second;
        std::getline(in, first);
        std::getline(in, second);
        EXPECT_EQ(second, "XSiz=64");
    }
    EXPECT_FALSE(fs::exists(copy));
    EXPECT_TRUE(fs::exists(real + "/Dunsmere.ini"));

    o.showSettings = false;
    o.last = false;
    o.defaults = true;
    const RunConfigDir run(o);
    EXPECT_NE(run.path(), real);
    EXPECT_FALSE(fs::exists(run.path() + "/Dunsmere.ini"));  // --defaults starts afresh
    EXPECT_TRUE(fs::exists(real + "/Dunsmere.ini"));         // and removes nothing
}

// A scratch directory is its run's while the run holds its lock; one that
// nobody holds is what a killed run left, and the next run removes it.
TEST(CommandConfigDir, ScratchDirectoriesNobodyHoldsGo)
{
    ScratchDir scratch;
    const ScopedEnv tmp("TMPDIR", scratch.path().c_str());
    CommandOptions o;
    o.defaults = true;
    const RunConfigDir live(o);
    fs::create_directories(scratch / "dunsmere-run-unlocked/sub");  // killed before it took its lock
    std::ofstream(scratch / "dunsmere-run-unlocked/Dunsmere.ini") << "[Dunsmere]\n";
    std::ofstream(scratch / "dunsmere-run-file") << "not a directory";
    fs::create_directory(scratch / "other");

    const RunConfigDir next(o);
    std::vector<std::string> expected{fs::path(live.path()).filename(), fs::path(next.path()).filename(),
                                      "dunsmere-run-file", "other"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(scratch.Entries(), expected);
}

TEST(CommandConfigDir, NoDirectoryToSaveInIsAUsageErrorOnlyForLast)
{
    const ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    const ScopedEnv home("HOME", nullptr);
    CommandOptions o;
    EXPECT_FALSE(RunConfigDir(o).path().empty());  // a bake from the defaults goes on
    o.last = true;
    try {
        const RunConfigDir run(o);
        FAIL() << "no directory, yet " << run.path();
    } catch (const CommandError& e) {
        EXPECT_EQ(e.status(), kExitUsage);
        EXPECT_NE(std::string(e.what()).find("--config-dir"), std::string::npos);
    }
}

}  // namespace
