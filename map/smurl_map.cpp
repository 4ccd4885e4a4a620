#include "map/smurl_map.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include "eval/eval.h"
#include "geom/geom.h"
#include "host/core.h"
#include "host/face_rule.h"
#include "map/detail/rasterize.h"
#include "map/detail/texel_workers.h"

namespace {

constexpr WORD kOpaque = 65535;

DWORD NoProgress(void*) { return 0; }

std::uint32_t MapSide(std::int32_t size) { return size > 0 ? static_cast<std::uint32_t>(size) : 0u; }

// Step one of every run, before any check: nothing of an earlier run
// survives. False when the grids cannot be had; they are then left 1 x 1.
bool ResetGrids(MapRunState& state, const UtilitySettings& settings)
{
    bool sized = true;
    try {
        state.TexelGrid.Resize(MapSide(settings.XSiz), MapSide(settings.YSiz), kEmptyTexel);
        state.TexelValues.Resize(MapSide(settings.XSiz), MapSide(settings.YSiz), 0.0f);
    } catch (const std::bad_alloc&) {
        state.TexelGrid.Resize(1, 1, kEmptyTexel);
        state.TexelValues.Resize(1, 1, 0.0f);
        sized = false;
    }
    state.TexelGrid.Fill(kEmptyTexel);
    state.TexelValues.Fill(0.0f);
    return sized;
}

// Rasterizes every face that the face rule keeps, moving the bar through
// the share of faces seen.
void RasterizeFaces(Interface& ip, const Mesh& mesh, const UtilitySettings& settings, BArray<TexelRecord>& grid)
{
    const MapFaceFilter filter{settings.mapChannel, settings.selectedOnly != 0, settings.mtlIDOn != 0,
                               settings.mtlID};
    const int faceCount = mesh.getNumFaces();
    if (faceCount > 0 && MapFaceExclusion(mesh, filter, 0) == FaceExclusion::kNoMapChannel)
        return;  // nothing to map: the map stays black
    const UVVert* tv = mesh.mapVerts(filter.mapChannel);
    const TVFace* tf = mesh.mapFaces(filter.mapChannel);
    for (int i = 0; i < faceCount; ++i) {
        ip.ProgressUpdate(static_cast<int>(100LL * i / faceCount), 1, nullptr);
        switch (MapFaceExclusion(mesh, filter, i)) {
        case FaceExclusion::kBaked: break;
        case FaceExclusion::kOtherMaterial:
            DebugPrint("Face %d not included - mtlID %d\n", i, MaterialIDOf(mesh.faces[static_cast<std::size_t>(i)]));
            continue;
        default: continue;
        }
        const TVFace& mf = tf[i];
        RasterizeFace(grid, tv[mf.t[0]], tv[mf.t[1]], tv[mf.t[2]], i);
    }
}

void Describe(BitmapInfo& info, const UtilitySettings& settings)
{
    info.SetWidth(static_cast<WORD>(settings.XSiz));
    info.SetHeight(static_cast<WORD>(settings.YSiz));
    info.SetType(BMM_TRUE_64);
    info.SetFlags(MAP_HAS_ALPHA);
}

// Row 0 of the bitmap is row 0 of the map, its top. Pixels outside the value
// grid (a bitmap larger than asked for) are black.
void PutRows(Bitmap& bitmap, const BArray<float>& values)
{
    const int width = bitmap.Width(), height = bitmap.Height();
    if (width <= 0 || height <= 0) return;
    const std::unique_ptr<BMM_Color_64[]> row(new (std::nothrow) BMM_Color_64[static_cast<std::size_t>(width)]);
    if (!row) return;  // the bitmap is still offered, without its rows
    const std::uint32_t W = values.OuterCount();
    const std::uint32_t H = W > 0 ? values.InnerCount(0) : 0u;
    for (int y = 0; y < height; ++y) {
        const std::uint32_t vy = static_cast<std::uint32_t>(y);
        for (int x = 0; x < width; ++x) {
            const std::uint32_t vx = static_cast<std::uint32_t>(x);
            const WORD level = vx < W && vy < H ? GreyLevel(values.Get(vx, vy)) : 0;
            row[static_cast<std::size_t>(x)] = {level, level, level, kOpaque};
        }
        bitmap.PutPixels(0, y, width, row.get());
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
    PutRows(*bitmap, state.TexelValues);
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
    if (!ResetGrids(state, settings)) {
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
    // The build may use as many threads as the run will.
    tables.BuildRayTables(mesh, {&starter, WorkerThreadsFor(ip)}, GatherOccluders(ip, settings));
    RasterizeFaces(ip, mesh, settings, state.TexelGrid);
    tables.vertexNormals.BuildVertexNormals(mesh);

    state.scratchFailed.store(0);
    state.progressPercent = 0;
    const std::int64_t startTime = ip.Time();
    TexelJob job{mesh, settings, {tables.faceNormals, tables.vertexNormals, &tables.scene}, tables.workLock, state};
    const std::uint32_t rows = state.TexelGrid.OuterCount() > 0 ? state.TexelGrid.InnerCount(0) : 0u;
    RunPlan plan;
    plan.threads = WorkerThreadsFor(ip);
    plan.length[kEvenRowSequence] = (rows + 1) / 2;
    plan.length[kOddRowSequence] = rows / 2;
    plan.firstStarted = kOddRowSequence;
    plan.chunkLength = 1;
    RunResult result;
    try {
        if (!IsTwoThreadSplit(plan.threads)) PrepareChunkedRows(job);
    } catch (const std::bad_alloc&) {
        result.outOfMemory = true;
    }
    if (!result.outOfMemory) {
        TexelWork work(job);
        result = RunWorkers(ip, starter, tables.workLock, work, plan);
    }

    const char* failure = result.startFailed                                 ? kThreadStartFailure
                          : result.outOfMemory || state.scratchFailed.load() ? kOutOfMemory
                                                                            : nullptr;
    if (!failure) {
        char text[64];
        std::snprintf(text, sizeof text, "elapsed time = %d secs", static_cast<int>(ip.Time() - startTime));
        ip.MessageBox(text, kMessageTitle, MB_OK);
        RepairSpeckles(state);
        DilateCoverage(state);
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
