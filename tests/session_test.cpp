// The session library alone, as a script module drives it: no command, no
// file written, the map read back in memory.
#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "app/mesh/mesh_files.h"
#include "app/session/bake_turn.h"
#include "app/session/occluders.h"
#include "app/session/session.h"

using namespace dunsmere;

namespace {

// The pins of tests/pins_test.cpp: FNV-1a over the map's width, height,
// and each texel's level and alpha along rows from the top; or over the
// face count and each face corner's colour as float bits.
class Pin {
public:
    explicit Pin(const BakedMap& map)
    {
        Add(static_cast<std::uint32_t>(map.width), 4);
        Add(static_cast<std::uint32_t>(map.height), 4);
        for (std::size_t i = 0; i < map.levels.size(); ++i) {
            Add(map.levels[i], 2);
            Add(map.coverage[i], 2);
        }
    }
    explicit Pin(const std::vector<float>& colours)
    {
        Add(static_cast<std::uint32_t>(colours.size() / 9), 4);
        for (float x : colours) Add(std::bit_cast<std::uint32_t>(x), 4);
    }
    std::string Hex() const
    {
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h_));
        return hex;
    }

private:
    void Add(std::uint32_t v, int bytes)
    {
        for (int i = 0; i < bytes; ++i) h_ = (h_ ^ ((v >> (8 * i)) & 0xFFu)) * 1099511628211ull;
    }
    std::uint64_t h_ = 14695981039346656037ull;
};

const char* const kCrate = DUNSMERE_EXAMPLES "/crate.obj";

BakeOutcome BakeTheCrate(HostHooks hooks = {}, const char* algorithm = "uv-map")
{
    BakeSession session(std::move(hooks));
    session.AddMeshFile(kCrate);
    session.SetAlgorithm(algorithm);
    session.SetThreads(2);
    return session.Generate();
}

constexpr const char* kCratePin = "488703a48103ba0b";

TEST(Session, BakesThePinsInMemory)
{
    const BakeOutcome map = BakeTheCrate();
    ASSERT_EQ(map.end, BakeOutcome::End::kDone) << map.error;
    EXPECT_EQ(Pin(map.map).Hex(), kCratePin);
    const BakeOutcome colours = BakeTheCrate({}, "vertex-colors");
    ASSERT_EQ(colours.colours.size(), 1u);
    EXPECT_EQ(Pin(colours.colours[0]).Hex(), "bdcf9657bd1af075");
}

// A ground plane given by its axis shades as the same plane given as an
// occluder mesh, and shades.
TEST(Session, OccludersFromArraysAndTheGroundPlaneAgree)
{
    const Mesh plane = GroundPlane(ReadMeshFile(kCrate).mesh, "-z");
    std::vector<float> vertices;
    for (const Point3& p : plane.verts) vertices.insert(vertices.end(), {p.x, p.y, p.z});
    std::vector<std::uint32_t> faces;
    for (const Face& f : plane.faces) faces.insert(faces.end(), {f.v[0], f.v[1], f.v[2]});
    std::vector<std::vector<float>> colours;
    for (int route = 0; route < 3; ++route) {
        BakeSession session;
        session.AddMeshFile(kCrate);
        session.SetAlgorithm("vertex-colors");
        if (route == 1) session.SetGroundPlane("-z");
        if (route == 2) session.AddOccluder("ground", vertices, faces);
        colours.push_back(session.Generate().colours.at(0));
    }
    EXPECT_NE(colours[0], colours[1]);
    EXPECT_EQ(colours[1], colours[2]);
}

// Their generations take turns: neither corrupts the other's.
TEST(Session, TwoThreadsBakeThePinTogether)
{
    BakeOutcome first, second;
    std::thread other([&] { first = BakeTheCrate(); });
    second = BakeTheCrate();
    other.join();
    EXPECT_EQ(Pin(first.map).Hex(), kCratePin);
    EXPECT_EQ(Pin(second.map).Hex(), kCratePin);
}

TEST(Session, AWaiterEndsCancelledWhileAnotherBakes)
{
    const BakeTurn held(nullptr);
    ASSERT_TRUE(held.Held());
    std::atomic<int> asked = 0;
    HostHooks hooks;
    hooks.cancelled = [&asked] { return ++asked > 3; };
    EXPECT_EQ(BakeTheCrate(hooks).end, BakeOutcome::End::kCancelled);
    EXPECT_EQ(asked, 4);
}

TEST(Session, RefusesWhatThePanelAndTheMeshCannotTake)
{
    BakeSession session;
    EXPECT_THROW(session.AddMesh("bent", {0, 0, 0, 1, 0, 0}, {0, 1, 2}), SessionError);
    EXPECT_THROW(session.AddMesh("short", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}, {0, 0, 1}), SessionError);
    EXPECT_THROW(session.AddMeshFile("no such file.obj"), SessionError);
    session.AddMesh("one", {0, 0, 0, 1, 0, 0, 0, 1, 0}, {0, 1, 2}, {0, 0, 1, 0, 0, 1});
    session.Tick("no-such-box", true);
    EXPECT_THROW(session.Generate(), SessionError);
}

}  // namespace
