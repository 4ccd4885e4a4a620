#include "map/smurl_map.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "eval/eval.h"
#include "host/core.h"
#include "map/map_bake.h"

namespace dunsmere {

namespace {

constexpr WORD kOpaque = 65535;

DWORD NoProgress(void*) { return 0; }

void Describe(BitmapInfo& info, const UtilitySettings& settings)
{
    info.SetWidth(static_cast<WORD>(settings.XSiz));
    info.SetHeight(static_cast<WORD>(settings.YSiz));
    info.SetType(BMM_TRUE_64);
    info.SetFlags(MAP_HAS_ALPHA);
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

// The miss map: per texel, the share of its projected sub-texels that
// missed, times 65535, rows from the top.
std::vector<WORD> MissLevels(const MapRunState& state)
{
    const std::uint32_t W = state.TexelValues.OuterCount(), H = W > 0 ? state.TexelValues.InnerCount(0) : 0u;
    std::vector<WORD> levels;
    if (state.missedSubTexels.size() != static_cast<std::size_t>(W) * H ||
        state.projectedSubTexels.size() != state.missedSubTexels.size())
        return levels;
    levels.resize(state.missedSubTexels.size());
    for (std::uint32_t x = 0; x < W; ++x)
        for (std::uint32_t y = 0; y < H; ++y) {
            const std::size_t i = static_cast<std::size_t>(x) * H + y;
            const std::uint32_t projected = state.projectedSubTexels[i];
            levels[static_cast<std::size_t>(y) * W + x] =
                projected ? static_cast<WORD>(std::uint32_t{kOpaque} * state.missedSubTexels[i] / projected) : WORD{0};
        }
    return levels;
}

void ReportProjection(Interface& ip, const UtilitySettings& settings, const MapRunState& state,
                      const ProjectionTables& projection, const ProjectionCounts& counts)
{
    ProjectionReport report = projection.Report(counts);
    std::vector<WORD> levels;
    if (state.recordMisses) {
        try {
            levels = MissLevels(state);
        } catch (const std::bad_alloc&) {
            levels.clear();  // the counts are still reported
        }
    }
    if (!levels.empty()) {
        report.missLevels = levels.data();
        report.missWidth = settings.XSiz;
        report.missHeight = settings.YSiz;
    }
    ip.ProjectionDone(report);
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
    // Made before the bar starts: a host's hooks allocate nothing later.
    const BakeHooks hooks = HostBakeHooks(ip, starter);
    if (!ResetMapGrids(state, settings, hooks)) {
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
    if (const char* refusal = TakeSources(ip, settings, mesh, tables)) {
        if (copy) copy->DeleteThis();
        ShowInfo(ip, refusal);
        return;
    }
    state.recordMisses = settings.highPoly && ip.WantsMissMap();
    ip.ProgressStart(kMapProgressTitle, 1, &NoProgress, nullptr);
    MapBake bake(mesh, settings, tables, state, hooks);
    BakeStatus status = BakeStatus::kOutOfMemory;
    try {
        tables.occluders = GatherOccluders(ip, settings);
        status = bake.Evaluate();
    } catch (const std::bad_alloc&) {
    }

    const bool failed = status == BakeStatus::kThreadStartFailed || status == BakeStatus::kOutOfMemory;
    const bool cancelled = status == BakeStatus::kCancelled;
    if (!failed) {
        char text[64];
        std::snprintf(text, sizeof text, "elapsed time = %d secs", static_cast<int>(ip.Time() - bake.WorkersStarted()));
        ip.MessageBox(text, kMessageTitle, MB_OK);
        status = bake.Finish();
        if (settings.highPoly) ReportProjection(ip, settings, state, tables.projection, bake.Projected());
    }

    ip.ProgressEnd();
    if (copy) copy->DeleteThis();
    tables.vertexNormals.ClearVertexNormals();
    if (status == BakeStatus::kThreadStartFailed || status == BakeStatus::kOutOfMemory) {
        ShowInfo(ip, status == BakeStatus::kThreadStartFailed ? kThreadStartFailure : kOutOfMemory);
        return;
    }

    if (cancelled && ip.MessageBox(kSavePartialBitmap, kMessageTitle, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
    SaveMap(ip, settings, state);
}

}  // namespace dunsmere
