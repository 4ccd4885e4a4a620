// Rays per second of the reference intersector over random triangle soups.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "geom/geom.h"
#include "mesh_builders.h"

using namespace dunsmere;

static void BM_IntersectRay(benchmark::State& state)
{
    const Mesh mesh = RandomSoup(static_cast<int>(state.range(0)), 10.0f, 7u);
    Tab<Point3> normals;
    BuildFaceNormals(mesh, normals);
    std::mt19937 rng(11u);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    std::vector<Ray> rays(256);
    for (Ray& r : rays) r = {{u(rng), u(rng), u(rng)}, Normalize({u(rng), u(rng), u(rng)})};
    size_t i = 0;
    for (auto _ : state) {
        float t = 0.0f;
        benchmark::DoNotOptimize(IntersectRay(mesh, rays[i++ & 255u], t, 30.0f, normals));
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
    state.counters["faces"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_IntersectRay)->Arg(1000)->Arg(10000)->Arg(100000);

BENCHMARK_MAIN();
