#include "map/map_bake.h"

#include <algorithm>
#include <cstdint>
#include <new>
#include <optional>
#include <vector>

#include "geom/geom.h"
#include "map/detail/mapped_faces.h"
#include "map/detail/passes.h"
#include "map/detail/rasterize.h"
#include "map/detail/supersample.h"
#include "map/detail/texel_loop.h"
#include "map/detail/texel_workers.h"

namespace dunsmere {

namespace {

std::uint32_t MapSide(std::int32_t size) { return size > 0 ? static_cast<std::uint32_t>(size) : 0u; }

// The threads the steps before and after the workers' run may use: as many
// as the build was lent, for a map large enough to be worth starting them
// for. The hooks are not asked again: a host may count its questions.
BuildHelpers LentThreads(const UtilitySettings& settings, ThreadStarter* starter, int threads)
{
    constexpr std::int64_t kLentTexels = std::int64_t{1} << 15;
    if (std::int64_t{settings.XSiz} * settings.YSiz < kLentTexels) return {};
    return {starter, threads};
}

// Rasterizes every face that the face rule keeps, moving the bar through
// the share of faces seen. On lent threads the faces are gathered first,
// their debug lines written in face order, and bands of rows are then
// rasterized at once, each taking the faces that reach it in face order:
// a texel's records come in the order they would on one thread.
void RasterizeFaces(const BakeHooks& hooks, const Mesh& mesh, const UtilitySettings& settings,
                    BArray<TexelRecord>& grid, const BuildHelpers& helpers)
{
    const int W = static_cast<int>(grid.OuterCount()), H = W > 0 ? static_cast<int>(grid.InnerCount(0)) : 0;
    std::vector<FaceRows> faces;
    bool gathered = ThreadsOf(helpers) > 1 && H > 1;
    try {
        if (gathered) faces = GatherFaceRows(hooks, mesh, settings, W, H, true);
    } catch (const std::bad_alloc&) {
        gathered = false;  // before the list, nothing was done
    }
    if (!gathered) {
        ForEachMappedFace(hooks, mesh, settings,
                          [&grid](int face, Point3 p0, Point3 p1, Point3 p2) { RasterizeFace(grid, p0, p1, p2, face); });
        return;
    }
    const int bands = std::min(H, 8 * ThreadsOf(helpers)), bandRows = (H + bands - 1) / bands;
    ParallelFor(helpers, static_cast<std::size_t>(bands), [&](std::size_t b) {
        const int first = static_cast<int>(b) * bandRows, last = std::min(H, first + bandRows) - 1;
        if (first > last) return;
        RasterizeBand(grid, {H, first, static_cast<std::uint32_t>(last - first + 1), true}, faces, mesh,
                      settings.mapChannel, false);
    });
}

// The options' view of a direct run's texels, as a supersampled run leaves
// them: a texel covers itself or not, and is reached when the padding set it.
void NoteCoverage(const UtilitySettings& settings, MapRunState& state)
{
    if (!settings.coverageAlpha) return;
    const std::uint32_t W = state.TexelGrid.OuterCount(), H = W > 0 ? state.TexelGrid.InnerCount(0) : 0u;
    state.coveredSubTexels.assign(static_cast<std::size_t>(W) * H, 0);
    for (std::uint32_t x = 0; x < W; ++x)
        for (std::uint32_t y = 0; y < H; ++y)
            state.coveredSubTexels[static_cast<std::size_t>(x) * H + y] = state.TexelGrid.Get(x, y).face != -1;
}

// A direct run's projected texels: those a face covers, and those that
// missed, which lost their face.
void NoteProjected(MapRunState& state)
{
    const std::uint32_t W = state.TexelGrid.OuterCount(), H = texel_loop::Rows(state);
    if (!state.recordMisses || state.missedSubTexels.size() != static_cast<std::size_t>(W) * H) return;
    state.projectedSubTexels.assign(static_cast<std::size_t>(W) * H, 0);
    for (std::uint32_t x = 0; x < W; ++x)
        for (std::uint32_t y = 0; y < H; ++y) {
            const std::size_t i = static_cast<std::size_t>(x) * H + y;
            state.projectedSubTexels[i] = state.TexelGrid.Get(x, y).face != -1 || state.missedSubTexels[i];
        }
}

}  // namespace

// The grids' columns are filled on the threads the hooks lend.
bool ResetMapGrids(MapRunState& state, const UtilitySettings& settings, const BakeHooks& hooks)
{
    const BuildHelpers helpers = LentThreads(settings, hooks.starter, hooks.workerCount());
    bool sized = true;
    // A supersampled run keeps its records band by band, never for the
    // whole map.
    const bool records = settings.supersample <= 1;
    const auto shared = [&helpers](std::size_t count, const auto& work) {
        ParallelFor(helpers, count, [&work](std::size_t i) { work(i); });
    };
    try {
        state.TexelGrid.Reset(records ? MapSide(settings.XSiz) : 1u, records ? MapSide(settings.YSiz) : 1u,
                              kEmptyTexel, shared);
        state.TexelValues.Reset(MapSide(settings.XSiz), MapSide(settings.YSiz), 0.0f, shared);
    } catch (const std::bad_alloc&) {
        state.TexelGrid.Reset(1, 1, kEmptyTexel);
        state.TexelValues.Reset(1, 1, 0.0f);
        sized = false;
    }
    state.coveredSubTexels.clear();
    state.reached.clear();
    state.missedSubTexels.clear();
    state.projectedSubTexels.clear();
    return sized;
}

BakeStatus MapBake::Evaluate()
{
    // The build may use as many threads as the run will, started once for
    // all the steps before the workers and ended before they start.
    buildThreads_ = hooks_.workerCount();
    RunResult result;
    // A build step or a rasterizing that runs out of memory ends the run as
    // the workers do when they run out.
    try {
        std::optional<HelperCrew> crew(std::in_place, BuildHelpers{hooks_.starter, buildThreads_});
        // A bake from sources casts no ray at the mesh itself: its scene
        // is the sources' and the occluders'.
        std::optional<SourceTexelEvaluator> fromSources;
        if (settings_.highPoly) {
            tables_.projection.Build(mesh_, settings_, std::move(tables_.sources), std::move(tables_.cage),
                                     std::move(tables_.occluders), crew->Helpers());
            fromSources.emplace(tables_.projection, counts_);
        } else {
            tables_.projection.Clear();
            tables_.BuildRayTables(mesh_, crew->Helpers(), std::move(tables_.occluders));
        }
        const TexelEvaluator& evaluator = fromSources ? fromSources->Handle() : evaluator_;
        state_.scratchFailed.store(0);
        state_.progressPercent = 0;
        if (settings_.supersample > 1) {
            crew.reset();
            workersStarted_ = hooks_.clock();
            result = RunSupersampledMap(hooks_, mesh_, settings_, tables_, state_, evaluator);
        } else {
            const bool lent = LentThreads(settings_, hooks_.starter, buildThreads_).starter != nullptr;
            RasterizeFaces(hooks_, mesh_, settings_, state_.TexelGrid, lent ? crew->Helpers() : BuildHelpers{});
            if (!fromSources) tables_.vertexNormals.BuildVertexNormals(mesh_, crew->Helpers());
            if (state_.recordMisses)
                state_.missedSubTexels.assign(
                    static_cast<std::size_t>(state_.TexelGrid.OuterCount()) * texel_loop::Rows(state_), 0);
            crew.reset();
            workersStarted_ = hooks_.clock();
            TexelJob job{mesh_, settings_, {tables_.faceNormals, tables_.vertexNormals, &tables_.scene},
                         tables_.workLock, state_};
            job.evaluator = &evaluator;
            result = RunTexelWorkers(hooks_, job, hooks_.workerCount());
        }
    } catch (const std::bad_alloc&) {
        result.outOfMemory = true;
    }
    if (result.startFailed) return BakeStatus::kThreadStartFailed;
    if (result.outOfMemory || state_.scratchFailed.load()) return BakeStatus::kOutOfMemory;
    return result.cancelled ? BakeStatus::kCancelled : BakeStatus::kDone;
}

BakeStatus MapBake::Finish()
{
    // A supersampled run cleaned its bands as it went.
    if (settings_.supersample > 1) return BakeStatus::kDone;
    // The passes' steps share a crew too. The growth's marks and frontiers
    // are the run's last large allocations: a map they cannot be had for is
    // not saved half-grown.
    try {
        HelperCrew passes(LentThreads(settings_, hooks_.starter, buildThreads_));
        RepairSpeckles(state_, passes.Helpers());
        DilateCoverage(state_, settings_.padding, settings_.invertLevels ? &state_.reached : nullptr,
                       passes.Helpers());
        NoteCoverage(settings_, state_);
        NoteProjected(state_);
    } catch (const std::bad_alloc&) {
        return BakeStatus::kOutOfMemory;
    }
    return BakeStatus::kDone;
}

}  // namespace dunsmere
