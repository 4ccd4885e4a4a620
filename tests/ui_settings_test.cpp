#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "scratch_dir.h"
#include "host/runtime.h"
#include "scripted_host.h"
#include "ui/detail/platform.h"
#include "ui/utility.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = scratch.path();
        host.configDir = dir.string();
        utility.ip = &host;
    }

    fs::path File() const { return dir / "Dunsmere.ini"; }
    std::string Read() const
    {
        std::ifstream in(File(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    void Write(const std::string& text) const { std::ofstream(File(), std::ios::binary) << text; }

    ScratchDir scratch;
    fs::path dir;
    ScriptedHost host;
    DunsmereUtility utility;
};

const char* const kFreshFile =
    "[Dunsmere]\n"
    "algorithm=1008\n"
    "XSiz=200\n"
    "YSiz=200\n"
    "horizontalSpread=8\n"
    "verticalSpread=1\n"
    "mapChannel=1\n"
    "dist=30.000000\n"
    "selectedOnly=0\n"
    "noiseOn=0\n"
    "noiseSize=25.000000\n"
    "mtlID=1\n"
    "mtlIDOn=0\n"
    "addVertexColors=0\n";

// The platform under the load, with a save of other values landing right
// after the load's first read.
class SaveAfterFirstRead : public detail::SettingsPlatform {
public:
    explicit SaveAfterFirstRead(std::function<void()> save) : save_(std::move(save)), previous_(detail::SetPlatform(this)) {}
    ~SaveAfterFirstRead() override { detail::SetPlatform(previous_); }
    SaveAfterFirstRead(const SaveAfterFirstRead&) = delete;
    SaveAfterFirstRead& operator=(const SaveAfterFirstRead&) = delete;

    int ReadInt(const char* section, const char* key, int defaultValue, const char* path) override
    {
        const int v = SettingsPlatform::ReadInt(section, key, defaultValue, path);
        if (save_) std::exchange(save_, nullptr)();
        return v;
    }

private:
    std::function<void()> save_;
    detail::SettingsPlatform* previous_;
};

TEST_F(SettingsFile, ALoadReadsOneFileThoughASaveLandsAmidItsReads)
{
    Write(kFreshFile);
    utility.LoadSettings();
    const UtilitySettings before = utility.settings;
    DunsmereUtility other;
    other.ip = &host;
    other.settings = {640, 480, kAlgorithmVertexColors, 12, 3, 2, 12.5f, 1, 1, 7.25f, 1, 5, 1};
    SaveAfterFirstRead platform([&] { other.SaveSettings(); });
    utility.LoadSettings();
    EXPECT_EQ(utility.settings, before);  // every key of the file as the load found it
    utility.LoadSettings();
    EXPECT_EQ(utility.settings, other.settings);  // the save did land
}

TEST_F(SettingsFile, PathIsTheConfigDirectoryPlusTheFileName)
{
    EXPECT_EQ(utility.SettingsFilePath().str(), dir.string() + "\\Dunsmere.ini");
}

TEST_F(SettingsFile, ConstructorValuesDifferFromLoadDefaults)
{
    const UtilitySettings& s = utility.settings;
    EXPECT_EQ(s.mapChannel, 0);
    EXPECT_EQ(s.dist, 0.0f);
    EXPECT_EQ(s.noiseSize, 25.0f);
    utility.LoadSettings();  // no file yet
    EXPECT_EQ(s.mapChannel, 1);
    EXPECT_EQ(s.dist, 30.0f);
    EXPECT_EQ(s.algorithm, 1008);
    EXPECT_EQ(s.XSiz, 200);
    EXPECT_EQ(s.mtlID, 1);
    EXPECT_FALSE(fs::exists(File()));
}

TEST_F(SettingsFile, FreshSaveHoldsTheThirteenKeysInOrderAndIsStable)
{
    utility.LoadSettings();
    utility.SaveSettings();
    EXPECT_EQ(Read(), kFreshFile);
    utility.SaveSettings();
    EXPECT_EQ(Read(), kFreshFile);
    // Nothing but the file (and the writers' lock) is left beside it.
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        EXPECT_TRUE(name == "Dunsmere.ini" || name == "Dunsmere.ini.lock") << name;
    }
}

// The options beyond the thirteen live in the same section, under keys
// that only a value away from its default puts there.
TEST_F(SettingsFile, AnOptionIsKeptOnlyAwayFromItsDefault)
{
    utility.LoadSettings();
    utility.settings.padding = 8;
    utility.settings.supersample = 4;
    utility.settings.evenRing = 1;
    utility.SaveSettings();
    EXPECT_EQ(Read(), std::string(kFreshFile) + "padding=8\nsupersample=4\nevenRing=1\n");
    DunsmereUtility again;
    again.ip = &host;
    again.LoadSettings();
    EXPECT_EQ(again.settings, utility.settings);
    utility.settings.padding = 1;
    utility.settings.supersample = 1;
    utility.settings.evenRing = 0;
    utility.SaveSettings();
    EXPECT_EQ(Read(), kFreshFile);
    Write(std::string(kFreshFile) + "supersample=four\n");
    utility.LoadSettings();
    EXPECT_EQ(utility.settings.supersample, 0);  // not a number: 0, which a map run refuses
}

TEST_F(SettingsFile, StoredValuesRoundTrip)
{
    Write("[Dunsmere]\ndist=12.5\nalgorithm=7\nXSiz=4096\nnoiseSize=0.1\nmtlIDOn=1\nmtlID=-3\n");
    utility.LoadSettings();
    EXPECT_EQ(utility.settings.dist, 12.5f);
    EXPECT_EQ(utility.settings.algorithm, 7);  // kept as read; only the panel corrects it
    EXPECT_EQ(utility.settings.XSiz, 4096);
    EXPECT_EQ(utility.settings.noiseSize, 0.1f);
    EXPECT_EQ(utility.settings.mtlID, -3);
    utility.SaveSettings();
    const std::string text = Read();
    EXPECT_NE(text.find("dist=12.500000\n"), std::string::npos);
    EXPECT_NE(text.find("noiseSize=0.100000\n"), std::string::npos);
    DunsmereUtility again;
    again.ip = &host;
    again.LoadSettings();
    EXPECT_EQ(again.settings, utility.settings);
}

TEST_F(SettingsFile, MissingKeyTakesItsDefaultAndComesBack)
{
    std::string text = kFreshFile;
    text.replace(text.find("mtlIDOn=0\n"), 10, "");
    text.replace(text.find("XSiz=200"), 8, "XSiz=640");
    Write(text);
    utility.LoadSettings();
    EXPECT_EQ(utility.settings.mtlIDOn, 0);
    EXPECT_EQ(utility.settings.XSiz, 640);
    utility.SaveSettings();
    const std::string saved = Read();
    EXPECT_NE(saved.find("XSiz=640\n"), std::string::npos);
    EXPECT_NE(saved.find("mtlIDOn=0\n"), std::string::npos);
}

TEST_F(SettingsFile, OtherSectionsAndCommentsSurviveASave)
{
    const std::string before =
        "; written by hand\r\n[Other]\r\nkey = value\r\n\r\n[dunsmere]\r\ndist = 40\r\n; keep me\r\n[Tail]\r\nx=1\r\n";
    Write(before);
    utility.LoadSettings();
    EXPECT_EQ(utility.settings.dist, 40.0f);  // section names match whatever their case
    utility.SaveSettings();
    const std::string after = Read();
    EXPECT_EQ(after.rfind("; written by hand\r\n[Other]\r\nkey = value\r\n\r\n[dunsmere]\r\n", 0), 0u);
    EXPECT_NE(after.find("dist = 40.000000\r\n"), std::string::npos);
    EXPECT_NE(after.find("; keep me\r\n"), std::string::npos);
    EXPECT_NE(after.find("[Tail]\r\nx=1\r\n"), std::string::npos);
    EXPECT_EQ(after.find("\n\n"), std::string::npos);  // CRLF kept throughout
}

TEST_F(SettingsFile, UserLocaleDoesNotChangeTheNumbers)
{
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    bool comma = false;
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE", "fr_FR"})
        if (std::setlocale(LC_NUMERIC, name)) { comma = true; break; }
    Write("[Dunsmere]\ndist=2.5\n");
    utility.LoadSettings();
    utility.SaveSettings();
    std::setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(utility.settings.dist, 2.5f);
    EXPECT_NE(Read().find("dist=2.500000\n"), std::string::npos);
    if (!comma) GTEST_SKIP() << "no locale with a decimal comma installed";
}

TEST_F(SettingsFile, UnwritableDirectoryIsSilentAndKeepsTheRecord)
{
    host.configDir = (dir / "missing" / "deeper").string();
    utility.LoadSettings();
    utility.settings.XSiz = 321;
    utility.SaveSettings();
    EXPECT_EQ(utility.settings.XSiz, 321);
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

}  // namespace

namespace {

std::vector<std::string>& DebugLines()
{
    static std::vector<std::string> lines;
    return lines;
}

// Collects the debug lines for its lifetime.
class DebugCapture {
public:
    DebugCapture() : previous_(SetDebugSink([](const char* text) { DebugLines().push_back(text); })) {}
    ~DebugCapture()
    {
        SetDebugSink(previous_);
        DebugLines().clear();
    }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;
    std::vector<std::string> Take() { return std::exchange(DebugLines(), {}); }

private:
    DebugSink previous_;
};

// A host whose directory query answers null.
class NoDirectoryHost : public ScriptedHost {
public:
    const char* GetDir(int) override { return nullptr; }
};

// The three ways to have no directory: no host at all, a null answer, an
// empty one. None may fall back to a file of its own choosing.
TEST_F(SettingsFile, WithoutADirectoryNothingIsLoadedOrSavedAndOneLineSaysSo)
{
    NoDirectoryHost nullDir;
    ScriptedHost emptyDir;
    emptyDir.configDir = "";
    Interface* const hosts[] = {nullptr, &nullDir, &emptyDir};
    for (Interface* h : hosts) {
        SCOPED_TRACE(h == nullptr ? "no host" : h == &nullDir ? "null directory" : "empty directory");
        ASSERT_EQ(GetCOREInterface(), nullptr);
        DunsmereUtility u;
        u.ip = h;
        EXPECT_EQ(u.SettingsFilePath().str(), "");

        DebugCapture debug;
        u.settings.mapChannel = 42;
        u.settings.dist = 7.0f;
        u.LoadSettings();
        // The load defaults, not the constructor values nor what was there.
        UtilitySettings expected;
        expected.mapChannel = 1;
        expected.dist = 30.0f;
        EXPECT_EQ(u.settings, expected);
        auto lines = debug.Take();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("not loaded"), std::string::npos) << lines[0];

        u.SaveSettings();
        lines = debug.Take();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_NE(lines[0].find("not saved"), std::string::npos) << lines[0];
    }
    // Nothing was written anywhere a path could have led: the root's file.
    EXPECT_FALSE(fs::exists("/Dunsmere.ini"));
    EXPECT_FALSE(fs::exists(File()));
}

TEST_F(SettingsFile, FloatsBeyondTheirRangeLoadAsInfinitiesAndTextAsZero)
{
    Write("[Dunsmere]\ndist=1e39\nnoiseSize=-1e39\n");
    utility.LoadSettings();
    EXPECT_EQ(utility.settings.dist, INFINITY);
    EXPECT_EQ(utility.settings.noiseSize, -INFINITY);
    Write("[Dunsmere]\ndist=abc\nnoiseSize= 2.5x\n");
    utility.LoadSettings();
    EXPECT_EQ(utility.settings.dist, 0.0f);
    EXPECT_EQ(utility.settings.noiseSize, 2.5f);
}

}  // namespace
