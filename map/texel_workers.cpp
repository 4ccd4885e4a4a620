#include "map/detail/texel_workers.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "eval/eval.h"
#include "host/noise.h"
#include "host/ray.h"
#include "map/detail/texel_loop.h"

namespace dunsmere {

namespace {

// What a value above 1 becomes: the evaluation's own saturated value.
constexpr float kSaturated = 0.99f;

}  // namespace

int RowProgress(int y, int W, int H)
{
    const double texels = static_cast<double>(W) * static_cast<double>(H);
    if (!(texels > 0.0)) return 0;
    return static_cast<int>(static_cast<double>(y) * static_cast<double>(W) * 100.0 / texels);
}

// noise3 reaches about -1.018, where the product turns negative: the
// speckle pass would take the sign for its own mark and flip it bright.
float ModulateByNoise(float value, float noise)
{
    const float modulated = value * (noise + 1.0f);
    return modulated < 0.0f ? 0.0f : modulated;
}

// > and not >=: an evaluation never returns 1 (it caps at 0.99 itself), so
// only the noise brings a texel to 1, and exactly 1 is kept as it came.
float CapTexelValue(float value) { return value > 1.0f ? kSaturated : value; }

float WithTexelNoise(const TexelJob& job, const TexelSample& texel, float value)
{
    const UtilitySettings& settings = job.settings;
    // Size 0: no finite point to look up.
    if (!settings.noiseOn || settings.noiseSize == 0.0f) return value;
    // Placed with the raw weights: the noise follows the map, not the
    // sample point pulled inside the face.
    const Face& f = job.mesh.faces[static_cast<std::size_t>(texel.face)];
    const Point3 V0 = job.mesh.verts[f.v[0]], V1 = job.mesh.verts[f.v[1]], V2 = job.mesh.verts[f.v[2]];
    const Point3 P = texel.rawBary.x * V0 + texel.rawBary.y * V1 + texel.rawBary.z * V2;
    return ModulateByNoise(value, noise3(P / settings.noiseSize));
}

void PrepareChunkedRows(TexelJob& job)
{
    const MapRunState& state = job.state;
    const std::uint32_t W = texel_loop::Columns(state), H = texel_loop::Rows(state);
    const int faceCount = job.mesh.getNumFaces();
    std::vector<std::uint64_t> covered(H, 0);
    // Column by column, the order the grid is stored in.
    for (std::uint32_t x = 0; x < W; ++x)
        for (std::uint32_t y = 0; y < H; ++y) covered[y] += IsCovered(state.TexelGrid.Get(x, y), faceCount);
    job.drawsBefore.assign(H, 0);
    for (std::uint32_t y = 0; y < H && y < 2; ++y) job.drawsBefore[y] = job.drawsAbove[y];
    for (std::uint32_t y = 2; y < H; ++y) job.drawsBefore[y] = job.drawsBefore[y - 2] + covered[y - 2];
    job.rowFinished.assign(H, 0);
    job.lowestOpenEvenRow = 0;
}

namespace texel_loop {

void SetProgress(MapRunState& state, int percent)
{
    state.progressPercent = percent;
    if (state.progressWrites) state.progressWrites->push_back(percent);
}

int MapRowProgress(const TexelJob& job, std::uint32_t y)
{
    const std::uint32_t W = Columns(job.state);
    const std::uint32_t mapRows = job.mapRows > 0 ? job.mapRows : Rows(job.state);
    return RowProgress(static_cast<int>(job.firstRow + y), static_cast<int>(W), static_cast<int>(mapRows));
}

void StoreRow(TexelJob& job, std::uint32_t y, std::uint32_t end, const RowScratch& row)
{
    const int faceCount = job.mesh.getNumFaces();
    for (std::uint32_t x = 0; x < end; ++x) {
        if (!IsCovered(job.state.TexelGrid.Get(x, y), faceCount)) continue;
        // Only this row's worker reads the record until the workers end.
        if (row.uncovered[x]) {
            job.state.TexelGrid.Set(x, y, kEmptyTexel);
            if (job.state.recordMisses) job.state.missedSubTexels[static_cast<std::size_t>(x) * Rows(job.state) + y] = 1;
        } else
            job.state.TexelValues.Set(x, y, row.values[x]);
    }
}

void FinishRow(TexelJob& job, std::uint32_t y)
{
    const std::uint32_t H = Rows(job.state);
    job.rowFinished[y] = 1;
    const std::uint32_t before = job.lowestOpenEvenRow;
    while (job.lowestOpenEvenRow < H && job.rowFinished[job.lowestOpenEvenRow]) job.lowestOpenEvenRow += 2;
    // Once every even row is done the bar stays on the last one's share,
    // where the two-thread split's even-row worker leaves it: never 100.
    const std::uint32_t lastEven = (H - 1) & ~1u;
    const std::uint32_t shown = job.lowestOpenEvenRow < H ? job.lowestOpenEvenRow : lastEven;
    if (job.lowestOpenEvenRow != before) SetProgress(job.state, MapRowProgress(job, shown));
}

}  // namespace texel_loop

namespace {

// The smurl sample at the texel's conditioned weights, scaled by noise at
// the texel's own position.
struct SmurlEvaluator {
    struct Scratch {
        std::unique_ptr<Ray[]> rays;
    };

    bool MakeScratch(const TexelJob& job, Scratch& scratch) const
    {
        const std::int64_t count = RayScratchCount(job.settings);
        if (count > 0) scratch.rays.reset(new (std::nothrow) Ray[static_cast<std::size_t>(count)]);
        return scratch.rays != nullptr;
    }

    bool Evaluate(const TexelJob& job, const TexelSample& texel, Scratch& scratch, float& value) const
    {
        const UtilitySettings& settings = job.settings;
        value = WithTexelNoise(job, texel,
                               EvaluateSampleWithDraw(settings, job.tables, job.mesh, texel.face, texel.bary,
                                                      scratch.rays.get(), texel.azimuthDraw));
        return true;
    }
};

}  // namespace

const TexelEvaluator& ClassicTexelEvaluator()
{
    static const SmurlEvaluator smurl;
    static const TexelEvaluatorFor<SmurlEvaluator> classic(smurl);
    return classic;
}

RunResult RunTexelWorkers(const BakeHooks& hooks, TexelJob& job, int threads)
{
    const std::uint32_t rows = texel_loop::Rows(job.state);
    RunPlan plan;
    plan.threads = threads;
    plan.length[kEvenRowSequence] = (rows + 1) / 2;
    plan.length[kOddRowSequence] = rows / 2;
    plan.firstStarted = kOddRowSequence;
    plan.chunkLength = 1;
    try {
        if (!IsTwoThreadSplit(plan.threads)) PrepareChunkedRows(job);
    } catch (const std::bad_alloc&) {
        RunResult result;
        result.outOfMemory = true;
        return result;
    }
    TexelWork work(job);
    return RunWorkers(hooks, job.workLock, work, plan);
}

}  // namespace dunsmere
