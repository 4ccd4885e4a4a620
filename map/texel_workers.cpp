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

// A covered texel at or below this is a speckle; a neighbour at or above the
// other is bright enough to lift it.
constexpr float kSpeckleMax = 0.1f;
constexpr float kBrightMin = 0.8f;
// What a value above 1 becomes: the evaluation's own saturated value.
constexpr float kSaturated = 0.99f;

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
    for (std::uint32_t y = 2; y < H; ++y) job.drawsBefore[y] = job.drawsBefore[y - 2] + covered[y - 2];
    job.rowFinished.assign(H, 0);
    job.lowestOpenEvenRow = 0;
}

namespace {

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
    const std::uint32_t W = Columns(state);
    const bool noise = settings.noiseOn && settings.noiseSize != 0.0f;  // size 0: no finite point to look up
    const int faceCount = job.mesh.getNumFaces();
    for (std::uint32_t x = 0; x < W; ++x) {
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
        const std::uint32_t H = Rows(state);
        job.rowFinished[y] = 1;
        const std::uint32_t before = job.lowestOpenEvenRow;
        while (job.lowestOpenEvenRow < H && job.rowFinished[job.lowestOpenEvenRow]) job.lowestOpenEvenRow += 2;
        // Once every even row is done the bar stays on the last one's share,
        // where the two-thread split's even-row worker leaves it: never 100.
        const std::uint32_t lastEven = (H - 1) & ~1u;
        const std::uint32_t shown = job.lowestOpenEvenRow < H ? job.lowestOpenEvenRow : lastEven;
        if (job.lowestOpenEvenRow != before)
            SetProgress(state, RowProgress(static_cast<int>(shown), static_cast<int>(W), static_cast<int>(H)));
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
        SetProgress(state, 0);
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
            if (chunked && p == chunk.begin) rng = CrtRand::After(job.drawsBefore[y]);
            if (reports) {
                std::lock_guard<std::mutex> lock(job.workLock);
                SetProgress(state, RowProgress(static_cast<int>(y), static_cast<int>(W), static_cast<int>(H)));
            }
            if (!WorkRow(job, y, scratch, rng, seat, chunked)) return 0;
        }
    }
    return chunked && seat.Cancelled() ? 0 : 1;
}

// Both passes visit the map column by column, the order its storage runs
// in. The order cannot change their result: neither pass reads what it
// writes (a lifted texel is negative, so never bright; a dilation round
// reads only texels set before it and writes only texels not yet set).
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

void DilateCoverage(MapRunState& state, int rounds)
{
    const std::uint32_t W = Columns(state), H = Rows(state);
    if (rounds <= 0 || W == 0 || H == 0) return;
    if (rounds > kMaxDilateRounds) rounds = kMaxDilateRounds;
    BArray<TexelRecord>& grid = state.TexelGrid;
    BArray<float>& values = state.TexelValues;
    // The round each texel was set in (0: covered), kept from the second
    // round on: a texel serves as a source from the round after its own.
    constexpr std::uint16_t kUnset = 0xFFFF;
    std::vector<std::uint16_t> setIn;
    if (rounds > 1) setIn.assign(static_cast<std::size_t>(W) * H, kUnset);
    auto at = [H](std::uint32_t x, std::uint32_t y) { return static_cast<std::size_t>(x) * H + y; };
    // The texels the last round set, whose unset neighbours the next visits.
    std::vector<std::uint32_t> frontier, next;

    // Round 1 sweeps the map: its sources are the covered texels.
    for (std::uint32_t x = 0; x < W; ++x)
        for (std::uint32_t y = 0; y < H; ++y) {
            if (grid.Get(x, y).face != -1) {
                if (rounds > 1) setIn[at(x, y)] = 0;
                continue;
            }
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
            if (count == 0) continue;
            values.Set(x, y, best);
            if (rounds > 1) frontier.push_back(static_cast<std::uint32_t>(at(x, y)));
        }
    // Round 1's marks go in after its sweep: during it, a texel it set must
    // not read as covered. Its texels are exactly the frontier.
    for (const std::uint32_t i : frontier) setIn[i] = 1;

    // Later rounds visit only the neighbours of the round before, so each
    // texel is looked at a bounded number of times, whatever the rounds.
    for (int k = 2; k <= rounds && !frontier.empty(); ++k) {
        next.clear();
        for (const std::uint32_t i : frontier) {
            const Block around(i / H, i % H, W, H);
            for (std::uint32_t x = around.x0; x <= around.x1; ++x)
                for (std::uint32_t y = around.y0; y <= around.y1; ++y) {
                    if (setIn[at(x, y)] != kUnset) continue;
                    float best = 0.0f;
                    const Block b(x, y, W, H);
                    for (std::uint32_t yy = b.y0; yy <= b.y1; ++yy)
                        for (std::uint32_t xx = b.x0; xx <= b.x1; ++xx) {
                            if (setIn[at(xx, yy)] >= k) continue;  // unset, or set in this round
                            const float v = values.Get(xx, yy);
                            if (v > best) best = v;
                        }
                    values.Set(x, y, best);
                    setIn[at(x, y)] = static_cast<std::uint16_t>(k);
                    next.push_back(static_cast<std::uint32_t>(at(x, y)));
                }
        }
        frontier.swap(next);
    }
}
