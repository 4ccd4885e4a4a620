#include "map/detail/texel_workers.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "eval/eval.h"
#include "host/noise.h"
#include "host/ray.h"

namespace {

// What a value above 1 becomes: the evaluation's own saturated value.
constexpr float kSaturated = 0.99f;
// How many texels ahead of the one in hand a row's records are fetched.
constexpr std::uint32_t kFetchAhead = 4;

// Under workLock while workers run.
void SetProgress(MapRunState& state, int percent)
{
    state.progressPercent = percent;
    if (state.progressWrites) state.progressWrites->push_back(percent);
}

std::uint32_t Columns(const MapRunState& state) { return state.TexelGrid.OuterCount(); }
std::uint32_t Rows(const MapRunState& state)
{
    return state.TexelGrid.OuterCount() > 0 ? state.TexelGrid.InnerCount(0) : 0u;
}

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

void PrepareChunkedRows(TexelJob& job)
{
    const MapRunState& state = job.state;
    const std::uint32_t W = Columns(state), H = Rows(state);
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

namespace {

// RowProgress before the grids' row y, counted in the map's rows.
int MapRowProgress(const TexelJob& job, std::uint32_t y)
{
    const std::uint32_t W = Columns(job.state);
    const std::uint32_t mapRows = job.mapRows > 0 ? job.mapRows : Rows(job.state);
    return RowProgress(static_cast<int>(job.firstRow + y), static_cast<int>(W), static_cast<int>(mapRows));
}

// What a worker keeps for the whole run: the rays of one sample and the
// values of the row in hand.
struct TexelScratch {
    std::unique_ptr<Ray[]> rays;
    std::unique_ptr<float[]> row;

    TexelScratch(const UtilitySettings& settings, std::uint32_t W)
    {
        const std::int64_t count = RayScratchCount(settings);
        if (count > 0) rays.reset(new (std::nothrow) Ray[static_cast<std::size_t>(count)]);
        row.reset(new (std::nothrow) float[W > 0 ? W : 1u]);
    }
    bool Ready() const { return rays && row; }
};

// Stores the evaluated texels [0, end) of row y; the caller holds workLock.
void StoreRow(TexelJob& job, std::uint32_t y, std::uint32_t end, const float* row)
{
    const int faceCount = job.mesh.getNumFaces();
    for (std::uint32_t x = 0; x < end; ++x)
        if (IsCovered(job.state.TexelGrid.Get(x, y), faceCount)) job.state.TexelValues.Set(x, y, row[x]);
}

// Evaluates row y into the scratch row and stores it. False when the run
// was cancelled before the row's end; what was evaluated is stored.
bool WorkRow(TexelJob& job, std::uint32_t y, TexelScratch& scratch, CrtRand& rng, const WorkerSeat& seat,
             bool finishes)
{
    MapRunState& state = job.state;
    const UtilitySettings& settings = job.settings;
    const std::uint32_t W = Columns(state), H = Rows(state);
    const bool noise = settings.noiseOn && settings.noiseSize != 0.0f;  // size 0: no finite point to look up
    const int faceCount = job.mesh.getNumFaces();
    const bool storesAhead = state.TexelValues.OuterCount() == W && W > 0 && state.TexelValues.InnerCount(0) == H;
    for (std::uint32_t x = 0; x < W; ++x) {
        // The grids are stored column by column, so each texel of a row has
        // lines of its own, far from its neighbours': they are fetched a few
        // texels ahead, the value's for StoreRow's write.
        if (x + kFetchAhead < W) {
            __builtin_prefetch(state.TexelGrid.Inner(x + kFetchAhead) + y);
            if (storesAhead) __builtin_prefetch(state.TexelValues.Inner(x + kFetchAhead) + y, 1);
        }
        if (seat.Cancelled()) {
            std::lock_guard<std::mutex> lock(job.workLock);
            StoreRow(job, y, x, scratch.row.get());
            return false;
        }
        const TexelRecord r = state.TexelGrid.Get(x, y);
        if (!IsCovered(r, faceCount)) continue;
        float value = EvaluateSample(settings, job.tables, job.mesh, r.face, r.bary, scratch.rays.get(), rng);
        if (noise) {
            // Placed with the raw weights: the noise follows the map, not
            // the sample point pulled inside the face.
            const Face& f = job.mesh.faces[static_cast<std::size_t>(r.face)];
            const Point3 V0 = job.mesh.verts[f.v[0]], V1 = job.mesh.verts[f.v[1]], V2 = job.mesh.verts[f.v[2]];
            const Point3 P = r.rawBary.x * V0 + r.rawBary.y * V1 + r.rawBary.z * V2;
            value = ModulateByNoise(value, noise3(P / settings.noiseSize));
        }
        scratch.row[x] = CapTexelValue(value);
    }
    std::lock_guard<std::mutex> lock(job.workLock);
    StoreRow(job, y, W, scratch.row.get());
    if (finishes) {
        job.rowFinished[y] = 1;
        const std::uint32_t before = job.lowestOpenEvenRow;
        while (job.lowestOpenEvenRow < H && job.rowFinished[job.lowestOpenEvenRow]) job.lowestOpenEvenRow += 2;
        // Once every even row is done the bar stays on the last one's share,
        // where the two-thread split's even-row worker leaves it: never 100.
        const std::uint32_t lastEven = (H - 1) & ~1u;
        const std::uint32_t shown = job.lowestOpenEvenRow < H ? job.lowestOpenEvenRow : lastEven;
        if (job.lowestOpenEvenRow != before) SetProgress(state, MapRowProgress(job, shown));
    }
    return true;
}

}  // namespace

int TexelWorker(TexelJob& job, WorkerSeat& seat)
{
    MapRunState& state = job.state;
    const std::uint32_t W = Columns(state);
    const std::uint32_t H = Rows(state);
    const bool chunked = seat.Chunked();
    if (!chunked) {
        std::lock_guard<std::mutex> lock(job.workLock);
        SetProgress(state, MapRowProgress(job, 0));
    }
    TexelScratch scratch(job.settings, W);
    if (!scratch.Ready()) {
        state.scratchFailed.store(1);
        seat.Cancel();  // the other workers need not go on either
        return 0;
    }

    CrtRand rng;
    WorkChunk chunk;
    while (seat.NextChunk(chunk)) {
        const bool reports = !chunked && chunk.sequence == kEvenRowSequence;
        for (std::int64_t p = chunk.begin; p < chunk.end; ++p) {
            const std::uint32_t y = static_cast<std::uint32_t>(2 * p + chunk.sequence);
            if (y >= H) break;
            if (p == chunk.begin)
                rng = CrtRand::After(chunked ? job.drawsBefore[y] : job.drawsAbove[chunk.sequence]);
            if (reports) {
                std::lock_guard<std::mutex> lock(job.workLock);
                SetProgress(state, MapRowProgress(job, y));
            }
            if (!WorkRow(job, y, scratch, rng, seat, chunked)) return 0;
        }
    }
    return chunked && seat.Cancelled() ? 0 : 1;
}

RunResult RunTexelWorkers(Interface& ip, ThreadStarter& starter, TexelJob& job, int threads)
{
    const std::uint32_t rows = Rows(job.state);
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
    return RunWorkers(ip, starter, job.workLock, work, plan);
}
