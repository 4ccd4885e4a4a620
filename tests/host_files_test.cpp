// The one way files are replaced, below the writers: links, long names,
// leftovers of killed runs, and a cancel during a write. And the digest that
// names a glTF buffer.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/mesh/sha256.h"
#include "host/temporary_files.h"
#include "scratch_dir.h"
#include "file_bytes.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;

void WriteAll(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

bool Replace(const std::string& target, const std::string& bytes)
{
    TemporaryFile file(target);
    return file.fd() >= 0 && file.Write(bytes.data(), bytes.size()) && file.Commit();
}

TEST(Sha256, KnownDigests)
{
    EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Every length across the one- and two-block tails, against coreutils.
TEST(Sha256, AgreesWithSha256sum)
{
    ScratchDir dir;
    std::mt19937 draw(11);
    for (size_t length = 0; length <= 130; ++length) {
        std::string bytes(length, '\0');
        for (char& c : bytes) c = static_cast<char>(draw());
        WriteAll(dir / "bytes", bytes);
        std::FILE* pipe = ::popen(("sha256sum '" + (dir / "bytes") + "'").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char hex[65] = {};
        const size_t n = std::fread(hex, 1, 64, pipe);
        ::pclose(pipe);
        ASSERT_EQ(n, 64u);
        EXPECT_EQ(Sha256Hex(bytes), hex) << length << " bytes";
    }
}

TEST(TemporaryFiles, ALinkIsWrittenThroughAndStays)
{
    ScratchDir dir;
    fs::create_directory(dir / "real");
    WriteAll(dir / "real/map.png", "old");
    fs::create_symlink("real/map.png", dir / "link.png");
    ASSERT_TRUE(Replace(dir / "link.png", "new"));
    EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
    EXPECT_EQ(ReadAll(dir / "real/map.png"), "new");
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"link.png", "real"}));

    // A link to nowhere yet makes its file.
    fs::create_symlink("real/later.png", dir / "dangling.png");
    ASSERT_TRUE(Replace(dir / "dangling.png", "made"));
    EXPECT_TRUE(fs::is_symlink(dir / "dangling.png"));
    EXPECT_EQ(ReadAll(dir / "real/later.png"), "made");
}

TEST(TemporaryFiles, ALongestNameStillHasATemporary)
{
    ScratchDir dir;
    const std::string target = dir / (std::string(246, 'n') + ".png");
    TemporaryFile file(target);
    ASSERT_GE(file.fd(), 0) << std::strerror(file.error());
    EXPECT_LE(fs::path(file.path()).filename().string().size(), 255u);
    EXPECT_EQ(fs::path(file.path()).parent_path(), fs::path(dir.path()));
    ASSERT_TRUE(file.Write("x", 1));
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(ReadAll(target), "x");
}

// Whoever holds a temporary's lock owns it, whatever its process id says.
TEST(TemporaryFiles, LeftoversNobodyHoldsGoOthersStay)
{
    ScratchDir dir;
    const TemporaryFile live(dir / "live.png");  // locked through another open of this process
    const pid_t killed = ::fork();
    if (killed == 0) {
        const TemporaryFile left(dir / "killed.png");
        ::_exit(0);  // never removed, as by a killed run
    }
    ::waitpid(killed, nullptr, 0);
    WriteAll(dir / ".map.png.dunsmere-1-0.tmp", "half");  // process 1 lives, yet holds nothing
    std::vector<std::string> expected{"map.png", fs::path(live.path()).filename()};
    for (const char* name : {".map.png.dunsmere-1-x.tmp", "map.png.dunsmere-1-0.tmp", "map.png.1-0.tmp"}) {
        WriteAll(dir / name, "");
        expected.push_back(name);
    }
    ASSERT_EQ(dir.Entries().size(), expected.size() + 1) << "killed.png's temporary is there";
    ASSERT_TRUE(Replace(dir / "map.png", "whole"));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.Entries(), expected);
}

TEST(TemporaryFiles, ACancelAbandonsOnlyTheWritesUnderWay)
{
    ScratchDir dir;
    WriteAll(dir / "map.png", "old");
    TemporaryFile during(dir / "map.png");
    ASSERT_TRUE(during.Write("new", 3));
    AbandonTemporaryFiles();
    TemporaryFile after(dir / "partial.png");
    ASSERT_TRUE(after.Write("partial", 7));

    errno = 0;
    EXPECT_FALSE(during.Commit());
    EXPECT_EQ(errno, ECANCELED);
    EXPECT_TRUE(after.Commit());
    EXPECT_EQ(ReadAll(dir / "map.png"), "old");
    EXPECT_EQ(ReadAll(dir / "partial.png"), "partial");
}

}  // namespace
