// The tree does not depend on how many threads build it: every count, a
// crew of helpers, and a platform that starts none, give the same nodes, the
// same face order and the same packed leaves; a whole scene built on several
// threads answers as one built on one.
#include <atomic>
#include <cstring>
#include <new>
#include <optional>
#include <random>
#include <vector>

#include "geom/detail/bvh.h"
#include "geom/geom.h"
#include "mesh_builders.h"
#include "host/threads.h"

#include <gtest/gtest.h>

using namespace dunsmere;

namespace {

class NoThreads : public ThreadStarter {
public:
    bool Start(ThreadEntry, void*, std::size_t, ThreadHandle&) override { return false; }
    void Join(ThreadHandle) override {}
};

TEST(BvhBuild, EveryThreadCountBuildsTheSameTree)
{
    // Clustered boxes of mixed sizes, enough for the build to share out.
    std::mt19937 rng(5u);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    std::vector<FaceBox> boxes(60000);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const float scale = (i % 7 == 0) ? 50.0f : 0.5f;
        for (int a = 0; a < 3; ++a) {
            const float c = u(rng) * (i % 3 == 0 ? 100.0f : 10.0f);
            boxes[i].lo[a] = c;
            boxes[i].hi[a] = c + u(rng) * scale;
        }
    }
    std::vector<BvhNode> alone;
    std::vector<std::uint32_t> aloneOrder;
    BuildBvh(boxes, alone, aloneOrder);
    ASSERT_GT(alone.size(), 1000u);
    std::vector<FaceRecord> faces(boxes.size());
    for (std::size_t i = 0; i < faces.size(); ++i) {
        faces[i].index = static_cast<int>(i);
        faces[i].c0 = {static_cast<float>(i), 1.0f, 2.0f};
    }
    std::vector<BvhNode> alonePacked = alone;
    UnsetVector<FaceQuad> aloneQuads;
    PackLeaves(alonePacked, aloneOrder, faces, aloneQuads);
    NoThreads none;
    // The crews serve both steps, as a generation's does.
    const struct {
        ThreadStarter* starter;
        int threads;
        bool crew;
    } cases[] = {{&DefaultThreadStarter(), 2, false}, {&DefaultThreadStarter(), 3, false},
                 {&DefaultThreadStarter(), 7, false}, {&none, 4, false},
                 {&DefaultThreadStarter(), 3, true},  {&none, 4, true}};
    for (const auto& c : cases) {
        std::optional<HelperCrew> crew;
        BuildHelpers helpers{c.starter, c.threads};
        if (c.crew) helpers = crew.emplace(helpers).Helpers();
        std::vector<BvhNode> nodes;
        std::vector<std::uint32_t> order;
        BuildBvh(boxes, nodes, order, helpers);
        ASSERT_EQ(nodes.size(), alone.size()) << c.threads << " threads";
        EXPECT_EQ(std::memcmp(nodes.data(), alone.data(), nodes.size() * sizeof(BvhNode)), 0) << c.threads;
        EXPECT_EQ(order, aloneOrder) << c.threads << " threads";
        UnsetVector<FaceQuad> quads;
        PackLeaves(nodes, order, faces, quads, helpers);
        ASSERT_EQ(quads.size(), aloneQuads.size()) << c.threads << " threads";
        EXPECT_EQ(std::memcmp(quads.data(), aloneQuads.data(), quads.size() * sizeof(FaceQuad)), 0) << c.threads;
        EXPECT_EQ(std::memcmp(nodes.data(), alonePacked.data(), nodes.size() * sizeof(BvhNode)), 0) << c.threads;
    }
}

TEST(HelperCrew, EachStepTakesEveryItemOnceAndHandsOnRunningOutOfMemory)
{
    HelperCrew crew({&DefaultThreadStarter(), 4});
    const BuildHelpers helpers = crew.Helpers();
    for (std::size_t count : {0u, 1u, 2u, 1000u, 3u}) {
        std::vector<std::atomic<int>> taken(count);
        ParallelFor(helpers, count, [&](std::size_t i) { taken[i].fetch_add(1); });
        for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(taken[i].load(), 1) << count << " items";
    }
    EXPECT_THROW(ParallelFor(helpers, 500, [](std::size_t i) { if (i == 250) throw std::bad_alloc(); }),
                 std::bad_alloc);
    std::atomic<std::size_t> sum{0};
    ParallelFor(helpers, 100, [&](std::size_t i) { sum.fetch_add(i); });
    EXPECT_EQ(sum.load(), 4950u);  // the crew serves on after it
}

TEST(BvhBuild, AScenesBuildOnSeveralThreadsAnswersAsOnOne)
{
    // Over one share of the per-face steps, with a face whose normal is
    // zero, which neither scene keeps.
    Mesh mesh = RandomSoup(9000, 10.0f, 9u);
    Tab<Point3> normals;
    BuildFaceNormals(mesh, normals);
    normals[123] = {0.0f, 0.0f, 0.0f};
    const SceneInput input{&mesh, &normals};
    RayScene one, several;
    one.Build({&input, 1}, DefaultRayRoute());
    several.Build({&input, 1}, DefaultRayRoute(), {&DefaultThreadStarter(), 3});
    EXPECT_EQ(one.Stats().faces, 8999);
    EXPECT_EQ(several.Stats().faces, one.Stats().faces);
    EXPECT_EQ(several.Stats().nodes, one.Stats().nodes);
    std::mt19937 rng(4u);
    std::uniform_real_distribution<float> u(-12.0f, 12.0f);
    int hits = 0;
    for (int i = 0; i < 5000; ++i) {
        const Ray ray{{u(rng), u(rng), u(rng)}, Normalize({u(rng), u(rng), u(rng)})};
        float a = -1.0f, b = -1.0f;
        const int hitA = one.Intersect(ray, a, 30.0f), hitB = several.Intersect(ray, b, 30.0f);
        ASSERT_EQ(hitA, hitB);
        ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0);
        hits += hitA;
    }
    EXPECT_GT(hits, 1000);
}

}  // namespace
