#include "map/detail/texel_workers.h"

#include <atomic>
#include <climits>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>

#include "eval/eval.h"
#include "host/noise.h"
#include "host/ray.h"

namespace {

// A covered texel at or below this is a speckle; a neighbour at or above the
// other is bright enough to lift it.
constexpr float kSpeckleMax = 0.1f;
constexpr float kBrightMin = 0.8f;
// What a value above 1 becomes: the evaluation's own saturated value.
constexpr float kSaturated = 0.99f;

std::atomic<int>& OwnDoneFlag(MapRunState& state, int evenRows)
{
    return evenRows ? state.evenRowsDone : state.oddRowsDone;
}

// The rays the worker's buffer holds: what EvaluateSample writes, at least
// the normal ray. 0 when the count does not fit the evaluation's int
// arithmetic, which no buffer could serve.
std::int64_t ScratchRayCount(const UtilitySettings& settings)
{
    const std::int64_t count = std::int64_t{settings.horizontalSpread} * settings.verticalSpread + 1;
    if (count > INT_MAX) return 0;
    return count < 1 ? 1 : count;
}

std::uint32_t Columns(const MapRunState& state) { return state.TexelGrid.OuterCount(); }
std::uint32_t Rows(const MapRunState& state)
{
    return state.TexelGrid.OuterCount() > 0 ? state.TexelGrid.InnerCount(0) : 0u;
}

// The clipped 3 x 3 block around (x, y) of a W x H map.
struct Block {
    std::uint32_t x0, x1, y0, y1;
    Block(std::uint32_t x, std::uint32_t y, std::uint32_t W, std::uint32_t H)
        : x0(x > 0 ? x - 1 : 0), x1(x + 1 < W ? x + 1 : W - 1), y0(y > 0 ? y - 1 : 0), y1(y + 1 < H ? y + 1 : H - 1)
    {
    }
};

}  // namespace

int RowProgress(int y, int W, int H)
{
    const double texels = static_cast<double>(W) * static_cast<double>(H);
    if (!(texels > 0.0)) return 0;
    return static_cast<int>(static_cast<double>(y) * static_cast<double>(W) * 100.0 / texels);
}

float ModulateByNoise(float value, float noise) { return value * (noise + 1.0f); }

// > and not >=: an evaluation never returns 1 (it caps at 0.99 itself), so
// only the noise brings a texel to 1, and exactly 1 is kept as it came.
float CapTexelValue(float value) { return value > 1.0f ? kSaturated : value; }

int TexelWorker(TexelJob& job, int evenRows)
{
    MapRunState& state = job.state;
    const UtilitySettings& settings = job.settings;
    const std::uint32_t W = Columns(state);
    const std::uint32_t H = Rows(state);
    {
        std::lock_guard<std::mutex> lock(job.workLock);
        state.progressPercent = 0;
    }
    const std::int64_t rays = ScratchRayCount(settings);
    const std::unique_ptr<Ray[]> rayScratch(rays > 0 ? new (std::nothrow) Ray[static_cast<std::size_t>(rays)]
                                                     : nullptr);
    if (!rayScratch) {
        state.scratchFailed.store(1);
        state.cancelFlag.store(1);  // the other worker need not go on either
        OwnDoneFlag(state, evenRows).store(1);
        return 0;
    }

    CrtRand rng;
    const bool noise = settings.noiseOn && settings.noiseSize != 0.0f;  // size 0: no finite point to look up
    const int faceCount = job.mesh.getNumFaces();
    for (std::uint32_t y = evenRows ? 0u : 1u; y < H; y += 2) {
        if (evenRows) {
            std::lock_guard<std::mutex> lock(job.workLock);
            state.progressPercent = RowProgress(static_cast<int>(y), static_cast<int>(W), static_cast<int>(H));
        }
        for (std::uint32_t x = 0; x < W; ++x) {
            if (state.cancelFlag.load()) {
                OwnDoneFlag(state, evenRows).store(1);
                return 0;
            }
            const TexelRecord r = state.TexelGrid.Get(x, y);
            if (r.face < 0 || r.face >= faceCount) continue;
            float value = EvaluateSample(settings, job.tables, job.mesh, r.face, r.bary, rayScratch.get(), rng);
            if (noise) {
                // Placed with the raw weights: the noise follows the map, not
                // the sample point pulled inside the face.
                const Face& f = job.mesh.faces[static_cast<std::size_t>(r.face)];
                const Point3 V0 = job.mesh.verts[f.v[0]], V1 = job.mesh.verts[f.v[1]], V2 = job.mesh.verts[f.v[2]];
                const Point3 P = r.rawBary.x * V0 + r.rawBary.y * V1 + r.rawBary.z * V2;
                value = ModulateByNoise(value, noise3(P / settings.noiseSize));
            }
            value = CapTexelValue(value);
            std::lock_guard<std::mutex> lock(job.workLock);
            state.TexelValues.Set(x, y, value);
        }
    }
    return 1;
}

void TexelWorkerEven(void* job)
{
    TexelJob& j = *static_cast<TexelJob*>(job);
    j.state.evenRowsDone.store(0);
    TexelWorker(j, kEvenRows);
    j.state.evenRowsDone.store(1);
}

void TexelWorkerOdd(void* job)
{
    TexelJob& j = *static_cast<TexelJob*>(job);
    j.state.oddRowsDone.store(0);
    TexelWorker(j, kOddRows);
    j.state.oddRowsDone.store(1);
}

// Both passes visit the map column by column, the order its storage runs
// in. The order cannot change their result: neither pass reads what it
// writes (a lifted texel is negative, so never bright; dilation reads only
// covered texels and writes only uncovered ones).
void RepairSpeckles(MapRunState& state)
{
    const std::uint32_t W = Columns(state), H = Rows(state);
    BArray<TexelRecord>& grid = state.TexelGrid;
    BArray<float>& values = state.TexelValues;
    for (std::uint32_t x = 0; x < W; ++x)
        for (std::uint32_t y = 0; y < H; ++y) {
            const int face = grid.Get(x, y).face;
            if (face == -1 || !(values.Get(x, y) <= kSpeckleMax)) continue;
            int count = 0;
            float best = 0.0f;
            const Block b(x, y, W, H);
            for (std::uint32_t yy = b.y0; yy <= b.y1; ++yy)
                for (std::uint32_t xx = b.x0; xx <= b.x1; ++xx) {
                    const float v = values.Get(xx, yy);
                    if (grid.Get(xx, yy).face != face || !(v >= kBrightMin)) continue;
                    ++count;
                    if (v > best) best = v;
                }
            // Negative until the second pass, so a lifted texel is not a
            // bright neighbour of the texels visited after it.
            if (count > 0) values.Set(x, y, -best);
        }
    for (std::uint32_t x = 0; x < values.OuterCount(); ++x) {
        float* column = values.Inner(x);
        for (std::uint32_t y = 0; y < values.InnerCount(x); ++y) column[y] = std::fabs(column[y]);
    }
}

void DilateCoverage(MapRunState& state)
{
    const std::uint32_t W = Columns(state), H = Rows(state);
    BArray<TexelRecord>& grid = state.TexelGrid;
    BArray<float>& values = state.TexelValues;
    for (std::uint32_t x = 0; x < W; ++x)
        for (std::uint32_t y = 0; y < H; ++y) {
            if (grid.Get(x, y).face != -1) continue;
            int count = 0;
            float best = 0.0f;
            const Block b(x, y, W, H);
            for (std::uint32_t yy = b.y0; yy <= b.y1; ++yy)
                for (std::uint32_t xx = b.x0; xx <= b.x1; ++xx) {
                    if (grid.Get(xx, yy).face == -1) continue;
                    ++count;
                    const float v = values.Get(xx, yy);
                    if (v > best) best = v;
                }
            // Only covered texels are sources and no record changes, so the
            // texels set here never feed a later one.
            if (count > 0) values.Set(x, y, best);
        }
}
