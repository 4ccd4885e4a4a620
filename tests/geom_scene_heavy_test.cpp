// Millions of rays, the ray scene against the brute force: the same cases
// as the regular suite, cast long enough to meet the rare rounding that
// only a box too small would get wrong. Labelled heavy: the release build's
// suite runs it, the sanitizer runs leave it out.
#include "scene_cases.h"

#include <gtest/gtest.h>

using namespace dunsmere;

namespace {

TEST(RaySceneHeavy, NastyMeshes)
{
    for (std::uint32_t variant = 1; variant <= 4; ++variant) {
        const Mesh mesh = NastyMesh(variant);
        const SceneCase sc(mesh);
        EXPECT_GT(sc.CheckAll(sc.MixedRays(400000, variant + 1000)), 80000);
    }
}

TEST(RaySceneHeavy, SmallFacesGrazedFromAfar)
{
    for (std::uint32_t variant = 1; variant <= 2; ++variant) {
        const Mesh mesh = FlatFacesNearTheOrigin(variant);
        const SceneCase sc(mesh);
        for (float distance : {3.0f, 300.0f, 6e3f})
            EXPECT_GT(sc.CheckAll(sc.GrazingFromAfar(300000, variant + 2000, 2, distance), {INFINITY}), 60000);
        EXPECT_GT(sc.CheckAll(sc.MixedRays(200000, variant + 3000)), 10000);
    }
}

TEST(RaySceneHeavy, MixedScales)
{
    const Mesh mesh = MixedScaleMesh(7);
    const SceneCase sc(mesh);
    EXPECT_GT(sc.CheckAll(sc.RaysAtFaces(400000, 9, {0.0f, 0.0f, 6e3f})), 50000);
    EXPECT_GT(sc.CheckAll(sc.MixedRays(400000, 10)), 50000);
}

}  // namespace
