// What a run leaves on disk when things go wrong around its writes: the old
// file or the complete new one, never a stray temporary, and an exit that
// tells what happened. Failures a disk cannot be made to give on cue come
// from the command's test build (tests/fault_hooks.cpp).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "allocation_replaceable.h"
#include "command_runner.h"
#include "scratch_dir.h"
#include "file_bytes.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;

// Two triangles over the unit square, mapped onto the whole map.
constexpr const char* kQuad = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
                              "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n";

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Every name under DIR that looks like a temporary.
std::vector<std::string> Temporaries(const std::string& dir)
{
    std::vector<std::string> found;
    for (const auto& entry : fs::recursive_directory_iterator(dir))
        if (entry.path().filename().string().find(".tmp") != std::string::npos) found.push_back(entry.path());
    return found;
}

// The buffer a .gltf names.
std::string UriIn(const std::string& gltf)
{
    const std::string json = ReadAll(gltf);
    const size_t key = json.find("\"uri\"");
    if (key == std::string::npos) return "";
    const size_t open = json.find('"', json.find(':', key) + 1);
    return json.substr(open + 1, json.find('"', open + 1) - open - 1);
}

// The first 8 hex digits of the file's SHA-256, as coreutils computes it.
std::string Sha8(const std::string& path)
{
    const std::string command = "sha256sum '" + path + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    char digits[9] = {};
    if (!pipe) return "";
    const size_t n = std::fread(digits, 1, 8, pipe);
    ::pclose(pipe);
    return std::string(digits, n);
}

class OutputSafety : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = scratch.path();
        config = dir + "/config";
        mesh = dir + "/quad.obj";
        std::ofstream(mesh) << kQuad;
    }

    // A bake by the command, or by its test build with FAULT.
    CommandResult Bake(std::vector<std::string> args, const std::string& fault = "",
                       const std::function<void(pid_t, const std::string&)>& onErrLine = {})
    {
        args.insert(args.begin(), {"--config-dir", config, mesh});
        if (fault.empty()) return RunProgram(DUNSMERE_COMMAND, args, onErrLine);
        ::setenv("DUNSMERE_TEST_FAULT", fault.c_str(), 1);
        CommandResult r = RunProgram(DUNSMERE_FAULTY_COMMAND, args, onErrLine);
        ::unsetenv("DUNSMERE_TEST_FAULT");
        return r;
    }
    CommandResult Map(const std::string& out, const std::string& fault = "", std::string size = "64x64")
    {
        return Bake({"--defaults", "--size", size, "-o", out, "--quiet"}, fault);
    }
    CommandResult Colors(const std::string& out, const std::string& fault = "")
    {
        return Bake({"--defaults", "--algorithm", "vertex-colors", "-o", out, "--quiet"}, fault);
    }

    ScratchDir scratch;
    std::string dir, config, mesh;
};

TEST_F(OutputSafety, GltfBufferNeverReplacesTheOneTheOldFileNames)
{
    const std::string gltf = dir + "/out.gltf";
    ASSERT_EQ(Colors(gltf).status, 0);
    EXPECT_EQ(UriIn(gltf), "out.bin");

    // A second write may not touch out.bin while the old .gltf names it.
    ASSERT_EQ(Colors(gltf).status, 0);
    const std::string second = UriIn(gltf);
    ASSERT_EQ(second.size(), std::string("out-12345678.bin").size()) << second;
    EXPECT_EQ(second.substr(4, 8), Sha8(dir + "/" + second));
    EXPECT_FALSE(fs::exists(dir + "/out.bin")) << "the old buffer goes once nothing names it";

    ASSERT_EQ(Colors(gltf).status, 0);
    EXPECT_EQ(UriIn(gltf), "out.bin");
    EXPECT_FALSE(fs::exists(dir + "/" + second));

    // A file of that name that the old .gltf did not name is someone else's.
    fs::remove(gltf);
    ASSERT_EQ(Colors(gltf).status, 0);
    EXPECT_NE(UriIn(gltf), "out.bin");
    EXPECT_TRUE(fs::exists(dir + "/out.bin"));
}

// Through a link, the buffer lies beside the file the link leads to, where
// the name inside it is looked up.
TEST_F(OutputSafety, GltfThroughALinkKeepsItsBufferBesideIt)
{
    fs::create_directories(dir + "/real");
    fs::create_symlink("real/asset.gltf", dir + "/link.gltf");
    ASSERT_EQ(Colors(dir + "/link.gltf").status, 0);
    EXPECT_TRUE(fs::is_symlink(dir + "/link.gltf"));
    const std::string uri = UriIn(dir + "/real/asset.gltf");
    EXPECT_EQ(uri, "asset.bin");
    EXPECT_TRUE(fs::exists(dir + "/real/" + uri));
    EXPECT_FALSE(fs::exists(dir + "/link.bin"));
}

TEST_F(OutputSafety, FailedGltfWriteKeepsTheOldPair)
{
    const std::string gltf = dir + "/out.gltf";
    ASSERT_EQ(Colors(gltf).status, 0);
    const std::string json = ReadAll(gltf), bin = ReadAll(dir + "/out.bin");
    // The buffer's rename, then the .gltf's once the new buffer is there.
    for (const char* fault : {"rename 1 EIO .bin", "rename 1 ENOSPC .gltf", "write 1 EACCES .gltf"}) {
        SCOPED_TRACE(fault);
        const CommandResult r = Colors(gltf, fault);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(Count(r.err, "dunsmere: "), 1u) << r.err;
        EXPECT_EQ(ReadAll(gltf), json);
        EXPECT_EQ(ReadAll(dir + "/out.bin"), bin);
        EXPECT_EQ(scratch.Entries(), (std::vector<std::string>{"config", "out.bin", "out.gltf", "quad.obj"}));
    }
}

TEST_F(OutputSafety, InjectedFailuresEndInOrderAndKeepTheOldFile)
{
    struct Case {
        const char* out;
        const char* fault;
        const char* message;
    };
    const Case cases[] = {
        {"map.png", "write 1 ENOSPC .png", "No space left on device"},
        {"map.exr", "write 2 EIO .exr", "Input/output error"},
        {"map.tif", "sync 1 EIO .tif", "Input/output error"},
        {"map.png", "rename 1 EACCES .png", "Permission denied"},
        {"out.ply", "write 1 EIO .ply", "Input/output error"},
        {"out.obj", "sync 1 ENOSPC .obj", "No space left on device"},
        {"out.glb", "rename 1 EACCES .glb", "Permission denied"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.out) + ": " + c.fault);
        const std::string out = dir + "/" + c.out;
        const bool map = fs::path(out).extension() != ".ply" && fs::path(out).extension() != ".obj" &&
                         fs::path(out).extension() != ".glb";
        ASSERT_EQ((map ? Map(out) : Colors(out)).status, 0);
        const std::string before = ReadAll(out);
        const CommandResult r = map ? Map(out, c.fault, "80x80") : Colors(out, c.fault);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_EQ(Count(r.err, c.message), 1u) << r.err;
        EXPECT_EQ(Count(r.err, "fault hook: left open"), 0u) << r.err;
        EXPECT_EQ(ReadAll(out), before);
        EXPECT_EQ(Temporaries(dir), std::vector<std::string>{});
    }
}

// Permission bits stop nothing for root, as sessions and CI run.
TEST_F(OutputSafety, ReadOnlyFolderKeepsTheOldFile)
{
    if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    const std::string out = dir + "/maps/map.png";
    fs::create_directory(dir + "/maps");
    ASSERT_EQ(Map(out).status, 0);
    const std::string before = ReadAll(out);
    fs::permissions(dir + "/maps", fs::perms::owner_read | fs::perms::owner_exec);
    const CommandResult r = Map(out, "", "80x80");
    fs::permissions(dir + "/maps", fs::perms::owner_all);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(Count(r.err, "Permission denied"), 1u) << r.err;
    EXPECT_EQ(ReadAll(out), before);
    EXPECT_EQ(Temporaries(dir), std::vector<std::string>{});
}

TEST_F(OutputSafety, FailedSettingsSaveKeepsTheOldSettings)
{
    ASSERT_EQ(Map(dir + "/a.png").status, 0);
    const std::string settings = config + "/Dunsmere.ini";
    const std::string before = ReadAll(settings);
    ASSERT_FALSE(before.empty());
    const CommandResult r = Bake({"--size", "90x90", "-o", dir + "/b.png", "--quiet", "--debug"},
                                 "write * ENOSPC Dunsmere.ini");
    EXPECT_EQ(ReadAll(settings), before);
    EXPECT_EQ(Temporaries(dir), std::vector<std::string>{});
    EXPECT_EQ(Count(r.err, "fault hook: left open"), 0u) << r.err;
}

TEST_F(OutputSafety, OutOfMemoryIsAFailureNotABug)
{
    if (!kAllocationReplaceable) GTEST_SKIP() << "no allocation can be failed in this build";
    const std::string out = dir + "/map.png";
    ASSERT_EQ(Map(out).status, 0);
    const std::string before = ReadAll(out);
    // Each the first allocation of its size: the map's 512 x 512 x 8 bytes;
    // with --invert, the growth's 512 x 512 marks; the text of a mesh file
    // of 240 kB.
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* fault;
        int status;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"the bitmap", {"--size", "512x512"}, "alloc 1 1048576", 1, "out of memory"},
        {"the growth's marks", {"--size", "512x512", "--invert"}, "alloc 1 262144", 1, "Not enough memory"},
        {"the mesh's text", {}, "alloc 1 200000", 2, "padded.obj: out of memory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.status == 2) {
            mesh = dir + "/padded.obj";
            std::ofstream(mesh) << kQuad << std::string(240000, '#') << "\n";
        }
        std::vector<std::string> args = {"--defaults", "-o", out, "--quiet"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CommandResult r = Bake(args, c.fault);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_EQ(Count(r.err, c.says), 1u) << r.err;
        EXPECT_EQ(r.err.find("internal check"), std::string::npos) << r.err;
        EXPECT_EQ(ReadAll(out), before);
        EXPECT_EQ(Temporaries(dir), std::vector<std::string>{});
    }
}

TEST_F(OutputSafety, SignalDuringTheFinalWriteKeepsTheOldFile)
{
    for (const char* out : {"map.png", "out.ply"}) {
        SCOPED_TRACE(out);
        const std::string path = dir + "/" + out;
        const bool map = fs::path(path).extension() == ".png";
        ASSERT_EQ((map ? Map(path) : Colors(path)).status, 0);
        const std::string before = ReadAll(path);
        const CommandResult r = map ? Map(path, "rename 1 SIGINT .png", "80x80") : Colors(path, "write 1 SIGHUP .ply");
        EXPECT_EQ(r.signal, map ? SIGINT : SIGHUP) << r.err;
        EXPECT_EQ(ReadAll(path), before);
        EXPECT_EQ(Temporaries(dir), std::vector<std::string>{});
    }
}

// A cancel comes while the settings are being saved, and a second signal
// past the window of the first ends the run within that save.
TEST_F(OutputSafety, SecondSignalDuringTheSettingsSaveLeavesNoTemporary)
{
    ASSERT_EQ(Map(dir + "/a.png").status, 0);
    const std::string settings = config + "/Dunsmere.ini";
    const std::string before = ReadAll(settings);
    const CommandResult r =
        Bake({"--size", "90x90", "-o", dir + "/b.png", "--save-partial", "no"}, "write 1 2xSIGINT Dunsmere.ini");
    EXPECT_EQ(r.signal, SIGINT) << r.err;
    EXPECT_NE(r.err.find("interrupted"), std::string::npos) << r.err;
    EXPECT_EQ(ReadAll(settings), before);
    EXPECT_EQ(Temporaries(dir), std::vector<std::string>{});
    EXPECT_FALSE(fs::exists(dir + "/b.png"));
}

// `timeout` signals the process and then its group: one cancel, not two.
TEST_F(OutputSafety, SignalsCloseTogetherAreOneCancel)
{
    const std::string out = dir + "/map.png";
    bool sent = false;
    const CommandResult r = Bake({"--defaults", "--size", "1024x1024", "--horizontal", "24", "--vertical", "10",
                                  "-o", out, "--save-partial", "yes"},
                                 "", [&](pid_t pid, const std::string& line) {
                                     if (!sent && line.find("Building Smurl Map") != std::string::npos) {
                                         sent = true;
                                         kill(pid, SIGTERM);
                                         kill(pid, SIGTERM);
                                     }
                                 });
    ASSERT_TRUE(sent);
    EXPECT_EQ(r.signal, SIGTERM) << r.err;
    EXPECT_EQ(r.err.find("interrupted"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Save Partial Bitmap?"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::exists(out)) << "the partial map asked for is saved";
}

// The bake's stderr is a pipe nobody reads any more.
TEST_F(OutputSafety, ClosedStderrNeverStopsABake)
{
    const std::string out = dir + "/map.png";
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    const std::vector<std::string> args{"--config-dir", config, mesh, "--defaults", "--size", "64x64", "-o", out};
    std::vector<char*> argv{const_cast<char*>(DUNSMERE_COMMAND)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 2);
        ::execv(DUNSMERE_COMMAND, argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(fs::exists(out));
}

// A command put somewhere without its codec modules still bakes what needs
// none of them; a file that does is refused by name, the module named, and
// the old file kept.
TEST_F(OutputSafety, MissingCodecModulesAreNamedAndTheOldFilesKept)
{
    const fs::path bin = fs::path(DUNSMERE_COMMAND).parent_path(), lone = dir + "/lone";
    fs::create_directory(lone);
    fs::copy_file(DUNSMERE_COMMAND, lone / "dunsmere");
    for (const char* library : {"libdunsmere_hostrt.so", "libdunsmere_session.so"})
        fs::copy_file(bin / library, lone / library);
    fs::create_directory_symlink(bin / "plugins", lone / "plugins");
    const auto bake = [&](const std::string& out, const std::string& algorithm) {
        return RunProgram((lone / "dunsmere").string(), {"--config-dir", config, mesh, "--defaults", "--size", "64x64",
                                                         "--algorithm", algorithm, "-o", out, "--quiet"});
    };
    for (const auto& [out, algorithm, module] :
         {std::tuple{dir + "/map.tif", "uv-map", "libdunsmere_image_codecs.so"},
          std::tuple{dir + "/quad.glb", "vertex-colors", "libdunsmere_mesh_codecs.so"}}) {
        std::ofstream(out) << "old";
        const CommandResult r = bake(out, algorithm);
        EXPECT_NE(r.status, 0) << out;
        EXPECT_NE(r.err.find(out), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(module), std::string::npos) << r.err;
        EXPECT_EQ(ReadAll(out), "old");
    }
    EXPECT_EQ(bake(dir + "/map.png", "uv-map").status, 0);
    EXPECT_TRUE(Temporaries(dir).empty());
}

}  // namespace
