// Hostile mesh files against the contained importer: the child process and
// its limits, the answer's decoder, the flattening of node graphs, and each
// nasty file through the command, which must end with an input error and
// leave the output as it was.
#include <gtest/gtest.h>

#include <algorithm>

#include <assimp/scene.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/mesh/import_child.h"
#include "app/mesh/import_flatten.h"
#include "app/mesh/import_stream.h"
#include "app/mesh/mesh_file.h"
#include "command_runner.h"
#include "scratch_dir.h"
#include "file_bytes.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;

// --- The child and its limits ----------------------------------------------

ImportLimits Small()
{
    ImportLimits limits;
    limits.memoryBytes = 256ull << 20;
    limits.cpuSeconds = 10;
    limits.stackBytes = 64ull << 20;
    limits.wallSeconds = 30;
    return limits;
}

// Each frame keeps a kilobyte live across the call, so the depth costs stack:
// the callee reads its caller's frame, so no optimiser can fold the frames
// into a loop.
__attribute__((noinline)) int Deep(int depth, const volatile char* caller = nullptr)
{
    volatile char frame[1024];
    frame[0] = static_cast<char>(depth);
    frame[1023] = caller ? caller[0] : 0;
    if (depth == 0) return frame[0];
    const int below = Deep(depth - 1, frame);
    return below + frame[0] + frame[1023];
}

TEST(ImportChild, LimitsGrowWithTheFileAndTheFactor)
{
    const ImportLimits empty = ImportLimitsFor(0, 1.0);
    EXPECT_EQ(empty.memoryBytes, 1ull << 30);
    EXPECT_EQ(empty.cpuSeconds, 10u);
    EXPECT_EQ(empty.stackBytes, 64ull << 20);
    const ImportLimits mib = ImportLimitsFor(1ull << 20, 1.0);
    EXPECT_EQ(mib.memoryBytes, (1ull << 30) + (64ull << 20));
    EXPECT_EQ(mib.cpuSeconds, 12u);
    EXPECT_EQ(ImportLimitsFor(1ull << 30, 1.0).memoryBytes, 16ull << 30);  // the cap
    const ImportLimits twice = ImportLimitsFor(1ull << 20, 2.0);
    EXPECT_EQ(twice.memoryBytes, 2 * mib.memoryBytes);
    EXPECT_EQ(twice.cpuSeconds, 2 * mib.cpuSeconds);
    EXPECT_EQ(twice.stackBytes, 2 * mib.stackBytes);
    EXPECT_GT(twice.wallSeconds, twice.cpuSeconds);
}

TEST(ImportChild, AnAnswerLargerThanThePipeComesBackWhole)
{
    std::string big(5 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7919 >> 8);
    const ChildResult r = RunInChild(Small(), nullptr, [&] { return big; });
    ASSERT_EQ(r.end, ChildEnd::kAnswered);
    EXPECT_TRUE(r.answer == big);
}

TEST(ImportChild, TheStackLimitIsTheWorksStack)
{
    // Over 20 MiB of frames: more than a usual 8 MiB main stack, well within
    // the limit's 64 MiB (instrumented frames too); the same work on a
    // smaller stack overflows.
    const auto deep = [] { return std::to_string(Deep(20'000)); };
    EXPECT_EQ(RunInChild(Small(), nullptr, deep).end, ChildEnd::kAnswered);
    ImportLimits shallow = Small();
    shallow.stackBytes = 4ull << 20;
    EXPECT_EQ(RunInChild(shallow, nullptr, deep).end, ChildEnd::kCrashed);
}

TEST(ImportChild, RunawayAllocationRunsOutOfMemory)
{
    const ChildResult r = RunInChild(Small(), nullptr, [] {
        std::vector<std::unique_ptr<char[]>> hoard;
        for (;;) {
            hoard.emplace_back(new char[16 << 20]);
            std::memset(hoard.back().get(), 1, 16 << 20);
        }
        return std::string();
    });
#ifdef DUNSMERE_SANITIZED
    // The sanitizer's allocator reports the failure and exits on its own.
    EXPECT_NE(r.end, ChildEnd::kAnswered);
#else
    EXPECT_EQ(r.end, ChildEnd::kOutOfMemory);
#endif
}

TEST(ImportChild, SpinningAndBlockingTakeTooLong)
{
    ImportLimits limits = Small();
    limits.cpuSeconds = 1;
    EXPECT_EQ(RunInChild(limits, nullptr, [] {
                  volatile unsigned n = 0;
                  for (;;) n = n + 1u;
                  return std::string();
              }).end,
              ChildEnd::kTookTooLong);
    limits.cpuSeconds = 60;
    limits.wallSeconds = 1;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RunInChild(limits, nullptr, [] {
                  pause();
                  return std::string();
              }).end,
              ChildEnd::kTookTooLong);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST(ImportChild, AbortCrashesAndACancelKillsTheChild)
{
    EXPECT_EQ(RunInChild(Small(), nullptr, []() -> std::string { abort(); }).end, ChildEnd::kCrashed);
    static int asked = 0;
    asked = 0;
    const ChildResult r = RunInChild(Small(), [] { return ++asked > 3; }, [] {
        pause();
        return std::string("too late");
    });
    EXPECT_EQ(r.end, ChildEnd::kCancelled);
    EXPECT_TRUE(r.answer.empty());
}

// --- The answer's decoder ---------------------------------------------------

ImportedScene TwoTriangles()
{
    ImportedScene s;
    s.verts = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    s.triangles = {{{0, 1, 2}, {0, 1, 2}, 0}, {{0, 2, 3}, {3, 4, 5}, 1}};
    s.flatCount = 6;
    s.uvs[2] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 0, 0}, {1, 1, 0}, {0, 1, 0}};
    s.colors = std::vector<VertColor>(6, VertColor{0.5f, 0.25f, 1.0f});
    s.materialNames = {"stone", ""};
    s.ignoredPrimitives = 7;
    return s;
}

std::string DecodeError(std::string_view bytes)
{
    try {
        DecodeImportAnswer(bytes, "in.ply");
    } catch (const MeshFileError& e) {
        return e.what();
    }
    return "";
}

// The payload starts after magic, version, kind and length.
constexpr size_t kPayload = 20;

TEST(ImportStream, ASceneComesBackAsItWent)
{
    const ImportedScene s = TwoTriangles();
    const ImportedScene back = DecodeImportAnswer(EncodeImportedScene(s), "in.ply");
    EXPECT_EQ(back.verts, s.verts);
    ASSERT_EQ(back.triangles.size(), 2u);
    EXPECT_EQ(std::memcmp(back.triangles.data(), s.triangles.data(), 2 * sizeof(ImportedTriangle)), 0);
    EXPECT_EQ(back.flatCount, 6u);
    for (unsigned k = 0; k < kImportUVSets; ++k) EXPECT_EQ(back.uvs[k], s.uvs[k]) << k;
    EXPECT_EQ(back.colors, s.colors);
    EXPECT_EQ(back.materialNames, s.materialNames);
    EXPECT_EQ(back.ignoredPrimitives, 7u);
    EXPECT_EQ(DecodeError(EncodeImportError("Validation failed")), "in.ply: Validation failed");
}

TEST(ImportStream, EveryCutAndAnyExtraByteIsRefused)
{
    const std::string bytes = EncodeImportedScene(TwoTriangles());
    for (size_t n = 0; n < bytes.size(); ++n)
        EXPECT_NE(DecodeError(std::string_view(bytes).substr(0, n)).find("cut short"), std::string::npos) << n;
    EXPECT_NE(DecodeError(bytes + '\0').find("1 bytes too many"), std::string::npos);
    // A payload that ends early while its length says so is cut short too.
    std::string shorter = bytes.substr(0, bytes.size() - 4);
    const std::uint64_t length = shorter.size() - kPayload;
    std::memcpy(&shorter[12], &length, 8);
    EXPECT_NE(DecodeError(shorter).find("cut short"), std::string::npos);
}

TEST(ImportStream, ValuesOutOfRangeAreInputErrors)
{
    auto refused = [](ImportedScene s) { return DecodeError(EncodeImportedScene(s)); };
    ImportedScene s = TwoTriangles();
    s.triangles[1].v[2] = 4;
    EXPECT_EQ(refused(s), "in.ply: face 1 uses vertex 4 of 4");
    s = TwoTriangles();
    s.triangles[0].flat[1] = 6;
    EXPECT_EQ(refused(s), "in.ply: face 0 uses corner vertex 6 of 6");
    s = TwoTriangles();
    s.triangles[0].material = 0x10000;
    EXPECT_NE(refused(s).find("material index 65536"), std::string::npos);
    s = TwoTriangles();
    s.verts[3].y = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(refused(s), "in.ply: vertex 3 has a coordinate that is not a finite number");
    s = TwoTriangles();
    s.uvs[2][5].x = std::numeric_limits<float>::infinity();
    EXPECT_EQ(refused(s), "in.ply: map vertex 5 has a component that is not a finite number");
    s = TwoTriangles();
    s.colors[0].z = -std::numeric_limits<float>::infinity();
    EXPECT_EQ(refused(s), "in.ply: colour vertex 0 has a component that is not a finite number");
    s = TwoTriangles();
    s.triangles.clear();
    EXPECT_EQ(refused(s), "in.ply: no triangles");

    std::string bytes = EncodeImportedScene(TwoTriangles());
    bytes[4] = 3;  // another version
    EXPECT_NE(DecodeError(bytes).find("version 3"), std::string::npos);
}

TEST(ImportStream, NoByteChangedMakesTheDecoderReadOutOfRange)
{
    // A hostile count must not allocate beyond the stream, and any answer
    // accepted must index only what it has.
    const std::string bytes = EncodeImportedScene(TwoTriangles());
    std::string huge = bytes;
    const std::uint32_t count = 0x7FFFFFFF;
    std::memcpy(&huge[kPayload], &count, 4);
    EXPECT_NE(DecodeError(huge).find("cut short"), std::string::npos);
    for (size_t i = 0; i < bytes.size(); ++i)
        for (unsigned char flip : {0x01, 0x80, 0xFF}) {
            std::string b = bytes;
            b[i] = static_cast<char>(b[i] ^ flip);
            try {
                const ImportedScene s = DecodeImportAnswer(b, "in.ply");
                for (const ImportedTriangle& t : s.triangles)
                    for (int k = 0; k < 3; ++k) {
                        ASSERT_LT(t.v[k], s.verts.size()) << i;
                        ASSERT_LT(t.flat[k], s.flatCount) << i;
                    }
                for (const auto& set : s.uvs) ASSERT_TRUE(set.empty() || set.size() == s.flatCount) << i;
                ASSERT_TRUE(s.colors.empty() || s.colors.size() == s.flatCount) << i;
            } catch (const MeshFileError&) {
            }
        }
}

// --- Flattening node graphs -------------------------------------------------

// A scene built by hand around one triangle. Assimp's destructors free the
// graph recursively, so the nodes are owned here and unlinked before.
struct HandScene {
    HandScene()
    {
        mesh.mNumVertices = 3;
        mesh.mVertices = new aiVector3D[3]{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
        mesh.mNumFaces = 1;
        mesh.mFaces = new aiFace[1];
        mesh.mFaces[0].mNumIndices = 3;
        mesh.mFaces[0].mIndices = new unsigned[3]{0, 1, 2};
        meshes[0] = &mesh;
        scene.mMeshes = meshes;
        scene.mNumMeshes = 1;
    }
    ~HandScene()
    {
        for (auto& n : nodes) {
            delete[] n->mChildren;
            n->mChildren = nullptr;
            n->mNumChildren = 0;
        }
        scene.mRootNode = nullptr;
        scene.mMeshes = nullptr;
        scene.mNumMeshes = 0;
    }
    aiNode* Node(bool withMesh)
    {
        nodes.push_back(std::make_unique<aiNode>());
        aiNode* n = nodes.back().get();
        if (withMesh) {
            n->mNumMeshes = 1;
            n->mMeshes = new unsigned[1]{0};
        }
        if (!scene.mRootNode) scene.mRootNode = n;
        return n;
    }
    static void Children(aiNode* parent, std::vector<aiNode*> children)
    {
        delete[] parent->mChildren;
        parent->mNumChildren = static_cast<unsigned>(children.size());
        parent->mChildren = new aiNode*[children.size()];
        for (size_t i = 0; i < children.size(); ++i) parent->mChildren[i] = children[i];
    }

    aiMesh mesh;
    aiMesh* meshes[1] = {};
    aiScene scene;
    std::vector<std::unique_ptr<aiNode>> nodes;
};

std::string FlattenError(const aiScene& scene)
{
    try {
        FlattenScene(scene, "in.gltf");
    } catch (const MeshFileError& e) {
        return e.what();
    }
    return "";
}

TEST(ImportFlatten, ANodeWithTwoParentsIsNamedByItsNumber)
{
    HandScene shared;
    aiNode* root = shared.Node(false);
    aiNode* a = shared.Node(false);
    aiNode* b = shared.Node(false);
    aiNode* c = shared.Node(true);
    HandScene::Children(root, {a, b});
    HandScene::Children(a, {c});
    HandScene::Children(b, {c});  // c is node 2 of the walk: root 0, a 1, c 2, b 3
    EXPECT_EQ(FlattenError(shared.scene), "in.gltf: node 2 has more than one parent");

    HandScene cycle;
    root = cycle.Node(true);
    a = cycle.Node(false);
    HandScene::Children(root, {a});
    HandScene::Children(a, {root});
    EXPECT_EQ(FlattenError(cycle.scene), "in.gltf: node 0 has more than one parent");
}

TEST(ImportFlatten, AChainDeeperThanItsStackIsWalked)
{
    // 100,000 levels, flattened on a 2 MiB stack: a walk that recursed would
    // need far more, a matrix per level at the least.
    HandScene chain;
    aiNode* node = chain.Node(false);
    constexpr int kLevels = 100'000;
    for (int i = 0; i < kLevels; ++i) {
        aiNode* next = chain.Node(i + 1 == kLevels);
        next->mTransformation = aiMatrix4x4(aiVector3D(1, 1, 1), aiQuaternion(), aiVector3D(0, 0, 1));
        HandScene::Children(node, {next});
        node = next;
    }
    ImportLimits limits = Small();
    limits.stackBytes = 2ull << 20;
    const ChildResult r = RunInChild(limits, nullptr, [&] { return EncodeImportedScene(FlattenScene(chain.scene, "in.gltf")); });
    ASSERT_EQ(r.end, ChildEnd::kAnswered);
    const ImportedScene s = DecodeImportAnswer(r.answer, "in.gltf");
    ASSERT_EQ(s.triangles.size(), 1u);
    EXPECT_EQ(s.verts[0].z, static_cast<float>(kLevels));  // every level's move applied
}

// --- Nasty files through the command ----------------------------------------

class CommandImport : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(scratch / "out");
        std::ofstream(output) << "the old output\n";
    }

    CommandResult Bake(const std::string& input, std::vector<std::string> extra = {},
                       const std::function<void(pid_t, const std::string&)>& onErrLine = {})
    {
        std::vector<std::string> args{"--config-dir", scratch / "config", "--algorithm", "vertex-colors",
                                      "--horizontal", "2", "--vertical", "1", input, "-o", output};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunProgram(DUNSMERE_COMMAND, args, onErrLine);
    }
    static std::string Bad(const std::string& name) { return std::string(DUNSMERE_TEST_DATA) + "/bad/import/" + name; }

    // The output directory holds the old output alone, as it was.
    void ExpectOutputUntouched()
    {
        EXPECT_EQ(ReadAll(output), "the old output\n");
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(scratch / "out")) names.push_back(e.path().filename().string());
        EXPECT_EQ(names, std::vector<std::string>{"out.ply"});
    }
    void ExpectRefused(const std::string& input, const std::string& why, std::vector<std::string> extra = {})
    {
        const CommandResult r = Bake(input, extra);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("dunsmere: " + input + ": " + why), std::string::npos) << r.err;
        // One message, and nothing the importer itself printed as it failed.
        EXPECT_EQ(r.err.rfind("dunsmere: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        ExpectOutputUntouched();
    }

    ScratchDir scratch;
    std::string output = scratch / "out/out.ply";
};

TEST_F(CommandImport, BinaryPlyCutShortIsAnInputError)
{
    // The importer's own check of its data finds the indices never read.
    ExpectRefused(Bad("binary_cut_short.ply"), "Validation failed");
}

TEST_F(CommandImport, ImporterAbortOrSegfaultIsACrash)
{
    ExpectRefused(Bad("face_of_no_indices.ply"), "could not be read (the importer crashed)");
    // Found by the fuzzer: a header cut inside a vertex element makes the
    // PLY reader read through a wild pointer.
    ExpectRefused(Bad("reader_segfault.ply"), "could not be read (the importer crashed)");
}

TEST_F(CommandImport, DoublingNodeGraphRunsOutOfMemory)
{
    // Forty levels, each naming the next twice: 2^40 nodes once expanded.
#ifdef DUNSMERE_SANITIZED
    const CommandResult r = Bake(Bad("doubling_nodes.gltf"));
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("could not be read (the importer"), std::string::npos) << r.err;
    ExpectOutputUntouched();
#else
    ExpectRefused(Bad("doubling_nodes.gltf"), "could not be read (the importer ran out of memory)");
#endif
}

TEST_F(CommandImport, HeaderThatNeverEndsTakesTooLong)
{
    // The importer spins until its CPU limit (10 s) runs out.
    ExpectRefused(Bad("header_cut_short.ply"), "could not be read (the importer took too long)");
}

TEST_F(CommandImport, FifosAndDevicesAreRefusedAtOnce)
{
    const std::string fifo = scratch / "in.ply";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ExpectRefused(fifo, "not a regular file");  // with no writer, opening it would block
    const std::string zero = scratch / "zero.obj";
    fs::create_symlink("/dev/zero", zero);
    ExpectRefused(zero, "not a regular file");
    ExpectRefused(scratch / "out", "not a regular file");
}

TEST_F(CommandImport, DeepNodeChainBakes)
{
    // 100,000 nodes, each the only child of the one before, the triangle at
    // the end: too deep for the importer on an ordinary stack.
    const float corners[] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    std::string b64;
    {
        static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        const auto* p = reinterpret_cast<const unsigned char*>(corners);
        for (size_t i = 0; i < sizeof corners; i += 3) {
            const unsigned n = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];  // 36 bytes: no padding
            for (int shift : {18, 12, 6, 0}) b64 += digits[(n >> shift) & 63];
        }
    }
    std::ostringstream g;
    g << R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[)";
    constexpr int kNodes = 100'000;
    for (int i = 0; i + 1 < kNodes; ++i) g << R"({"children":[)" << i + 1 << "]},";
    g << R"({"mesh":0}],"meshes":[{"primitives":[{"attributes":{"POSITION":0}}]}],)"
      << R"("buffers":[{"byteLength":36,"uri":"data:application/octet-stream;base64,)" << b64 << R"("}],)"
      << R"("bufferViews":[{"buffer":0,"byteLength":36}],)"
      << R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]}]})";
    const std::string chain = scratch / "chain.gltf";
    std::ofstream(chain) << g.str();
#ifdef DUNSMERE_SANITIZED
    const std::vector<std::string> extra{"--import-limits", "4"};  // instrumented frames are larger
#else
    const std::vector<std::string> extra;
#endif
    const CommandResult r = Bake(chain, extra);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(ReadAll(output).find("element face 1\n"), std::string::npos);
}

TEST_F(CommandImport, PointsAndLinesAreCountedInAWarning)
{
    // A triangle, three points and a line of three vertices (one segment).
    const float data[] = {0, 0, 0, 1, 0, 0, 0, 1, 0, 5, 5, 5, 6, 5, 5, 7, 5, 5};
    std::string bytes(reinterpret_cast<const char*>(data), sizeof data), b64;
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const auto at = [&](size_t k) { return static_cast<unsigned>(static_cast<unsigned char>(bytes[k])); };
        const unsigned n = (at(i) << 16) | (at(i + 1) << 8) | at(i + 2);  // 72 bytes: no padding
        for (int shift : {18, 12, 6, 0}) b64 += digits[(n >> shift) & 63];
    }
    const std::string path = scratch / "mixed.gltf";
    std::ofstream(path) << R"({"asset":{"version":"2.0"},"scene":0,"scenes":[{"nodes":[0]}],"nodes":[{"mesh":0}],)"
                        << R"("meshes":[{"primitives":[{"attributes":{"POSITION":0}},)"
                        << R"({"attributes":{"POSITION":1},"mode":0},{"attributes":{"POSITION":1},"mode":1}]}],)"
                        << R"("buffers":[{"byteLength":72,"uri":"data:application/octet-stream;base64,)" << b64
                        << R"("}],"bufferViews":[{"buffer":0,"byteLength":36},{"buffer":0,"byteOffset":36,"byteLength":36}],)"
                        << R"("accessors":[{"bufferView":0,"componentType":5126,"count":3,"type":"VEC3","min":[0,0,0],"max":[1,1,0]},)"
                        << R"({"bufferView":1,"componentType":5126,"count":3,"type":"VEC3","min":[5,5,5],"max":[7,5,5]}]})";
    const CommandResult r = Bake(path);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("dunsmere: warning: " + path + ": 4 point and line primitives ignored\n"), std::string::npos)
        << r.err;
    EXPECT_NE(ReadAll(output).find("element face 1\n"), std::string::npos);
}

// The processes the test process started, and theirs.
std::vector<pid_t> ChildrenOf(pid_t pid)
{
    std::vector<pid_t> found;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task")) {
        std::ifstream in(task.path() / "children");
        for (pid_t child; in >> child;) found.push_back(child);
    }
    return found;
}

TEST_F(CommandImport, FirstSignalCancelsTheLoadAndKillsTheImporter)
{
    CommandResult r;
    std::thread run([&] { r = Bake(Bad("header_cut_short.ply")); });
    // Wait for the importer to be spinning in its child.
    pid_t command = 0, importer = 0;
    const auto started = std::chrono::steady_clock::now();
    while (!importer && std::chrono::steady_clock::now() - started < std::chrono::seconds(8)) {
        for (pid_t c : ChildrenOf(getpid()))
            for (pid_t grandchild : ChildrenOf(c)) command = c, importer = grandchild;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(importer, 0);
    kill(command, SIGINT);
    run.join();
    EXPECT_EQ(r.status, 130) << r.err;  // not the importer's CPU limit, 10 s later
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8));
    EXPECT_FALSE(fs::exists("/proc/" + std::to_string(importer)));
    ExpectOutputUntouched();
}

TEST_F(CommandImport, LimitFactorBelowOneIsAUsageError)
{
    for (const char* factor : {"0.5", "nan", "many"}) {
        const CommandResult r = Bake(Bad("binary_cut_short.ply"), {"--import-limits", factor});
        EXPECT_EQ(r.status, 2) << factor;
        EXPECT_NE(r.err.find("--import-limits"), std::string::npos) << r.err;
    }
    ExpectOutputUntouched();
}

}  // namespace
