// The session library alone, as a script module drives it: no command, no
// file written, the map read back in memory.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <thread>

#include "app/session/bake_turn.h"
#include "app/session/session.h"

namespace {

// The pin of tests/pins_test.cpp: FNV-1a over the width, the height, and
// each texel's level and alpha along rows from the top.
std::string MapPin(const BakedMap& map)
{
    std::uint64_t h = 14695981039346656037ull;
    const auto add = [&h](std::uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) h = (h ^ ((v >> (8 * i)) & 0xFFu)) * 1099511628211ull;
    };
    add(static_cast<std::uint32_t>(map.width), 4);
    add(static_cast<std::uint32_t>(map.height), 4);
    for (std::size_t i = 0; i < map.levels.size(); ++i) {
        add(map.levels[i], 2);
        add(map.coverage[i], 2);
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    return hex;
}

BakeOutcome BakeTheCrate(HostHooks hooks = {})
{
    BakeSession session(std::move(hooks));
    session.AddMeshFile(DUNSMERE_EXAMPLES "/crate.obj");
    session.SetAlgorithm("uv-map");
    session.SetThreads(2);
    return session.Generate();
}

constexpr const char* kCratePin = "488703a48103ba0b";

TEST(Session, BakesThePinnedMapInMemory)
{
    const BakeOutcome outcome = BakeTheCrate();
    ASSERT_EQ(outcome.end, BakeOutcome::End::kDone) << outcome.error;
    EXPECT_EQ(MapPin(outcome.map), kCratePin);
}

// Their generations take turns: neither corrupts the other's.
TEST(Session, TwoThreadsBakeThePinTogether)
{
    BakeOutcome first, second;
    std::thread other([&] { first = BakeTheCrate(); });
    second = BakeTheCrate();
    other.join();
    EXPECT_EQ(MapPin(first.map), kCratePin);
    EXPECT_EQ(MapPin(second.map), kCratePin);
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
