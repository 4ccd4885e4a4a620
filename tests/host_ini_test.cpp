#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "host/ini.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;

// Each test works in a directory of its own, addressed the way the host
// builds settings paths: a directory plus "\Dunsmere.ini".
class HostIni : public testing::Test {
protected:
    void SetUp() override
    {
        dir_ = scratch_.path();
        path_ = dir_ + "\\Dunsmere.ini";
        file_ = dir_ + "/Dunsmere.ini";
    }

    std::string Slurp() const
    {
        std::ifstream in(file_, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void Spit(const std::string& bytes) const { std::ofstream(file_, std::ios::binary) << bytes; }
    std::string Get(const char* section, const char* key) const
    {
        char buffer[80];
        GetPrivateProfileString(section, key, "<none>", buffer, sizeof buffer, path_.c_str());
        return buffer;
    }
    std::set<std::string> Entries() const
    {
        std::set<std::string> names;
        for (const auto& e : fs::directory_iterator(dir_)) names.insert(e.path().filename());
        return names;
    }

    ScratchDir scratch_;
    std::string dir_, path_, file_;
};

TEST_F(HostIni, MissingFileSectionOrKeyGivesTheDefault)
{
    EXPECT_EQ(GetPrivateProfileInt("Bake", "Rays", 7, path_.c_str()), 7);
    EXPECT_EQ(Get("Bake", "Rays"), "<none>");
    Spit("[Bake]\nRays=12\n");
    EXPECT_EQ(GetPrivateProfileInt("Other", "Rays", 7, path_.c_str()), 7);
    EXPECT_EQ(GetPrivateProfileInt("Bake", "Spread", -3, path_.c_str()), -3);
    EXPECT_EQ(GetPrivateProfileInt("Bake", "Rays", 7, path_.c_str()), 12);
}

TEST_F(HostIni, NamesMatchWithoutCaseAndTheFirstMatchWins)
{
    Spit("Rays=0\n[bake]\n;Rays=1\n#Rays=2\nRAYS=3\nrays=4\n[BAKE]\nRays=5\nSpread=6\n");
    EXPECT_EQ(Get("Bake", "Rays"), "3");
    EXPECT_EQ(Get("Bake", "Spread"), "<none>");  // only the first [bake] counts
}

TEST_F(HostIni, TheKeysListedAreTheOnesReadsFind)
{
    Spit("Rays=0\n[bake]\n;Rays=1\n RAYS =3\nno equals\nrays=4\n\tSpread=\n[BAKE]\nDepth=5\n");
    EXPECT_EQ(ProfileSnapshot(path_.c_str()).Keys("Bake"), (std::vector<std::string>{"RAYS", "Spread"}));
    EXPECT_EQ(ProfileSnapshot(path_.c_str()).Keys("Other"), std::vector<std::string>{});
}

TEST_F(HostIni, NamesAndValuesAreTrimmed)
{
    Spit("  [ Bake ]  \n\t Rays \t=  12 rays \t\nEmpty =  \n");
    EXPECT_EQ(Get(" Bake", "Rays "), "12 rays");
    EXPECT_EQ(Get("Bake", "Empty"), "");
    EXPECT_EQ(GetPrivateProfileInt("Bake", "Empty", 9, path_.c_str()), 0);  // present, no digits
}

TEST_F(HostIni, IntegersAreSignAndLeadingDigitsSaturated)
{
    const std::pair<const char*, int> cases[] = {
        {"42", 42}, {"+42", 42}, {"-42", -42}, {"12abc", 12}, {"abc", 0}, {"-", 0},
        {"- 5", 0}, {"007", 7}, {"2147483647", INT_MAX}, {"2147483648", INT_MAX},
        {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN}, {"99999999999999999999", INT_MAX},
        {"1.9", 1}, {"0x10", 0},
    };
    for (const auto& [text, expected] : cases) {
        Spit(std::string("[Bake]\nRays=\t ") + text + "\n");
        EXPECT_EQ(GetPrivateProfileInt("Bake", "Rays", 77, path_.c_str()), expected) << text;
    }
}

TEST_F(HostIni, StringsStopAt79Characters)
{
    const std::string longValue(100, 'v');
    Spit("[Bake]\nName=" + longValue + "\n");
    char buffer[80];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(GetPrivateProfileString("Bake", "Name", "", buffer, 80, path_.c_str()), 79);
    EXPECT_EQ(std::string(buffer), longValue.substr(0, 79));
    EXPECT_EQ(GetPrivateProfileString("Bake", "None", "default", buffer, 4, path_.c_str()), 3);
    EXPECT_STREQ(buffer, "def");
    EXPECT_EQ(GetPrivateProfileString("Bake", "Name", "", buffer, 0, path_.c_str()), 0);
}

TEST_F(HostIni, WriteCreatesTheFileThenTheSectionThenTheKey)
{
    ASSERT_TRUE(WritePrivateProfileString("Bake", "Rays", " 12 ", path_.c_str()));
    EXPECT_EQ(Slurp(), "[Bake]\nRays=12\n");
    ASSERT_TRUE(WritePrivateProfileString("Map", "Size", "512", path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("bake", "Spread", "0.5", path_.c_str()));
    EXPECT_EQ(Slurp(), "[Bake]\nRays=12\nSpread=0.5\n[Map]\nSize=512\n");
}

TEST_F(HostIni, NewKeysFollowTheSectionsLastKey)
{
    // Blank lines and the comment that head the next section stay with it; a
    // section without keys gets its first one right under the header; an
    // unterminated last line gets a line end before anything follows it.
    Spit("[A]\nx=1\n\n; about B\n[B]\n\n[C]\nz=3");
    ASSERT_TRUE(WritePrivateProfileStrings("A", {{"y", "2"}}, path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStrings("B", {{"b", "1"}}, path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileStrings("C", {{"w", "4"}}, path_.c_str()));
    EXPECT_EQ(Slurp(), "[A]\nx=1\ny=2\n\n; about B\n[B]\nb=1\n\n[C]\nz=3\nw=4\n");
}

// A null value deletes the key: every line of it in the first section of
// that name (the one reads look in), the rest byte for byte; a key that is
// not there leaves the file, or its absence, as it was.
TEST_F(HostIni, ANullValueDeletesTheKey)
{
    ASSERT_TRUE(WritePrivateProfileString("A", "gone", nullptr, path_.c_str()));
    EXPECT_FALSE(std::filesystem::exists(HostPath(path_.c_str())));
    Spit("[A]\nx=1\nGone = 2 ; note\ny=3\ngone=4\n[B]\ngone=5\n[A]\ngone=6\n[C]\nz=1\ngone=7");
    ASSERT_TRUE(WritePrivateProfileString("a", "gone", nullptr, path_.c_str()));
    EXPECT_EQ(Slurp(), "[A]\nx=1\ny=3\n[B]\ngone=5\n[A]\ngone=6\n[C]\nz=1\ngone=7");
    char buffer[16];
    GetPrivateProfileString("A", "gone", "none", buffer, sizeof buffer, path_.c_str());
    EXPECT_STREQ(buffer, "none");
    // An unterminated last line goes, and the file still ends without a
    // line end; in a batch, deletes and writes apply in turn.
    ASSERT_TRUE(WritePrivateProfileStrings("C", {{"gone", std::nullopt}}, path_.c_str()));
    EXPECT_EQ(Slurp(), "[A]\nx=1\ny=3\n[B]\ngone=5\n[A]\ngone=6\n[C]\nz=1");
    ASSERT_TRUE(WritePrivateProfileStrings("C", {{"x", "1"}, {"z", std::nullopt}}, path_.c_str()));
    EXPECT_EQ(Slurp(), "[A]\nx=1\ny=3\n[B]\ngone=5\n[A]\ngone=6\n[C]\nx=1\n");
}

TEST_F(HostIni, ReplacingAValueKeepsEveryOtherByte)
{
    Spit("; Dunsmere\n[Other]\nRays=1\n[ Bake ]\n  RAYS =  12  ; not a comment\n#Rays=3\nSpread=2");
    ASSERT_TRUE(WritePrivateProfileString("Bake", "Rays", "24", path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("Bake", "Spread", "", path_.c_str()));
    EXPECT_EQ(Slurp(), "; Dunsmere\n[Other]\nRays=1\n[ Bake ]\n  RAYS =  24\n#Rays=3\nSpread=");
}

TEST_F(HostIni, CrlfFilesStayCrlf)
{
    Spit("[Bake]\r\nRays=12\r\n");
    EXPECT_EQ(Get("Bake", "Rays"), "12");
    ASSERT_TRUE(WritePrivateProfileString("Bake", "Rays", "6", path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("Bake", "Spread", "1", path_.c_str()));
    ASSERT_TRUE(WritePrivateProfileString("Map", "Size", "64", path_.c_str()));
    EXPECT_EQ(Slurp(), "[Bake]\r\nRays=6\r\nSpread=1\r\n[Map]\r\nSize=64\r\n");
}

TEST_F(HostIni, ABatchWritesWhatItsSingleWritesWould)
{
    const ProfileEntries batch = {{"Rays", "6"}, {"Spread", "0.5"}, {"rays", "8"}, {"New", "x"}, {"New", ""}};
    const char* starts[] = {
        nullptr,
        "",
        "[Bake]\r\n; kept\r\nRays = 1\r\n\r\n[Map]\r\nSize=2\r\n",
        "[Map]\nSize=2\n[Bake]\nSpread=1",
        "[bake]\nRays=1\n[Bake]\nNew=9\n",
    };
    for (const char* start : starts) {
        fs::remove(file_);
        if (start) Spit(start);
        for (const auto& [key, value] : batch)
            ASSERT_TRUE(WritePrivateProfileString("Bake", key.c_str(), value->c_str(), path_.c_str()));
        const std::string singles = Slurp();
        fs::remove(file_);
        if (start) Spit(start);
        ASSERT_TRUE(WritePrivateProfileStrings("Bake", batch, path_.c_str()));
        EXPECT_EQ(Slurp(), singles) << (start ? start : "(no file)");
    }
}

TEST_F(HostIni, WritingTheSameValuesAgainLeavesTheFileAlone)
{
    const ProfileEntries batch = {{"Rays", "12"}, {"Spread", "0.5"}};
    ASSERT_TRUE(WritePrivateProfileStrings("Bake", batch, path_.c_str()));
    struct stat before {}, after {};
    ASSERT_EQ(::stat(file_.c_str(), &before), 0);
    ASSERT_TRUE(WritePrivateProfileStrings("Bake", batch, path_.c_str()));
    ASSERT_EQ(::stat(file_.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);  // not even replaced
    EXPECT_EQ(Slurp(), "[Bake]\nRays=12\nSpread=0.5\n");
}

TEST_F(HostIni, FailedWritesChangeNothing)
{
    const std::string missing = dir_ + "\\no-such-dir\\Dunsmere.ini";
    EXPECT_FALSE(WritePrivateProfileString("Bake", "Rays", "1", missing.c_str()));
    EXPECT_TRUE(Entries().empty());
    Spit("[Bake]\nRays=1\n");
    EXPECT_FALSE(WritePrivateProfileString("Bake", "Rays", "2\n[Evil]", path_.c_str()));
    EXPECT_FALSE(WritePrivateProfileStrings("Bake", {{"Rays", "2"}, {"a=b", "1"}}, path_.c_str()));
    EXPECT_FALSE(WritePrivateProfileString("Ba]ke", "Rays", "2", path_.c_str()));
    EXPECT_FALSE(WritePrivateProfileString("Bake", " ", "2", path_.c_str()));
    EXPECT_EQ(Slurp(), "[Bake]\nRays=1\n");
}

TEST_F(HostIni, ASnapshotWaitsForTheWriterHoldingTheLock)
{
    Spit("[Bake]\nRays=1\n");
    const int lock = ::open((file_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    std::atomic<bool> taken{false};
    int rays = 0;
    std::thread reader([&] {
        rays = ProfileSnapshot(path_.c_str()).GetInt("Bake", "Rays", 0);
        taken.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(taken.load());
    Spit("[Bake]\nRays=2\n");  // written in place: only the lock keeps a reader out
    ::flock(lock, LOCK_UN);
    ::close(lock);
    reader.join();
    EXPECT_EQ(rays, 2);
}

TEST_F(HostIni, OnlyTheFileAndItsLockAreLeftBehind)
{
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(WritePrivateProfileString("Bake", "Rays", std::to_string(i).c_str(), path_.c_str()));
    EXPECT_EQ(Entries(), (std::set<std::string>{"Dunsmere.ini", "Dunsmere.ini.lock"}));
}

// Concurrent savers each write one complete 13-key batch, tagged with the
// saver and the round, fifty times over.
constexpr int kKeys = 13;
constexpr int kRounds = 50;

ProfileEntries Batch(int saver, int round)
{
    ProfileEntries entries;
    for (int k = 0; k < kKeys; ++k)
        entries.emplace_back("Key" + std::to_string(k),
                             "s" + std::to_string(saver) + "r" + std::to_string(round) + "k" + std::to_string(k));
    return entries;
}

std::string Saved(int saver, int round)
{
    std::string bytes = "[Bake]\n";
    for (const auto& [key, value] : Batch(saver, round)) bytes += key + "=" + *value + "\n";
    return bytes;
}

constexpr int kSavers = 2;

// Whether BYTES are one saver's complete batch of some round (of the last
// round only, when LAST_ONLY).
bool OneWholeBatch(const std::string& bytes, bool lastOnly)
{
    for (int s = 0; s < kSavers; ++s)
        for (int r = lastOnly ? kRounds - 1 : 0; r < kRounds; ++r)
            if (bytes == Saved(s, r)) return true;
    return false;
}

TEST_F(HostIni, ConcurrentProcessesNeverMixTheirSaves)
{
    ASSERT_TRUE(WritePrivateProfileStrings("Bake", Batch(0, 0), path_.c_str()));
    for (int s = 0; s < kSavers; ++s) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            bool ok = true;
            for (int r = 0; r < kRounds; ++r)
                ok = WritePrivateProfileStrings("Bake", Batch(s, r), path_.c_str()) && ok;
            ::_exit(ok ? 0 : 1);
        }
    }
    // The parent reads without a lock while the children save.
    int torn = 0, running = kSavers, failed = 0;
    while (running > 0) {
        if (!OneWholeBatch(Slurp(), false)) ++torn;
        int status = 0;
        const pid_t done = ::waitpid(-1, &status, WNOHANG);
        if (done > 0) {
            --running;
            if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
        }
    }
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(torn, 0);
    EXPECT_TRUE(OneWholeBatch(Slurp(), true));
    EXPECT_EQ(Entries(), (std::set<std::string>{"Dunsmere.ini", "Dunsmere.ini.lock"}));
}

TEST_F(HostIni, ConcurrentSaversLoseNoKeys)
{
    // Every saver adds keys of its own each round: a save made from a copy
    // read before another saver's replace would drop that saver's keys.
    constexpr int kThreads = 4, kAdds = 25;
    std::vector<std::thread> savers;
    for (int s = 0; s < kThreads; ++s)
        savers.emplace_back([&, s] {
            for (int r = 0; r < kAdds; ++r) {
                const std::string key = "s" + std::to_string(s) + "r" + std::to_string(r);
                WritePrivateProfileStrings("Bake", {{key, "1"}}, path_.c_str());
            }
        });
    for (auto& t : savers) t.join();
    for (int s = 0; s < kThreads; ++s)
        for (int r = 0; r < kAdds; ++r)
            EXPECT_EQ(GetPrivateProfileInt("Bake", ("s" + std::to_string(s) + "r" + std::to_string(r)).c_str(), 0,
                                           path_.c_str()), 1);
}

}  // namespace
