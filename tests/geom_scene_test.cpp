// The ray scene against the brute force: every route must return the
// reference's hit flag and the bits of its hit distance, ray for ray.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "geom/geom.h"
#include "mesh_builders.h"

namespace {

struct Answer {
    int hit;
    std::uint32_t bits;
    bool operator==(const Answer&) const = default;
};

std::string Describe(const Ray& r, float maxDistance)
{
    char buf[256];
    const auto d = [](float x) { return static_cast<double>(x); };
    std::snprintf(buf, sizeof buf, "O (%a, %a, %a) D (%a, %a, %a) max %a", d(r.p.x), d(r.p.y), d(r.p.z), d(r.dir.x),
                  d(r.dir.y), d(r.dir.z), d(maxDistance));
    return buf;
}

std::vector<RayRoute> Routes()
{
    std::vector<RayRoute> routes;
    for (RayRoute r : {RayRoute::kPlain, RayRoute::kScalar, RayRoute::kSse2, RayRoute::kAvx2, RayRoute::kAvx512})
        if (RouteSupported(r)) routes.push_back(r);
    return routes;
}

// Casts every ray through IntersectRay and every route of a scene of the
// mesh; returns the number of hits, failing on the first disagreement.
int Compare(const Mesh& mesh, const std::vector<Ray>& rays, const std::vector<float>& distances)
{
    Tab<Point3> normals;
    BuildFaceNormals(mesh, normals);
    const SceneInput input{&mesh, &normals};
    int hits = 0;
    for (RayRoute route : Routes()) {
        RayScene scene;
        scene.Build({&input, 1}, route);
        EXPECT_EQ(scene.Route(), route);
        for (std::size_t i = 0; i < rays.size(); ++i) {
            const float maxDistance = distances[i % distances.size()];
            // A miss must leave the distance as it was, whatever it was.
            float expectT = std::numeric_limits<float>::quiet_NaN(), gotT = expectT;
            const int expectHit = IntersectRay(mesh, rays[i], expectT, maxDistance, normals);
            const int gotHit = scene.Intersect(rays[i], gotT, maxDistance);
            const Answer expect{expectHit, std::bit_cast<std::uint32_t>(expectT)};
            const Answer got{gotHit, std::bit_cast<std::uint32_t>(gotT)};
            if (!(got == expect)) {
                ADD_FAILURE() << RouteName(route) << " ray " << i << ": " << Describe(rays[i], maxDistance)
                              << " expected " << expectHit << " " << expectT << " got " << gotHit << " " << gotT;
                return hits;
            }
            if (route == RayRoute::kPlain) hits += expectHit;
        }
    }
    return hits;
}

std::vector<Ray> RandomRays(int count, float extent, std::uint32_t seed, Point3 centre = {})
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> u(-extent, extent), d(-1.0f, 1.0f);
    std::vector<Ray> rays(static_cast<std::size_t>(count));
    for (Ray& r : rays) {
        r.p = {centre.x + u(rng), centre.y + u(rng), centre.z + u(rng)};
        r.dir = Normalize({d(rng), d(rng), d(rng)});
    }
    return rays;
}

TEST(RayScene, RandomSoupsAgreeBitForBit)
{
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> distances{30.0f, 5.0f, inf, 0.0f, -0.0f, -1.0f,
                                       std::numeric_limits<float>::quiet_NaN()};
    for (std::uint32_t variant = 1; variant <= 3; ++variant) {
        const Mesh mesh = RandomSoup(3000, 10.0f, variant);
        const int hits = Compare(mesh, RandomRays(3000, 12.0f, variant + 100), distances);
        EXPECT_GT(hits, 1000);
    }
}

}  // namespace
