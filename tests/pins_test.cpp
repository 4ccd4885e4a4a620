// Pinned bakes of the bundled crate: the decoded output of each bake,
// hashed, must stay what the reference implementation produced. A pin
// hashes decoded values (16-bit map levels, vertex colour float bits), never
// file bytes, which change with the compression libraries' versions.
//
// A change that moves a pin changes what every user's maps look like; only
// a deliberate change of the specified output may update one.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "app/image/image_files.h"
#include "app/mesh/mesh_files.h"
#include "command_runner.h"
#include "local_hooks.h"
#include "map/map.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

struct Fnv1a {
    std::uint64_t h = 14695981039346656037ull;
    void Add(std::uint32_t v, int bytes)
    {
        for (int i = 0; i < bytes; ++i) {
            h ^= (v >> (8 * i)) & 0xFFu;
            h *= 1099511628211ull;
        }
    }
};

std::string Hex(std::uint64_t h)
{
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(h));
    return buf;
}

// Grey level and alpha of every texel, row by row from the top. The map is
// grey: red, green and blue must agree.
std::string MapPin(const std::string& path)
{
    RgbaImage16 image;
    const ImageFileResult read = ReadImageFile16(path, image);
    EXPECT_TRUE(read.ok) << read.error;
    Fnv1a f;
    f.Add(static_cast<std::uint32_t>(image.width), 4);
    f.Add(static_cast<std::uint32_t>(image.height), 4);
    for (const BMM_Color_64& p : image.pixels) {
        EXPECT_TRUE(p.r == p.g && p.g == p.b);
        f.Add(p.r, 2);
        f.Add(p.a, 2);
    }
    return Hex(f.h);
}

// The colour of every face corner, as float bits: independent of how the
// writer split vertices with several colours.
std::string ColourPin(const std::string& path)
{
    const MeshFile file = ReadMeshFile(path);
    const Mesh& m = file.mesh;
    EXPECT_TRUE(file.hadColors);
    EXPECT_EQ(m.getNumVCFaces(), m.getNumFaces());
    Fnv1a f;
    f.Add(static_cast<std::uint32_t>(m.getNumFaces()), 4);
    for (int face = 0; face < m.getNumVCFaces(); ++face)
        for (DWORD c : m.vcFace()[face].t) {
            const VertColor& col = m.vertCol()[c];
            for (float x : {col.x, col.y, col.z}) f.Add(std::bit_cast<std::uint32_t>(x), 4);
        }
    return Hex(f.h);
}

// Each bake runs twice: through the ray scene, and with --plain through the
// brute force every ray against every face. Both must give the pin.
class Pins : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override
    {
#if defined(DUNSMERE_SANITIZED)
        if (GetParam()) GTEST_SKIP() << "the brute force under a sanitizer takes minutes a bake; the release suite runs it";
#endif
    }
    // A bake from the load defaults with a settings directory of its own.
    void Bake(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--config-dir", scratch / "config", "--defaults", "-q"});
        if (GetParam()) args.push_back("--plain");
        const CommandResult r = RunProgram(DUNSMERE_COMMAND, args);
        ASSERT_EQ(r.status, 0) << r.err;
    }
    std::string Crate() const { return DUNSMERE_EXAMPLES "/crate.obj"; }

    ScratchDir scratch;
};

// One test per bake, so that each stays short under the sanitizers too.
TEST_P(Pins, MapAtTheDefaults)
{
    const std::string out = scratch / "map.png";
    Bake({Crate(), "--algorithm", "uv-map", "-o", out});
    EXPECT_EQ(MapPin(out), "488703a48103ba0b");
}

TEST_P(Pins, MapWithNoise)
{
    const std::string out = scratch / "map.png";
    Bake({Crate(), "--algorithm", "uv-map", "--noise", "-o", out});
    EXPECT_EQ(MapPin(out), "83e686fbc3bd8e76");
}

TEST_P(Pins, MapWithTheWidestSpread)
{
    const std::string out = scratch / "map.png";
    Bake({Crate(), "--algorithm", "uv-map", "--size", "50x50", "--horizontal", "24", "--vertical", "10", "-o", out});
    EXPECT_EQ(MapPin(out), "e075816e9560f550");
}

TEST_P(Pins, MapOfSelectedFacesOfOneMaterial)
{
    const std::string out = scratch / "map.png";
    Bake({Crate(), "--algorithm", "uv-map", "--material-filter", "--material-id", "2", "--selected-only",
          "--select-faces", "1000-2999", "-o", out});
    EXPECT_EQ(MapPin(out), "4ebce19497245c06");
}

// At a distance of 1, near the crate's own size, the ray distances show
// through: a hit distance one ulp off moves these pins.
TEST_P(Pins, Near)
{
    const std::string out = scratch / "map.png", colours = scratch / "near.obj";
    Bake({Crate(), "--algorithm", "uv-map", "--distance", "1", "-o", out});
    EXPECT_EQ(MapPin(out), "6e3b4d0c1fe60a53") << "map, distance 1";
    Bake({Crate(), "--algorithm", "vertex-colors", "--distance", "1", "-o", colours});
    EXPECT_EQ(ColourPin(colours), "54b03e08a940a140") << "vertex colours, distance 1";
}

TEST_P(Pins, VertexColours)
{
    const std::string replaced = scratch / "replaced.obj", accumulated = scratch / "accumulated.obj";
    Bake({Crate(), "--algorithm", "vertex-colors", "-o", replaced});
    EXPECT_EQ(ColourPin(replaced), "bdcf9657bd1af075") << "replace";
    // The crate has no colours of its own: accumulate over the replaced ones.
    Bake({replaced, "--algorithm", "vertex-colors", "--accumulate", "-o", accumulated});
    EXPECT_EQ(ColourPin(accumulated), "b818f95eddd8a348") << "accumulate";
}

// Thread counts cut the rows and the faces into different chunks; every
// count must still give the pins. 256 threads outnumber both the 50 x 50
// map's rows and the crate's chunks of faces.
TEST(PinsOnAnyThreadCount, OneTwoThreeSevenAndMoreThreadsThanWork)
{
    ScratchDir scratch;
    const std::string crate = DUNSMERE_EXAMPLES "/crate.obj";
    const auto bake = [&](const std::string& threads, std::vector<std::string> args) {
        args.insert(args.begin(), {"--config-dir", scratch / "config", "--defaults", "-q", "--threads", threads, crate});
        const CommandResult r = RunProgram(DUNSMERE_COMMAND, args);
        ASSERT_EQ(r.status, 0) << r.err;
    };
    const std::string map = scratch / "map.png", colours = scratch / "colours.obj";
    for (const char* n : {"1", "2", "3", "7"}) {
        bake(n, {"--algorithm", "uv-map", "-o", map});
        EXPECT_EQ(MapPin(map), "488703a48103ba0b") << n << " threads";
        bake(n, {"--algorithm", "uv-map", "--noise", "-o", map});
        EXPECT_EQ(MapPin(map), "83e686fbc3bd8e76") << n << " threads, noise";
        bake(n, {"--algorithm", "vertex-colors", "-o", colours});
        EXPECT_EQ(ColourPin(colours), "bdcf9657bd1af075") << n << " threads";
    }
    bake("256", {"--algorithm", "uv-map", "--size", "50x50", "--horizontal", "24", "--vertical", "10", "-o", map});
    EXPECT_EQ(MapPin(map), "e075816e9560f550");
    bake("256", {"--algorithm", "vertex-colors", "-o", colours});
    EXPECT_EQ(ColourPin(colours), "bdcf9657bd1af075");
}

// The cores alone, with no host: the crate at the load defaults, its map's
// levels with opaque alpha, and each face corner's grey level 1 - mean of
// the face values around its vertex, as a replacing run writes it.
TEST(PinsThroughTheCores, MapsAndVertexValues)
{
    const Mesh mesh = ReadMeshFile(DUNSMERE_EXAMPLES "/crate.obj").mesh;
    UtilitySettings settings;
    settings.mapChannel = 1;
    settings.dist = 30.0f;
    for (const auto& [noise, pin] : {std::pair{0, "488703a48103ba0b"}, std::pair{1, "83e686fbc3bd8e76"}}) {
        settings.noiseOn = noise;
        LocalHooks local(3);
        RunTables tables;
        MapRunState state;
        ASSERT_TRUE(ResetMapGrids(state, settings, local.hooks));
        MapBake bake(mesh, settings, tables, state, local.hooks);
        ASSERT_EQ(bake.Evaluate(), BakeStatus::kDone);
        ASSERT_EQ(bake.Finish(), BakeStatus::kDone);
        Fnv1a f;
        f.Add(static_cast<std::uint32_t>(settings.XSiz), 4);
        f.Add(static_cast<std::uint32_t>(settings.YSiz), 4);
        for (std::uint32_t y = 0; y < static_cast<std::uint32_t>(settings.YSiz); ++y)
            for (std::uint32_t x = 0; x < static_cast<std::uint32_t>(settings.XSiz); ++x) {
                f.Add(GreyLevel(state.TexelValues.Get(x, y)), 2);
                f.Add(65535, 2);
            }
        EXPECT_EQ(Hex(f.h), pin) << "noise " << noise;
    }

    settings.algorithm = kAlgorithmVertexColors;
    LocalHooks local(3);
    RunTables tables;
    FaceValueBake bake(mesh, settings, tables, local.hooks);
    ASSERT_EQ(bake.Prepare(), BakeStatus::kDone);
    ASSERT_EQ(bake.Evaluate(), BakeStatus::kDone);
    std::vector<float> sum(static_cast<size_t>(mesh.getNumVerts()), 0.0f), count(sum.size(), 0.0f);
    for (int face = 0; face < mesh.getNumFaces(); ++face)
        for (DWORD v : mesh.faces[static_cast<size_t>(face)].v) {
            sum[v] += bake.Values().value[static_cast<size_t>(face)];
            count[v] += 1.0f;
        }
    Fnv1a f;
    f.Add(static_cast<std::uint32_t>(mesh.getNumFaces()), 4);
    for (int face = 0; face < mesh.getNumFaces(); ++face)
        for (DWORD v : mesh.faces[static_cast<size_t>(face)].v)
            for (int channel = 0; channel < 3; ++channel) f.Add(std::bit_cast<std::uint32_t>(1.0f - sum[v] / count[v]), 4);
    EXPECT_EQ(Hex(f.h), "bdcf9657bd1af075");
}

INSTANTIATE_TEST_SUITE_P(Routes, Pins, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& route) { return route.param ? "Plain" : "Scene"; });

}  // namespace
