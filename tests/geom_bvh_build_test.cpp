// The tree does not depend on how many threads build it: every count, and a
// platform that starts none, gives the same nodes and the same face order.
#include <cstring>
#include <random>
#include <vector>

#include "geom/detail/bvh.h"
#include "host/threads.h"

#include <gtest/gtest.h>

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
    NoThreads none;
    const struct {
        ThreadStarter* starter;
        int threads;
    } cases[] = {{&DefaultThreadStarter(), 2}, {&DefaultThreadStarter(), 3}, {&DefaultThreadStarter(), 7}, {&none, 4}};
    for (const auto& c : cases) {
        std::vector<BvhNode> nodes;
        std::vector<std::uint32_t> order;
        BuildBvh(boxes, nodes, order, {c.starter, c.threads});
        ASSERT_EQ(nodes.size(), alone.size()) << c.threads << " threads";
        EXPECT_EQ(std::memcmp(nodes.data(), alone.data(), nodes.size() * sizeof(BvhNode)), 0) << c.threads;
        EXPECT_EQ(order, aloneOrder) << c.threads << " threads";
    }
}

}  // namespace
