// The options page through the command: its options typed and ticked on the
// plug-in's second page, saved as the plug-in saves them (keys only away
// from their defaults), carried by presets, refused out of range, and shown
// by --show-settings; --occluder and --ground-plane as the parser reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "app/command/option_table.h"
#include "app/command/options.h"
#include "app/command/panel_options.h"
#include "app/session/panel.h"
#include "app/image/image_files.h"
#include "command_runner.h"
#include "file_bytes.h"
#include "scratch_dir.h"
#include "ui/settings_table.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;

const std::string kCrate = std::string(DUNSMERE_EXAMPLES) + "/crate.obj";

// What --show-settings prints for a control: its value and, when it is
// disabled, "(disabled)".
std::string Shown(const std::string& out, const std::string& control)
{
    const size_t at = out.find("  " + control + " ");
    if (at == std::string::npos) return "?";
    const size_t value = out.find_first_not_of(' ', at + 2 + control.size());
    return out.substr(value, out.find('\n', value) - value);
}

class CommandOptionsPage : public ::testing::Test {
protected:
    CommandResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--config-dir", config});
        return RunProgram(DUNSMERE_COMMAND, args);
    }
    CommandResult Map(std::vector<std::string> more)
    {
        more.insert(more.begin(), {kCrate, "--size", "50x50", "--horizontal", "4", "-o", scratch / "map.png"});
        return Run(more);
    }
    std::string Saved() const { return ReadAll(config + "/Dunsmere.ini"); }

    ScratchDir scratch;
    const std::string config = scratch / "config";
};

TEST_F(CommandOptionsPage, ABakeSavesTheOptionsItSetAndABakeAtTheDefaultsNone)
{
    const std::string preset = scratch / "options.ini";
    const CommandResult set = Map({"--padding", "5", "--supersample", "2", "--even-ring", "--write-preset", preset});
    ASSERT_EQ(set.status, 0) << set.err;
    std::string saved = Saved();
    EXPECT_NE(saved.find("addVertexColors=0\npadding=5\nsupersample=2\nevenRing=1\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("coverageAlpha"), std::string::npos) << saved;
    EXPECT_EQ(ReadAll(preset), saved);

    // From the preset, the options page shows them again.
    const CommandResult shown = Run({"--preset", preset, "--show-settings"});
    EXPECT_EQ(Shown(shown.out, "Padding"), "5");
    EXPECT_EQ(Shown(shown.out, "Antialiasing"), "2");
    EXPECT_EQ(Shown(shown.out, "Even ring"), "[x]");

    // Set back from the last bake: the keys go.
    const CommandResult reset = Map({"--last", "--padding", "1", "--supersample", "1", "--no-even-ring"});
    ASSERT_EQ(reset.status, 0) << reset.err;
    saved = Saved();
    for (const char* key : {"padding", "supersample", "coverageAlpha", "invertLevels", "evenRing", "sceneOccluders"})
        EXPECT_EQ(saved.find(key), std::string::npos) << key << " in\n" << saved;
}

TEST_F(CommandOptionsPage, OutOfRangeValuesAreUsageErrors)
{
    struct Case {
        std::vector<std::string> args;
        const char* message;
    };
    for (const Case& c : {Case{{"--padding", "65"}, "dunsmere: --padding 65 is outside its range 0 to 64\n"},
                          Case{{"--padding", "-1"}, "dunsmere: --padding -1 is outside its range 0 to 64\n"},
                          Case{{"--supersample", "0"}, "dunsmere: --supersample 0 is outside its range 1 to 8\n"},
                          Case{{"--supersample", "9"}, "dunsmere: --supersample 9 is outside its range 1 to 8\n"},
                          Case{{"--ray-bias", "1"}, "dunsmere: --ray-bias wants a number from 0 up to but not 1\n"}}) {
        SCOPED_TRACE(c.message);
        const CommandResult r = Map(c.args);
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.err, c.message);
        EXPECT_FALSE(fs::exists(scratch / "map.png"));
    }
}

TEST_F(CommandOptionsPage, ShowSettingsShowsTheOptionsPageAfterTheFirst)
{
    const CommandResult r = Run({"--show-settings", "--padding", "3", "--coverage-alpha"});
    ASSERT_EQ(r.status, 0) << r.err;
    const size_t first = r.out.find("Dunsmere BETA V0.25b\n"), options = r.out.find("Dunsmere Options\n");
    ASSERT_NE(options, std::string::npos) << r.out;
    EXPECT_LT(first, options);
    EXPECT_LT(r.out.find("Accumulate vertex colors"), options);
    EXPECT_EQ(r.out.substr(options),
              "Dunsmere Options\n"
              "  Padding                            3\n"
              "  Antialiasing                       1\n"
              "  Coverage in alpha                  [x]\n"
              "  White is open                      [ ]\n"
              "  Even ring                          [ ]\n"
              "  Scene occluders                    [ ]\n"
              "  Ray bias                           0\n"
              "  Bake from high-poly                [ ]\n"
              "  Ray front                          0.02\n"
              "  Ray rear                           0.02\n");

    // The algorithm on the first page enables the second page's controls.
    const CommandResult vertex = Run({"--show-settings", "--algorithm", "vertex-colors"});
    EXPECT_EQ(Shown(vertex.out, "Padding"), "1  (disabled)");
    EXPECT_EQ(Shown(vertex.out, "Coverage in alpha"), "[ ]  (disabled)");
    EXPECT_EQ(Shown(vertex.out, "Even ring"), "[ ]");
    EXPECT_EQ(Shown(vertex.out, "Scene occluders"), "[ ]");
}

TEST_F(CommandOptionsPage, AGroundPlaneTicksTheSceneOccluders)
{
    const CommandResult r = Run({"--show-settings", "--ground-plane", "-z"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Shown(r.out, "Scene occluders"), "[x]");
}

// ---- The parser ----------------------------------------------------------------

ParseResult Parse(std::vector<std::string> args)
{
    args.insert(args.begin(), "dunsmere");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

TEST(CommandOptionsParse, OccludersAndAGroundPlaneImplySceneOccluders)
{
    const ParseResult r = Parse({"--occluder", "a.obj", "m.obj", "--occluder=b.obj", "-o", "x.png"});
    ASSERT_TRUE(r.options) << r.err;
    EXPECT_EQ(r.options->occluders, (std::vector<std::string>{"a.obj", "b.obj"}));
    EXPECT_EQ(r.options->meshes, std::vector<std::string>{"m.obj"});
    EXPECT_EQ(r.options->sceneOccluders, true);
    EXPECT_FALSE(r.options->groundPlane);

    for (const char* axis : {"-x", "+x", "-y", "+y", "-z", "+z"}) {
        for (const std::vector<std::string>& given :
             {std::vector<std::string>{"--ground-plane", axis}, std::vector<std::string>{std::string("--ground-plane=") + axis}}) {
            std::vector<std::string> args = given;
            args.insert(args.end(), {"m.obj", "-o", "x.png"});
            const ParseResult p = Parse(args);
            ASSERT_TRUE(p.options) << given[0] << " " << axis << ": " << p.err;
            EXPECT_EQ(p.options->groundPlane, axis);
            EXPECT_EQ(p.options->sceneOccluders, true);
            EXPECT_EQ(p.options->meshes, std::vector<std::string>{"m.obj"});
        }
    }
    const ParseResult none = Parse({"m.obj", "-o", "x.png"});
    ASSERT_TRUE(none.options);
    EXPECT_FALSE(none.options->sceneOccluders);
    EXPECT_TRUE(none.options->occluders.empty());
}

TEST(CommandOptionsParse, RefusesABadAxisAndAContradiction)
{
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--ground-plane", "-w"}, std::vector<std::string>{"--ground-plane", "z"},
          std::vector<std::string>{"--ground-plane=x"}}) {
        const ParseResult p = Parse({args.begin(), args.end()});
        EXPECT_FALSE(p.options) << args.back();
        EXPECT_EQ(p.exitStatus, 2) << args.back();
    }
    const ParseResult occluder = Parse({"m.obj", "-o", "x.png", "--occluder", "a.obj", "--no-scene-occluders"});
    EXPECT_EQ(occluder.exitStatus, 2);
    EXPECT_EQ(occluder.err, "dunsmere: --occluder and --no-scene-occluders contradict each other\n");
    const ParseResult ground = Parse({"m.obj", "-o", "x.png", "--no-scene-occluders", "--ground-plane", "+y"});
    EXPECT_EQ(ground.exitStatus, 2);
    EXPECT_EQ(ground.err, "dunsmere: --ground-plane and --no-scene-occluders contradict each other\n");
}

// Each row is an option of the line; each key of the plug-in's file is a
// row's, so that a preset's every key is checked as its option.
TEST(CommandOptionsParse, EveryRowIsAnOptionAndEveryPanelKeyARow)
{
    const std::string help = Parse({"--help"}).out;
    for (const OptionRow& row : kOptionRows) {
        if (row.kind == OptionKind::kInput) continue;
        const std::string name = std::string("--") + row.name;
        EXPECT_EQ(Parse({name + "=x"}).err.find("not expected"), std::string::npos) << name;
        EXPECT_EQ(std::regex_search(help, std::regex("[ ,]" + name + "[ {]")), row.help != nullptr) << name;
    }
    auto keys = [](const OptionRow& r) { return r.panelKey != nullptr; };
    EXPECT_EQ(std::count_if(std::begin(kOptionRows), std::end(kOptionRows), keys), std::ssize(kSettingFields));
    for (const SettingField& field : kSettingFields)
        EXPECT_TRUE(std::any_of(std::begin(kOptionRows), std::end(kOptionRows), [&](const OptionRow& r) {
            return keys(r) && std::string_view(r.panelKey) == field.key;
        })) << field.key;
}

// --help states the ranges and defaults the panel's spinners give it, and
// through the real plug-in they are the table's own.
TEST(CommandOptionsParse, HelpTakesTheSpinnersRangesAndDefaults)
{
    const char* argv[] = {"dunsmere", "--help"};
    const std::string help =
        ParseCommandLine(2, argv, {{"horizontal", 0.0f, 30.0f, 9.0f}, {"distance", 2.0f, 50.5f, 4.0f}}).out;
    EXPECT_NE(help.find("Rays per ring, 0 to 30 (default 9)."), std::string::npos);
    EXPECT_NE(help.find("any positive number (default 4). Outside 2 to 50.5 the mesh"), std::string::npos);
    EXPECT_EQ(RunProgram(DUNSMERE_COMMAND, {"--help"}).out, Parse({"--help"}).out);
}

// A number's range is the spinner's where the plug-in gives one, else the
// table's; the command asks the plug-in before it reads the mesh.
TEST(CommandOptionsParse, RangesAreTheSpinnersAndTheCommandAsksThePlugIn)
{
    const char* argv[] = {"dunsmere", "m.obj", "-o", "m.png", "--horizontal", "27"};
    EXPECT_EQ(ParseCommandLine(6, argv).err, "dunsmere: --horizontal 27 is outside its range 0 to 24\n");
    const ParseResult wider = ParseCommandLine(6, argv, {{"horizontal", 0.0f, 30.0f, 9.0f}});
    EXPECT_TRUE(wider.options && wider.ranged);
    const CommandResult run = RunProgram(DUNSMERE_COMMAND, {"no-such.obj", "-o", "x.png", "--horizontal", "27"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "dunsmere: --horizontal 27 is outside its range 0 to 24\n");
}

// ---- The panel driver over two pages ----------------------------------------------

INT_PTR Quiet(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// Ids of their own, so that a control found by a re-typed id is not found.
constexpr ControlTemplate kFirst[] = {
    {-1, ControlKind::CentredText, "A Title", 7, 7, 94, 12},
    {-1, ControlKind::GroupBox, "Algorithm", 7, 21, 94, 40},
    {71, ControlKind::RadioButton, "UV Map", 20, 32, 42, 10},
};
constexpr ControlTemplate kSecond[] = {
    {-1, ControlKind::Text, "Padding", 15, 7, 40, 10},
    {21, ControlKind::CustEdit, nullptr, 60, 7, 25, 10},
    {-1, ControlKind::Text, "Antialiasing", 15, 21, 44, 10},
    {22, ControlKind::CustEdit, nullptr, 60, 21, 25, 10},
    {23, ControlKind::CheckBox, "Coverage in alpha", 13, 37, 88, 10},
    {24, ControlKind::CheckBox, "White is open", 13, 50, 88, 10},
    {25, ControlKind::CheckBox, "Even ring", 13, 63, 88, 10},
    {26, ControlKind::CheckBox, "Scene occluders", 13, 76, 88, 10},
};
constexpr DialogTemplate kFirstPage{500, nullptr, 108, 80, "MS Sans Serif", 8, kFirst,
                                    static_cast<int>(sizeof kFirst / sizeof kFirst[0])};
constexpr DialogTemplate kSecondPage{501, nullptr, 108, 92, "MS Sans Serif", 8, kSecond,
                                     static_cast<int>(sizeof kSecond / sizeof kSecond[0])};

TEST(CommandOptionsPanel, AppliesAndPrintsTheSecondPageUnderItsHostTitle)
{
    DialogWindow first(kFirstPage, &Quiet, nullptr), second(kSecondPage, &Quiet, nullptr);
    const Panel panel({{&first, "Parameters"}, {&second, "More"}});
    CommandOptions o;
    o.padding = 9;
    o.supersample = 4;
    o.invert = true;
    o.sceneOccluders = true;
    ApplyOptions(panel, o);
    EXPECT_EQ(second.Control(21)->text, "9");
    EXPECT_EQ(second.Control(22)->text, "4");
    EXPECT_FALSE(second.Control(23)->checked);
    EXPECT_TRUE(second.Control(24)->checked);
    EXPECT_FALSE(second.Control(25)->checked);
    EXPECT_TRUE(second.Control(26)->checked);
    EXPECT_TRUE(panel.IsTicked("invert"));

    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    panel.Print(out);
    std::fclose(out);
    const std::string printed(text, size);
    std::free(text);
    // The first page keeps the title its own text gives it.
    EXPECT_EQ(printed,
              "A Title\n"
              "  Algorithm: UV Map                  ( )\n"
              "More\n"
              "  Padding                            9\n"
              "  Antialiasing                       4\n"
              "  Coverage in alpha                  [ ]\n"
              "  White is open                      [x]\n"
              "  Even ring                          [ ]\n"
              "  Scene occluders                    [x]\n");
}

}  // namespace

namespace {

// Smooth normals on a coarse sphere send low rays into its own faces; the
// bias looks past those hits, and nothing else is there to hit.
TEST_F(CommandOptionsPage, RayBiasLooksPastTheSelfHitsOfACoarseSmoothSphere)
{
    const std::string sphere = std::string(DUNSMERE_TEST_DATA) + "/smoothing/coarse_sphere.obj";
    const auto brightest = [&](const char* bias) {
        Run({sphere, "--vertical", "4", "--distance", "1", "--ray-bias", bias, "-o", scratch / "s.png"});
        RgbaImage16 image;
        EXPECT_TRUE(ReadImageFile16(scratch / "s.png", image).ok);
        WORD top = 0;
        for (const auto& p : image.pixels) top = std::max(top, p.r);
        return top;
    };
    EXPECT_GT(brightest("0"), 0);
    EXPECT_EQ(Saved().find("rayBias"), std::string::npos);
    EXPECT_EQ(brightest("0.001"), 0);
    EXPECT_NE(Saved().find("rayBias=0.001000\n"), std::string::npos);
}

// Read back from the written files: alpha is a count of covered sub-texels
// out of S * S, and white-is-open flips exactly the texels that a face or
// the padding reached, leaving the rest at 0.
TEST_F(CommandOptionsPage, AlphaAndWhiteIsOpenAsWritten)
{
    const std::vector<std::string> common{kCrate,        "--size",    "50x50",  "--supersample", "2",
                                          "--padding",   "2",         "--horizontal", "4"};
    std::vector<std::string> plainArgs = common, markedArgs = common;
    plainArgs.insert(plainArgs.end(), {"-o", scratch / "plain.png"});
    markedArgs.insert(markedArgs.end(), {"--coverage-alpha", "--invert", "-o", scratch / "marked.png"});
    ASSERT_EQ(Run(plainArgs).status, 0);
    ASSERT_EQ(Run(markedArgs).status, 0);
    RgbaImage16 plain, marked;
    ASSERT_TRUE(ReadImageFile16(scratch / "plain.png", plain).ok);
    ASSERT_TRUE(ReadImageFile16(scratch / "marked.png", marked).ok);
    ASSERT_EQ(marked.pixels.size(), plain.pixels.size());
    int partial = 0, paddedOnly = 0, unreached = 0;
    for (size_t i = 0; i < plain.pixels.size(); ++i) {
        const auto& p = plain.pixels[i];
        const auto& m = marked.pixels[i];
        EXPECT_EQ(p.a, 65535);
        EXPECT_TRUE(m.a == 0 || m.a == 16383 || m.a == 32767 || m.a == 49151 || m.a == 65535) << i;  // 65535 n / 4
        const bool flipped = m.r == 65535 - p.r;
        EXPECT_TRUE(flipped || (m.r == 0 && p.r == 0)) << i;
        EXPECT_TRUE(m.a == 0 || flipped) << i;
        partial += m.a > 0 && m.a < 65535;
        paddedOnly += m.a == 0 && flipped;
        unreached += !flipped;
    }
    EXPECT_GT(partial, 0);
    EXPECT_GT(paddedOnly, 0);
    EXPECT_GT(unreached, 0);
}

}  // namespace
