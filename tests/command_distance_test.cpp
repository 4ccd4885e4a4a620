// Distances outside the panel's range, and the runs the command refuses
// before it bakes: through the command, against bakes of the mesh scaled by
// hand and the plug-in's own bake through the test host.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/image/image_files.h"
#include "app/mesh/mesh_files.h"
#include "command_runner.h"
#include "eval/eval.h"
#include "map/map.h"
#include "scratch_dir.h"
#include "scripted_bitmaps.h"
#include "scripted_host.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;

constexpr int kMapSize = 64;

std::string Text(float value)
{
    char buffer[32];
    return std::string(buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

std::string FileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// OBJ text with every "v" line's position moved by OFFSET and then
// multiplied by 2^k, each coordinate written so that it reads back as
// exactly that float.
std::string Transformed(const std::string& obj, int k, Point3 offset = {})
{
    std::istringstream in(obj);
    std::ostringstream out;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("v ", 0) != 0) {
            out << line << "\n";
            continue;
        }
        std::istringstream v(line.substr(2));
        float c[3];
        std::string word;
        for (float& x : c) {
            v >> word;
            std::from_chars(word.data(), word.data() + word.size(), x);
        }
        out << "v " << Text(std::ldexp(c[0] + offset.x, k)) << " " << Text(std::ldexp(c[1] + offset.y, k)) << " "
            << Text(std::ldexp(c[2] + offset.z, k)) << "\n";
    }
    return out.str();
}

// A floor 0.2 m across with a fan of slivers standing on it, each 1 mm
// thick at its widest, all mapped into the unit square.
std::string SliverObj()
{
    std::ostringstream s;
    s << "v 0 0 0\nv 0.2 0 0\nv 0.2 0.2 0\nv 0 0.2 0\n";
    s << "vt 0 0\nvt 1 0\nvt 1 0.5\nvt 0 0.5\n";
    s << "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n";
    for (int i = 0; i < 8; ++i) {
        const float x = 0.02f + 0.02f * static_cast<float>(i);
        s << "v " << Text(x) << " 0.03 0\nv " << Text(x + 0.001f) << " 0.17 0\nv " << Text(x + 0.0005f)
          << " 0.1 0.08\n";
        s << "vt " << Text(0.1f * static_cast<float>(i)) << " 0.6\nvt " << Text(0.1f * static_cast<float>(i) + 0.09f)
          << " 0.6\nvt " << Text(0.1f * static_cast<float>(i) + 0.05f) << " 0.95\n";
        const int v = 5 + 3 * i;
        s << "f " << v << "/" << v << " " << v + 1 << "/" << v + 1 << " " << v + 2 << "/" << v + 2 << "\n";
    }
    return s.str();
}

// The plug-in's own map of MESH at DIST, through the test host, with the
// panel's load defaults the command starts from.
std::vector<BMM_Color_64> TestHostMap(const Mesh& mesh, float dist, float noiseSize)
{
    ScriptedHost host;
    ScriptedMeshObject object;
    object.mesh = mesh;
    ScriptedNode node(&object);
    host.selection = {&node};
    ScriptedBitmapManager bitmaps;
    const BitmapManagerScope installed(&bitmaps);
    UtilitySettings settings;
    settings.XSiz = settings.YSiz = kMapSize;
    settings.horizontalSpread = 8;
    settings.verticalSpread = 1;
    settings.mapChannel = 1;
    settings.dist = dist;
    settings.noiseOn = noiseSize > 0.0f;
    if (noiseSize > 0.0f) settings.noiseSize = noiseSize;
    RunTables tables;
    MapRunState state;
    GenerateSmurlMap(host, settings, tables, state, DefaultThreadStarter());
    return bitmaps.pixels;
}

std::vector<BMM_Color_64> MapPixels(const std::string& path)
{
    RgbaImage16 image;
    EXPECT_TRUE(ReadImageFile16(path, image).ok) << path;
    return image.pixels;
}

class CommandDistance : public ::testing::Test {
protected:
    CommandResult Run(std::vector<std::string> args, const char* program = DUNSMERE_COMMAND)
    {
        // Each run from the load defaults, whatever the run before it left.
        args.insert(args.begin(), {"--config-dir", scratch / "config", "--defaults"});
        return RunProgram(program, args);
    }
    // A map bake with the ray spread and map channel given, so that nothing
    // but the distance comes from outside the test.
    CommandResult Map(const std::string& mesh, const std::string& out, std::vector<std::string> more)
    {
        std::vector<std::string> args{mesh, "--algorithm", "uv-map", "--size", std::to_string(kMapSize) + "x" +
                                      std::to_string(kMapSize), "--horizontal", "8", "--vertical", "1",
                                      "--map-channel", "1", "--quiet", "-o", out};
        args.insert(args.end(), more.begin(), more.end());
        return Run(args);
    }
    std::string Write(const std::string& name, const std::string& text)
    {
        const std::string path = scratch / name;
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

    ScratchDir scratch;
};

struct ScaledCase {
    const char* name;
    std::string obj;
    float distance;
    int k;  // the run's own scale, worked out by hand
    float noiseSize = 0.0f;  // 0: no noise
};

// The bake at a distance outside the range is byte for byte the bake of
// the mesh scaled by hand by another power of two, and pixel for pixel the
// plug-in's own bake at the unscaled distance.
TEST_F(CommandDistance, ScaledBakesEqualHandScaledAndTestHostBakes)
{
    const std::string crate = FileText(DUNSMERE_EXAMPLES "/crate.obj");
    const ScaledCase cases[] = {
        // 0.1 * 2^4 = 1.6 is the first power to reach 1.
        {"crate", crate, 0.1f, 4},
        {"crate with noise", crate, 0.1f, 4, 0.5f},
        {"far", Transformed(crate, 0, {3000.0f, -5000.0f, 12000.0f}), 0.1f, 4},
        {"slivers", SliverObj(), 0.02f, 6},
        // 300000 / 4 = 75000 is the first to come under 100000.
        {"large", Transformed(crate, 17), 300000.0f, -2},
    };
    for (const ScaledCase& c : cases) {
        SCOPED_TRACE(c.name);
        // Three binades further, so that the mesh scaled by hand needs no
        // scaling in turn.
        const int hand = c.k > 0 ? c.k + 3 : c.k - 3;
        const std::string mesh = Write(std::string(c.name) + ".obj", c.obj);
        const std::string byHand = Write(std::string(c.name) + "-by-hand.obj", Transformed(c.obj, hand));
        const std::string scaled = scratch / (std::string(c.name) + ".png");
        const std::string handMap = scratch / (std::string(c.name) + "-by-hand.png");

        auto noise = [&](int k) -> std::vector<std::string> {
            if (c.noiseSize == 0.0f) return {"--no-noise"};
            return {"--noise", "--noise-size", Text(std::ldexp(c.noiseSize, k))};
        };
        std::vector<std::string> options = noise(0);
        options.insert(options.end(), {"--distance", Text(c.distance)});
        const CommandResult run = Map(mesh, scaled, options);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err.find("warning"), std::string::npos) << run.err;
        const float handDistance = std::ldexp(c.distance, hand);
        ASSERT_GE(handDistance, 1.0f);
        ASSERT_LE(handDistance, 100000.0f);
        options = noise(hand);
        options.insert(options.end(), {"--distance", Text(handDistance)});
        ASSERT_EQ(Map(byHand, handMap, options).status, 0);
        EXPECT_EQ(FileText(scaled), FileText(handMap));

        // The mesh read by hand is the one the command was given, and its
        // scaled copy is exact: otherwise the comparison proves nothing.
        const MeshFile original = ReadMeshFile(mesh), scaledByHand = ReadMeshFile(byHand);
        for (std::size_t v = 0; v < original.mesh.verts.size(); ++v)
            ASSERT_EQ(std::ldexp(original.mesh.verts[v].x, hand), scaledByHand.mesh.verts[v].x);
        const std::vector<BMM_Color_64> own = TestHostMap(original.mesh, c.distance, c.noiseSize);
        ASSERT_EQ(own.size(), static_cast<std::size_t>(kMapSize * kMapSize));
        EXPECT_TRUE(own == MapPixels(scaled));
        // A bake that is all one level would pass for the wrong reason.
        EXPECT_NE(std::count(own.begin(), own.end(), own[0]), static_cast<std::ptrdiff_t>(own.size()));
    }
}

// Vertex colours are baked on the scaled mesh and written onto the mesh
// as it was read.
TEST_F(CommandDistance, ScaledVertexColoursKeepTheOriginalPositions)
{
    const std::string crate = DUNSMERE_EXAMPLES "/crate.obj";
    const std::string byHand = Write("crate-by-hand.obj", Transformed(FileText(crate), 10));
    const std::string out = scratch / "colours.obj", handOut = scratch / "colours-by-hand.obj";
    const CommandResult run = Run({crate, "--algorithm", "vertex-colors", "--distance", "0.01", "-q", "-o", out});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(Run({byHand, "--algorithm", "vertex-colors", "--distance", "10.24", "-q", "-o", handOut}).status, 0);

    const MeshFile read = ReadMeshFile(crate), written = ReadMeshFile(out), hand = ReadMeshFile(handOut);
    EXPECT_TRUE(written.mesh.verts == read.mesh.verts);
    ASSERT_GT(written.mesh.getNumVertCol(), 0);
    ASSERT_EQ(written.mesh.getNumVertCol(), hand.mesh.getNumVertCol());
    EXPECT_TRUE(std::equal(written.mesh.vertCol(), written.mesh.vertCol() + written.mesh.getNumVertCol(),
                           hand.mesh.vertCol()));
    ASSERT_EQ(written.mesh.getNumVCFaces(), hand.mesh.getNumVCFaces());
    EXPECT_TRUE(std::equal(written.mesh.vcFace(), written.mesh.vcFace() + written.mesh.getNumVCFaces(),
                           hand.mesh.vcFace()));
}

TEST_F(CommandDistance, ScalesTheMeshOrNoiseCannotTakeAreRefused)
{
    const std::string crate = DUNSMERE_EXAMPLES "/crate.obj";
    const std::string out = scratch / "m.png";
    // 1e-12 needs 2^40, which takes the crate's edges past 2^30.
    const CommandResult edges = Map(crate, out, {"--distance", "1e-12"});
    EXPECT_EQ(edges.status, 2);
    EXPECT_NE(edges.err.find(crate + ": distance 1e-12 needs a scale of 2^40 that the mesh or noise size cannot take"),
              std::string::npos)
        << edges.err;

    // 0.001 needs 2^10: a noise size of 100 would become 102400.
    const CommandResult noise = Map(crate, out, {"--distance", "0.001", "--noise", "--noise-size", "100"});
    EXPECT_EQ(noise.status, 2);
    EXPECT_NE(noise.err.find("distance 0.001 needs a scale of 2^10"), std::string::npos) << noise.err;
    EXPECT_FALSE(fs::exists(out));
    // A noise size the bake does not use stands in no one's way.
    EXPECT_EQ(Map(crate, out, {"--distance", "0.001", "--no-noise", "--noise-size", "100"}).status, 0);

    for (const char* bad : {"0", "-0.5", "nan", "inf"}) {
        EXPECT_EQ(Map(crate, out, {"--distance", bad}).status, 2) << bad;
        EXPECT_EQ(Map(crate, out, {"--distance-relative", bad}).status, 2) << bad;
    }
    EXPECT_EQ(Map(crate, out, {"--distance", "2", "--distance-relative", "0.1"}).status, 2);
}

// A face whose face vector squares to a subnormal at one scale and not at
// the other may bake differently: the run says how many there are.
TEST_F(CommandDistance, FacesBelowTheNormalRangeAreCounted)
{
    // The tiny face's vector is (0, 0, 1e-20); its square is subnormal at
    // scale 1 and normal at 2^7.
    const std::string mesh =
        Write("tiny.obj", SliverObj() + "v 0 0 0.05\nv 1e-10 0 0.05\nv 0 1e-10 0.05\nf 29/1 30/2 31/3\n");
    // Without -q, which drops advice.
    const CommandResult run = Run({mesh, "--algorithm", "uv-map", "--size", "64x64", "--map-channel", "1",
                                   "--distance", "0.01", "-o", scratch / "m.png"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("1 face is below the normal float range at one of the scales 1 and 2^7"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(Map(mesh, scratch / "m.png", {"--distance", "0.01"}).err.find("normal float range"), std::string::npos);
}

// The relative distance is F times the diagonal of the box around the
// vertices that faces use: a vertex no face uses does not count.
TEST_F(CommandDistance, RelativeDistanceIsAFractionOfTheDiagonal)
{
    const std::string mesh = Write("box.obj", SliverObj() + "v 40 -40 40\n");
    // The faces span 0.2 x 0.2 x 0.08.
    const double diagonal = std::sqrt(2.0 * double(0.2f) * double(0.2f) + double(0.08f) * double(0.08f));
    const float distance = static_cast<float>(0.05 * diagonal);
    const std::string relative = scratch / "relative.png", absolute = scratch / "absolute.png";
    ASSERT_EQ(Map(mesh, relative, {"--distance-relative", "0.05"}).status, 0);
    ASSERT_EQ(Map(mesh, absolute, {"--distance", Text(distance)}).status, 0);
    EXPECT_EQ(FileText(relative), FileText(absolute));
}

// A scaled run saves its settings like any other: the panel's section holds
// the scaled values, the command's the user's, and both --last and the
// preset bake the same map again from the file alone.
TEST_F(CommandDistance, ScaledRunsSaveWhatReproducesThem)
{
    const std::string mesh = Write("box.obj", SliverObj());
    const std::string first = scratch / "first.png", again = scratch / "again.png", preset = scratch / "p.ini";
    const CommandResult run = Map(mesh, first, {"--distance", "0.05", "--noise", "--write-preset", preset, "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const nlohmann::json settings = nlohmann::json::parse(run.out)[0]["settings"];
    EXPECT_EQ(settings["distance"], 0.05);
    EXPECT_EQ(settings["distanceScale"], 32);  // 0.05 * 2^5 = 1.6
    EXPECT_EQ(FileText(preset), FileText(scratch / "config/Dunsmere.ini"));
    EXPECT_NE(FileText(preset).find("[dunsmere-command]\ndistance=0.05\nnoiseSize=25\n"), std::string::npos);
    for (const std::vector<std::string>& from : {std::vector<std::string>{"--last"}, {"--preset", preset}}) {
        std::vector<std::string> args{mesh, "-q", "-o", again};
        args.insert(args.end(), from.begin(), from.end());
        ASSERT_EQ(Run(args).status, 0) << from[0];
        EXPECT_EQ(FileText(first), FileText(again)) << from[0];
    }
}

// Past D* every hit counts in full: a huge distance bakes as D*, not as an
// empty map, and says so. The slivers' box, 0.2 x 0.2 x 0.08, has a diagonal
// of 0.294: D* = 2^24 >= 2^25 * 0.294; the ground plane's, 10 times as wide,
// brings D* to 2^28.
TEST_F(CommandDistance, HugeDistancesBakeAsTheFarthestThatMatters)
{
    const std::string mesh = Write("box.obj", SliverObj());
    using Scene = std::pair<std::vector<std::string>, int>;
    for (const auto& [scene, farthest] : {Scene{{}, 24}, Scene{{"--ground-plane", "-z"}, 28}}) {
        const std::string expected = scratch / "farthest.png", out = scratch / "huge.png";
        std::vector<std::string> args = scene;
        args.insert(args.end(), {"--distance", Text(std::ldexp(1.0f, farthest))});
        ASSERT_EQ(Map(mesh, expected, args).status, 0);
        const std::vector<BMM_Color_64> own = MapPixels(expected);
        EXPECT_NE(std::count(own.begin(), own.end(), own[0]), static_cast<std::ptrdiff_t>(own.size()));
        for (const char* huge : {"1e15", "1e20", "1e35"}) {
            args.back() = huge;
            ASSERT_EQ(Map(mesh, out, args).status, 0) << huge;
            EXPECT_EQ(FileText(out), FileText(expected)) << huge << " with " << scene.size() << " more";
        }
    }
    const CommandResult said = Run({mesh, "--distance", "1e20", "-o", scratch / "m.png"});
    EXPECT_NE(said.err.find("note: " + mesh + ": distance 1e+20 bakes as 16777216"), std::string::npos) << said.err;
}

// A preset is checked as the command line is, key by key, both sections.
TEST_F(CommandDistance, PresetsAreCheckedAsTheCommandLineIs)
{
    const std::string mesh = Write("box.obj", SliverObj()), out = scratch / "m.png";
    const std::pair<const char*, const char*> refused[] = {
        {"[Dunsmere]\nXSiz=99999\n", "[Dunsmere] XSiz=99999: --width"},
        {"[Dunsmere]\nXSize=64\n", "[Dunsmere] XSize=64: no such key"},
        {"[Dunsmere]\nnoiseOn=2\n", "[Dunsmere] noiseOn=2: wants 0 or 1"},
        {"[Dunsmere]\nalgorithm=7\n", "[Dunsmere] algorithm=7: wants 1008"},
        {"[Dunsmere]\ndist=0\n", "[Dunsmere] dist=0: --distance"},
        {"[dunsmere-command]\nnoiseSize=-1\n", "[dunsmere-command] noiseSize=-1: --noise-size"},
        {"[dunsmere-command]\nsize=64\n", "[dunsmere-command] size=64: no such key"},
    };
    for (const auto& [text, says] : refused) {
        const CommandResult run = Run({mesh, "--preset", Write("bad.ini", text), "-o", out});
        EXPECT_EQ(run.status, 2) << text;
        EXPECT_NE(run.err.find(scratch / "bad.ini" + ": " + says), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists(out));

    // The plug-in's distance past its spinner bakes as given, not clamped;
    // an output key is ignored, and said so.
    const std::string far = Write("far.ini", "[Dunsmere]\ndist=0.05\n[dunsmere-command]\noutput=x.png\n");
    ASSERT_EQ(Map(mesh, out, {"--preset", far}).status, 0);
    ASSERT_EQ(Map(mesh, scratch / "given.png", {"--distance", "0.05"}).status, 0);
    EXPECT_EQ(FileText(out), FileText(scratch / "given.png"));
    const CommandResult noted = Run({mesh, "--preset", far, "-o", out});
    EXPECT_NE(noted.err.find("note: " + far + ": its output key is ignored; give -o"), std::string::npos) << noted.err;

    // Every key the plug-in writes reads back (the options page's only away
    // from their defaults).
    const std::string all = scratch / "all.ini";
    ASSERT_EQ(Map(mesh, out, {"--padding", "2", "--supersample", "2", "--coverage-alpha", "--invert", "--even-ring",
                              "--scene-occluders", "--noise", "--write-preset", all})
                  .status,
              0);
    ASSERT_NE(FileText(all).find("sceneOccluders=1"), std::string::npos) << FileText(all);
    const CommandResult back = Run({mesh, "--preset", all, "-q", "-o", scratch / "back.png"});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_EQ(FileText(scratch / "back.png"), FileText(out));
}

// Outputs that cannot be written are refused before the mesh is baked, and
// leave nothing behind.
TEST_F(CommandDistance, UnwritableOutputsAreRefusedBeforeTheBake)
{
    const std::string mesh = Write("crease.obj", SliverObj());
    fs::create_directories(scratch / "folder.png");
    fs::create_symlink(mesh, scratch / "link.obj");
    struct Refused {
        std::vector<std::string> args;
        std::string why;
    } refused[] = {
        {{mesh, "-o", scratch / "missing/m.png"}, "its folder " + (scratch / "missing") + " does not exist"},
        {{mesh, "-o", scratch / "folder.png"}, "it is a folder"},
        {{mesh, "--algorithm", "vertex-colors", "-o", mesh}, "it is the input file " + mesh},
        {{mesh, "--algorithm", "vertex-colors", "-o", scratch / "link.obj"}, "it is the input file " + mesh},
    };
    const std::vector<std::string> before = scratch.Entries();
    for (const Refused& r : refused) {
        const CommandResult run = Run(r.args);
        EXPECT_EQ(run.status, 2) << r.why;
        EXPECT_NE(run.err.find(": " + r.why), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("Dunsmere:"), std::string::npos) << "the plug-in was reached: " << run.err;
    }
    EXPECT_EQ(FileText(mesh), SliverObj());

    // A folder that refuses new files, as root cannot be made to see one.
    setenv("DUNSMERE_TEST_FAULT", "create 1 EACCES m.png", 1);
    const CommandResult denied = Run({mesh, "-o", scratch / "m.png"}, DUNSMERE_FAULTY_COMMAND);
    unsetenv("DUNSMERE_TEST_FAULT");
    EXPECT_EQ(denied.status, 2);
    EXPECT_NE(denied.err.find("cannot write " + (scratch / "m.png") + ": Permission denied"), std::string::npos)
        << denied.err;
    EXPECT_EQ(denied.err.find("Dunsmere:"), std::string::npos) << denied.err;
    std::vector<std::string> after = scratch.Entries();
    after.erase(std::remove(after.begin(), after.end(), "config"), after.end());
    EXPECT_EQ(after, before);
}

// Maps that would come out black are refused with what the mesh has.
TEST_F(CommandDistance, UselessMapsAreRefused)
{
    const std::string crate = DUNSMERE_EXAMPLES "/crate.obj";
    const std::string out = scratch / "m.png";
    const std::string bare = Write("bare.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
    const std::string outside = Write("outside.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\nv 1 1 0\nvt 0 0\nvt 1.5 0\nvt 0 1\n"
                                                     "vt 1 1\nf 1/1 2/2 3/3\nf 2/4 4/4 3/3\n");
    struct Refused {
        std::vector<std::string> args;
        std::string message;
    } refused[] = {
        {{bare}, bare + ": map channel 1 has no coordinates; the mesh has no map channels"},
        {{crate, "--map-channel", "2"}, crate + ": map channel 2 has no coordinates; the mesh has map channel 1"},
        {{outside, "--select-faces", "0"}, outside + ": all 2 faces would be left out of the map "
                                                     "(1 map coordinates outside 0..1, 1 not selected)"},
        // Ten faces selected, none of them (nor any other) of material 99.
        {{crate, "--select-faces", "0-9", "--material-filter", "--material-id", "99"},
         crate + ": all 3072 faces would be left out of the map (3062 not selected, 10 other material IDs)"},
    };
    for (const Refused& r : refused) {
        std::vector<std::string> args = r.args;
        args.insert(args.end(), {"--algorithm", "uv-map", "-o", out});
        const CommandResult run = Run(args);
        EXPECT_EQ(run.status, 2) << r.message;
        EXPECT_NE(run.err.find("dunsmere: " + r.message + "\n"), std::string::npos) << run.err;
        EXPECT_FALSE(fs::exists(out));
    }

    // The face selection alone keeps the bake to it, and says so.
    const CommandResult some = Run({crate, "--algorithm", "uv-map", "--select-faces", "0-9", "-o", out});
    EXPECT_EQ(some.status, 0) << some.err;
    EXPECT_NE(some.err.find("dunsmere: --select-faces implies --selected-only\n"), std::string::npos) << some.err;
    EXPECT_NE(some.err.find("3062 of 3072 faces will not be baked (3062 not selected)"), std::string::npos)
        << some.err;
}

}  // namespace
