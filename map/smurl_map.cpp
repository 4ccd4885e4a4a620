#include "map/smurl_map.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "eval/eval.h"
#include "geom/geom.h"
#include "host/core.h"
#include "host/face_rule.h"
#include "map/detail/mapped_faces.h"
#include "map/detail/rasterize.h"
#include "map/detail/supersample.h"
#include "map/detail/texel_workers.h"

namespace {

constexpr WORD kOpaque = 65535;

DWORD NoProgress(void*) { return 0; }

std::uint32_t MapSide(std::int32_t size) { return size > 0 ? static_cast<std::uint32_t>(size) : 0u; }

// Step one of every run, before any check: nothing of an earlier run
// survives. False when the grids cannot be had; they are then left 1 x 1.
// The grids' columns are filled on the threads HELPERS lends.
bool ResetGrids(MapRunState& state, const UtilitySettings& settings, const BuildHelpers& helpers)
{
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
    return sized;
}

// Rasterizes every face that the face rule keeps, moving the bar through
// the share of faces seen. On lent threads the faces are gathered first,
// their debug lines written in face order, and bands of rows are then
// rasterized at once, each taking the faces that reach it in face order:
// a texel's records come in the order they would on one thread.
void RasterizeFaces(Interface& ip, const Mesh& mesh, const UtilitySettings& settings, BArray<TexelRecord>& grid,
                    const BuildHelpers& helpers)
{
    const int W = static_cast<int>(grid.OuterCount()), H = W > 0 ? static_cast<int>(grid.InnerCount(0)) : 0;
    std::vector<FaceRows> faces;
    bool gathered = ThreadsOf(helpers) > 1 && H > 1;
    try {
        if (gathered) faces = GatherFaceRows(ip, mesh, settings, W, H, true);
    } catch (const std::bad_alloc&) {
        gathered = false;  // before the list, nothing was done
    }
    if (!gathered) {
        ForEachMappedFace(ip, mesh, settings,
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

// The threads the steps before and after the workers' run may use: as many
// as the build was lent, for a map large enough to be worth starting them
// for. The host is not asked again: it may count its questions.
BuildHelpers LentThreads(const UtilitySettings& settings, ThreadStarter& starter, int threads)
{
    constexpr std::int64_t kLentTexels = std::int64_t{1} << 15;
    if (std::int64_t{settings.XSiz} * settings.YSiz < kLentTexels) return {};
    return {&starter, threads};
}

void Describe(BitmapInfo& info, const UtilitySettings& settings)
{
    info.SetWidth(static_cast<WORD>(settings.XSiz));
    info.SetHeight(static_cast<WORD>(settings.YSiz));
    info.SetType(BMM_TRUE_64);
    info.SetFlags(MAP_HAS_ALPHA);
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

// Row 0 of the bitmap is row 0 of the map, its top. Pixels outside the value
// grid (a bitmap larger than asked for) are black.
//
// With invertLevels, a texel that a face or the padding reached shows
// 65535 - level. With coverageAlpha, alpha is the share of its sub-texels a
// face covers, 65535 * n / (S * S) in integers; opaque otherwise.
//
// The bitmap takes rows and the grids hold columns, so the rows are made a
// tile of them at a time, each column's run in the tile read in one go.
void PutRows(Bitmap& bitmap, const UtilitySettings& settings, const MapRunState& state)
{
    constexpr int kTileRows = 64;
    const BArray<float>& values = state.TexelValues;
    const int width = bitmap.Width(), height = bitmap.Height();
    if (width <= 0 || height <= 0) return;
    int tileRows = std::min(kTileRows, height);
    std::unique_ptr<BMM_Color_64[]> tile(new (std::nothrow) BMM_Color_64[static_cast<std::size_t>(width) * tileRows]);
    if (!tile) {
        tileRows = 1;
        tile.reset(new (std::nothrow) BMM_Color_64[static_cast<std::size_t>(width)]);
    }
    if (!tile) return;  // the bitmap is still offered, without its rows
    const std::uint32_t W = values.OuterCount();
    const std::uint32_t H = W > 0 ? values.InnerCount(0) : 0u;
    const bool invert = settings.invertLevels && state.reached.size() == static_cast<std::size_t>(W) * H;
    const bool alpha = settings.coverageAlpha && state.coveredSubTexels.size() == static_cast<std::size_t>(W) * H;
    const std::uint32_t blockTexels = static_cast<std::uint32_t>(settings.supersample * settings.supersample);
    for (int y0 = 0; y0 < height; y0 += tileRows) {
        const int rows = std::min(tileRows, height - y0);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t vx = static_cast<std::uint32_t>(x);
            for (int r = 0; r < rows; ++r) {
                const std::uint32_t vy = static_cast<std::uint32_t>(y0 + r);
                const bool inside = vx < W && vy < H;
                const std::size_t i = static_cast<std::size_t>(vx) * H + vy;
                WORD level = inside ? GreyLevel(values.Get(vx, vy)) : 0;
                if (invert && inside && state.reached[i]) level = static_cast<WORD>(kOpaque - level);
                const WORD a = !alpha  ? kOpaque
                               : inside ? static_cast<WORD>(std::uint32_t{kOpaque} * state.coveredSubTexels[i] / blockTexels)
                                        : WORD{0};
                tile[static_cast<std::size_t>(r) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] = {
                    level, level, level, a};
            }
        }
        for (int r = 0; r < rows; ++r)
            bitmap.PutPixels(0, y0 + r, width, tile.get() + static_cast<std::size_t>(r) * static_cast<std::size_t>(width));
    }
}

void SaveMap(Interface& ip, const UtilitySettings& settings, const MapRunState& state)
{
    BitmapInfo info;
    Describe(info, settings);
    BitmapManager* manager = TheManager();
    Bitmap* bitmap = manager ? manager->Create(&info) : nullptr;
    if (!bitmap) {
        ShowInfo(ip, kNoBitmap);
        return;
    }
    PutRows(*bitmap, settings, state);
    if (manager->SelectFileOutput(&info, ip.GetMainWindow())) {
        // The choice may have changed the description; the map is what it is.
        Describe(info, settings);
        bitmap->OpenOutput(&info);
        bitmap->Write(&info, BMM_SINGLEFRAME);
        bitmap->Close(&info, 0);
    }
    bitmap->DeleteThis();
}

}  // namespace

WORD GreyLevel(float value)
{
    if (!(value > 0.0f)) return 0;
    if (value >= 1.0f) return kOpaque;
    return static_cast<WORD>(std::trunc(static_cast<double>(value) * 65535.0));
}

void GenerateSmurlMap(Interface& ip, const UtilitySettings& settings, RunTables& tables, MapRunState& state,
                      ThreadStarter& starter)
{
    if (RefuseUnservableSettings(ip, settings, SettingsUse::kMap)) return;
    // The grids' fill may use as many threads as the run will. Asked again
    // after ProgressStart, where the host counts the run's questions.
    if (!ResetGrids(state, settings, LentThreads(settings, starter, WorkerThreadsFor(ip)))) {
        ShowInfo(ip, kOutOfMemory);
        return;
    }
    if (ip.GetSelNodeCount() != 1) {
        ShowInfo(ip, kSelectOneNode);
        return;
    }
    INode* node = ip.GetSelNode(0);
    const TimeValue time = ip.GetTime();
    Object* obj = node ? node->EvalWorldState(time, 1).obj : nullptr;
    TriObject* tri = obj && obj->CanConvertToType(kTriObjectClassID) ? obj->ConvertToType(time, kTriObjectClassID)
                                                                     : nullptr;
    if (!tri) {
        ShowInfo(ip, kNoTriObject);
        return;
    }
    // A conversion that made a new object made it for this run alone.
    TriObject* copy = tri != obj ? tri : nullptr;

    Mesh& mesh = tri->GetMesh();
    ip.ProgressStart(kMapProgressTitle, 1, &NoProgress, nullptr);
    // The build may use as many threads as the run will, started once for
    // all the steps before the workers and ended before they start.
    const int buildThreads = WorkerThreadsFor(ip);
    const bool supersampled = settings.supersample > 1;
    RunResult result;
    std::int64_t startTime = 0;
    // A build step or a rasterizing that runs out of memory ends the run as
    // the workers do when they run out.
    try {
        std::optional<HelperCrew> crew(std::in_place, BuildHelpers{&starter, buildThreads});
        tables.BuildRayTables(mesh, crew->Helpers(), GatherOccluders(ip, settings));
        state.scratchFailed.store(0);
        state.progressPercent = 0;
        if (supersampled) {
            crew.reset();
            startTime = ip.Time();
            result = RunSupersampledMap(ip, mesh, settings, tables, state, starter);
        } else {
            const bool lent = LentThreads(settings, starter, buildThreads).starter != nullptr;
            RasterizeFaces(ip, mesh, settings, state.TexelGrid, lent ? crew->Helpers() : BuildHelpers{});
            tables.vertexNormals.BuildVertexNormals(mesh, crew->Helpers());
            crew.reset();
            startTime = ip.Time();
            TexelJob job{mesh, settings, {tables.faceNormals, tables.vertexNormals, &tables.scene}, tables.workLock,
                         state};
            result = RunTexelWorkers(ip, starter, job, WorkerThreadsFor(ip));
        }
    } catch (const std::bad_alloc&) {
        result.outOfMemory = true;
    }

    const char* failure = result.startFailed                                 ? kThreadStartFailure
                          : result.outOfMemory || state.scratchFailed.load() ? kOutOfMemory
                                                                            : nullptr;
    if (!failure) {
        char text[64];
        std::snprintf(text, sizeof text, "elapsed time = %d secs", static_cast<int>(ip.Time() - startTime));
        ip.MessageBox(text, kMessageTitle, MB_OK);
        // A supersampled run cleaned its bands as it went.
        if (!supersampled) {
            // The passes' steps share a crew too. The growth's marks and
            // frontiers are the run's last large allocations: a map they
            // cannot be had for is not saved half-grown.
            try {
                HelperCrew passes(LentThreads(settings, starter, buildThreads));
                RepairSpeckles(state, passes.Helpers());
                DilateCoverage(state, settings.padding, settings.invertLevels ? &state.reached : nullptr,
                               passes.Helpers());
                NoteCoverage(settings, state);
            } catch (const std::bad_alloc&) {
                failure = kOutOfMemory;
            }
        }
    }

    ip.ProgressEnd();
    if (copy) copy->DeleteThis();
    tables.vertexNormals.ClearVertexNormals();
    if (failure) {
        ShowInfo(ip, failure);
        return;
    }

    if (result.cancelled &&
        ip.MessageBox(kSavePartialBitmap, kMessageTitle, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    SaveMap(ip, settings, state);
}
