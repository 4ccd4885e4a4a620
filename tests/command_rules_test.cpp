// The mesh rules as a pipeline meets them: a bad mesh is an input error that
// names the file (and the line of an OBJ), writes nothing and leaves an
// existing output alone; a concave polygon bakes its own area.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/command/options.h"
#include "app/image/image_files.h"
#include "command_runner.h"
#include "scratch_dir.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;

const std::string kData = DUNSMERE_TEST_DATA;

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CommandRules : public ::testing::Test {
protected:
    CommandResult Run(std::vector<std::string> args)
    {
        args.insert(args.begin(), {"--config-dir", scratch / "config", "--no-save-settings"});
        return RunProgram(DUNSMERE_COMMAND, args);
    }
    // An input error naming `what`, with an old output left as it was and a
    // new one never made.
    void ExpectRefused(const std::string& mesh, const std::string& what)
    {
        SCOPED_TRACE(mesh);
        const std::string old = scratch / "old.ply", fresh = scratch / "fresh.ply";
        std::ofstream(old) << "the previous output\n";
        for (const std::string& out : {old, fresh}) {
            const CommandResult r = Run({mesh, "--algorithm", "vertex-colors", "-o", out});
            EXPECT_EQ(r.status, 2) << r.err;
            EXPECT_NE(r.err.find("dunsmere: " + what), std::string::npos) << r.err;
        }
        EXPECT_EQ(Slurp(old), "the previous output\n");
        EXPECT_FALSE(fs::exists(fresh));
        std::vector<std::string> left = scratch.Entries();
        std::erase(left, "config");
        EXPECT_EQ(left, std::vector<std::string>{"old.ply"});  // no temporary either
    }

    ScratchDir scratch;
};

TEST_F(CommandRules, BadNumbersIndicesAndGeometryAreInputErrors)
{
    const std::string bad = kData + "/bad/rules/";
    const struct {
        const char* file;
        const char* what;
    } cases[] = {
        {"nan_vertex.obj", "nan_vertex.obj:2: not a finite number"},
        {"infinite_uv.obj", "infinite_uv.obj:5: not a finite number"},
        {"vertex_index.obj", "vertex_index.obj:4: vertex index 4 is out of range"},
        {"texture_index.obj", "texture_index.obj:6: texture vertex index 3 is out of range"},
        {"long_edge.obj", "long_edge.obj:5: face 0 has an edge longer than 2^30"},
        {"normal_overflow.obj", "normal_overflow.obj:2: the normal of vertex 0 overflows"},
        {"crossing_polygon.obj", "crossing_polygon.obj:7: the polygon crosses itself"},
        {"flat_polygon.obj", "flat_polygon.obj:6: the polygon has zero area"},
        {"long_edge.stl", "long_edge.stl: face 0 has an edge longer than 2^30"},
        {"nan_colour.ply", "nan_colour.ply: colour vertex 0 has a component that is not a finite number"},
        {"vertex_index.ply", "vertex_index.ply: "},
        {"nan_normal.ply", "nan_normal.ply: normal 1 has a component that is not a finite number"},
    };
    for (const auto& c : cases) ExpectRefused(bad + c.file, bad + c.what);
}

// Binary STL holds raw floats, so a not-a-number arrives without any text to
// refuse: only the mesh rule stands between it and the output.
TEST_F(CommandRules, NotANumberInABinaryStlIsAnInputError)
{
    const std::string stl = scratch / "nan.stl";
    {
        std::ofstream out(stl, std::ios::binary);
        out << std::string(80, ' ');
        const std::uint32_t count = 1;
        out.write(reinterpret_cast<const char*>(&count), 4);
        const float nan = std::bit_cast<float>(0x7fc00000u);
        const float facet[12] = {0, 0, 1, 0, 0, 0, 1, 0, 0, nan, 1, 0};
        out.write(reinterpret_cast<const char*>(facet), sizeof facet);
        out.write("\0\0", 2);
    }
    const CommandResult r = Run({stl, "--algorithm", "vertex-colors", "-o", scratch / "out.ply"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("nan.stl: vertex 2 has a coordinate that is not a finite number"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(scratch / "out.ply"));
}

TEST_F(CommandRules, FacesWithTinyEdgesAreBakedWithAWarning)
{
    const std::string obj = scratch / "tiny.obj";
    std::ofstream(obj) << "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 5e-10 0\nf 1 2 3\nf 2 4 3\n";
    const CommandResult r = Run({obj, "--algorithm", "vertex-colors", "-o", scratch / "out.ply"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("dunsmere: warning: " + obj +
                         ": 1 face has an edge shorter than 1e-9; their normals lose precision\n"),
              std::string::npos)
        << r.err;
}

TEST(FaceRanges, OverlappingRangesBecomeOneWithoutListingTheirFaces)
{
    std::string twenty;
    for (int i = 0; i < 20; ++i) twenty += (i ? "," : "") + std::string("0-50000000");
    EXPECT_EQ(ParseFaceRanges(twenty), (std::vector<FaceRange>{{0, 50000000}}));
    EXPECT_EQ(ParseFaceRanges("9,0-2,3,5-6,4"), (std::vector<FaceRange>{{0, 6}, {9, 9}}));
    EXPECT_EQ(ParseFaceRanges("7,1"), (std::vector<FaceRange>{{1, 1}, {7, 7}}));
    EXPECT_FALSE(ParseFaceRanges("0-50000001"));
    EXPECT_FALSE(ParseFaceRanges("3-2"));
}

#ifndef DUNSMERE_SANITIZED
// Under a 1 GiB address space: listing twenty copies of fifty million faces
// would take 4 GB before the face count was ever looked at.
TEST_F(CommandRules, ManyLargeFaceRangesAreCheckedInLittleMemory)
{
    std::string twenty;
    for (int i = 0; i < 20; ++i) twenty += (i ? "," : "") + std::string("0-50000000");
    const std::string obj = scratch / "one.obj";
    std::ofstream(obj) << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
    const CommandResult r =
        RunProgram("/bin/sh", {"-c", "ulimit -v 1048576 && exec \"$0\" \"$@\"", DUNSMERE_COMMAND, "--config-dir",
                               scratch / "config", "--no-save-settings", "--quiet", obj, "--algorithm",
                               "vertex-colors", "--select-faces", twenty, "-o", scratch / "out.ply"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find(": one has 1 faces"), std::string::npos) << r.err;
}
#endif

// The map of a concave polygon under a roof: its texels are shaded, and the
// texels of its notch, which a fan from its first corner would also cover,
// stay empty. Texels within two of a boundary are left out, for the
// coverage is dilated by one.
void ExpectTheLAndNotTheNotch(const std::string& map)
{
    RgbaImage16 image;
    ASSERT_TRUE(ReadImageFile16(map, image).ok);
    ASSERT_EQ(image.width, 64);
    ASSERT_EQ(image.height, 64);
    int shaded = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            // u grows to the right, v upwards from the bottom row.
            const double u = (x + 0.5) / 64, v = 1 - (y + 0.5) / 64;
            const double margin = 2.5 / 64;
            const bool notch = u > 0.5 + margin && v > 0.5 + margin;
            const bool inL = u > margin && v > margin && u < 1 - margin && v < 1 - margin &&
                             (u < 0.5 - margin || v < 0.5 - margin);
            const int level = image.pixels[static_cast<size_t>(y * 64 + x)].r;
            if (notch) {
                EXPECT_EQ(level, 0) << "texel " << x << ", " << y;
            }
            if (inL) {
                EXPECT_GT(level, 0) << "texel " << x << ", " << y;
                ++shaded;
            }
        }
    EXPECT_GT(shaded, 1000);
}

TEST_F(CommandRules, ConcaveAndNonPlanarPolygonsBakeTheirOwnArea)
{
    for (const char* name : {"l_shape", "l_not_flat"}) {
        SCOPED_TRACE(name);
        const std::string map = scratch / (std::string(name) + ".png");
        const CommandResult r = Run({kData + "/tricky/" + name + ".obj", "--defaults", "--algorithm", "uv-map",
                                     "--size", "64x64", "-o", map});
        ASSERT_EQ(r.status, 0) << r.err;
        ExpectTheLAndNotTheNotch(map);
    }
}

}  // namespace
