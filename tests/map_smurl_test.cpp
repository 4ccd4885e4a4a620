#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

#include "allocation_replaceable.h"
#include "check_recorder.h"
#include "map_support.h"
#include "scripted_bitmaps.h"
#include "scripted_host.h"

// While a test sets it, every nothrow allocation of at least this many
// bytes fails: the way a worker's ray buffer is had, and nothing else a run
// allocates.
namespace {
std::atomic<std::size_t> gFailNothrowFrom{0};

void* Allocate(std::size_t n, bool nothrow) noexcept
{
    const std::size_t from = gFailNothrowFrom.load();
    if (nothrow && from > 0 && n >= from) return nullptr;
    if (!nothrow && FailsThisThrowingAllocation()) return nullptr;
    return std::malloc(n ? n : 1);
}
}  // namespace

void* TestAllocate(std::size_t n, bool nothrow) noexcept { return Allocate(n, nothrow); }
#include "replaced_new.h"

using namespace dunsmere;

namespace {

constexpr BMM_Color_64 kBlack{0, 0, 0, 65535};

class RecordingNode : public ScriptedNode {
public:
    using ScriptedNode::ScriptedNode;
    std::vector<int> stopAtWSM;
    ObjectState EvalWorldState(TimeValue t, int stop) override
    {
        stopAtWSM.push_back(stop);
        return ScriptedNode::EvalWorldState(t, stop);
    }
};

struct MapBake {
    ScriptedHost host;
    ScriptedMeshObject object;
    RecordingNode node{&object};
    ScriptedBitmapManager bitmaps;
    BitmapManagerScope installed{&bitmaps};
    UtilitySettings settings;
    RunTables tables;
    MapRunState state;

    MapBake()
    {
        object.mesh = MappedCrease();
        host.selection = {&node};
        settings.XSiz = 20;
        settings.YSiz = 14;
        settings.mapChannel = 1;
        settings.dist = 6.0f;
    }
    void Run(ThreadStarter& starter = DefaultThreadStarter()) { GenerateSmurlMap(host, settings, tables, state, starter); }
    std::vector<std::string> Texts() const
    {
        std::vector<std::string> t;
        for (const MessageRecord& m : host.messages) t.push_back(m.text);
        return t;
    }
    // The pixels by a second route: rasterize, evaluate directly, the passes.
    std::vector<BMM_Color_64> Expected(bool oddRowsOnly = false) const
    {
        MapRunState s;
        RasterizeAll(object.mesh, s.TexelGrid, 20, 14);
        s.TexelValues.Resize(20, 14, 0.0f);
        const auto values = ExpectedValues(object.mesh, settings, s.TexelGrid, oddRowsOnly);
        for (std::uint32_t x = 0; x < 20; ++x)
            for (std::uint32_t y = 0; y < 14; ++y) s.TexelValues.Set(x, y, values[x][y]);
        RepairSpeckles(s);
        DilateCoverage(s);
        std::vector<BMM_Color_64> pixels;
        for (std::uint32_t y = 0; y < 14; ++y)
            for (std::uint32_t x = 0; x < 20; ++x) {
                const WORD level = GreyLevel(s.TexelValues.Get(x, y));
                pixels.push_back({level, level, level, 65535});
            }
        return pixels;
    }
    bool AllBlack() const
    {
        return bitmaps.pixels.size() == 280u &&
               std::all_of(bitmaps.pixels.begin(), bitmaps.pixels.end(), [](auto p) { return p == kBlack; });
    }
};

TEST(SmurlMap, GreyLevels)
{
    EXPECT_EQ(GreyLevel(0.5f), 32767);
    EXPECT_EQ(GreyLevel(0.99f), 64879);
    EXPECT_EQ(GreyLevel(1.0f), 65535);
    EXPECT_EQ(GreyLevel(std::nextafter(1.0f, 0.0f)), 65534);
    for (float low : {0.0f, -0.25f, -INFINITY, NAN}) EXPECT_EQ(GreyLevel(low), 0);
    for (float high : {1.5f, INFINITY}) EXPECT_EQ(GreyLevel(high), 65535);
}

TEST(SmurlMap, RefusalsComeAfterTheGridsAreReset)
{
    for (int variant = 0; variant < 3; ++variant) {
        MapBake bake;
        bake.state.TexelGrid.Resize(3, 40, TexelRecord{5, {1, 0, 0}, {1, 0, 0}});
        bake.state.TexelValues.Resize(3, 40, 0.75f);
        if (variant == 0) bake.host.selection.push_back(&bake.node);
        if (variant == 1) bake.object.convertible = false;
        if (variant == 2) bake.object.convertsToNull = true;
        bake.Run();
        EXPECT_EQ(bake.Texts(), std::vector<std::string>{variant ? "Could not get TriObject" : "Select exactly one node"});
        EXPECT_EQ(bake.host.messages[0].title, "Dunsmere");
        EXPECT_EQ(bake.host.messages[0].type, MB_OK | MB_ICONINFORMATION);
        EXPECT_EQ(bake.host.progressStarts, 0);
        for (std::uint32_t x = 0; x < 20; ++x) {
            ASSERT_EQ(bake.state.TexelGrid.InnerCount(x) + bake.state.TexelValues.InnerCount(x), 28u);
            for (std::uint32_t y = 0; y < 14; ++y)
                ASSERT_TRUE(bake.state.TexelGrid.Get(x, y) == kEmptyTexel && bake.state.TexelValues.Get(x, y) == 0.0f);
        }
        EXPECT_EQ(bake.state.TexelGrid.OuterCount() + bake.state.TexelValues.OuterCount(), 40u);
    }
}

TEST(SmurlMap, FullRunWritesTheMapOfASecondRoute)
{
    CheckRecorder checks;
    DebugCapture debug;
    MapBake bake;
    bake.object.convertsToCopy = true;
    bake.bitmaps.widthOnChoice = 77;  // the choice rewrites the info
    bake.Run();
    EXPECT_TRUE(checks.Take().empty());
    EXPECT_EQ(bake.Texts(), std::vector<std::string>{"elapsed time = 3 secs"});
    EXPECT_EQ(bake.host.messages[0].type, MB_OK);
    EXPECT_EQ(bake.host.progressTitle, "Building Smurl Map");
    EXPECT_EQ(bake.host.progressEnds, 1);
    EXPECT_EQ(bake.node.stopAtWSM, std::vector<int>{1});
    EXPECT_EQ(bake.object.copiesDeleted, 1);
    EXPECT_EQ(bake.tables.vertexNormals.Count(), 0);
    const int faces = bake.object.mesh.getNumFaces();
    EXPECT_EQ(debug.Take().size(), static_cast<size_t>(4 * faces));  // three edges and a face each

    // The bar: the share of faces rasterized, then the even worker's progress.
    ASSERT_GE(bake.host.progress.size(), static_cast<size_t>(faces));
    for (size_t i = 0; i < bake.host.progress.size(); ++i) {
        const int share = static_cast<int>(i) < faces ? 100 * static_cast<int>(i) / faces : -1;
        EXPECT_TRUE(share >= 0 ? bake.host.progress[i] == share : bake.host.progress[i] <= 99) << i;
    }

    ASSERT_EQ(bake.bitmaps.created.size(), 1u);
    const BitmapInfo& info = bake.bitmaps.created[0];
    EXPECT_TRUE(info.Width() == 20 && info.Height() == 14 && info.Type() == 7 && (info.Flags() & MAP_HAS_ALPHA));
    EXPECT_EQ(bake.bitmaps.chooseParent, nullptr);  // the host's main window
    EXPECT_EQ(bake.bitmaps.outputCalls, (std::vector<std::string>{"open 20", "write -2000000", "close 0"}));
    EXPECT_EQ(bake.bitmaps.deleted, 1);
    const std::vector<BMM_Color_64> expected = bake.Expected();
    EXPECT_EQ(bake.bitmaps.pixels, expected);
    EXPECT_GT(std::count_if(expected.begin(), expected.end(), [](auto p) { return p.r > 0 && p.r < 65535; }), 20);

    // Again into the kept grids, and into a fresh state: bit for bit the same.
    bake.Run();
    EXPECT_EQ(bake.bitmaps.pixels, expected);
    MapBake fresh;
    fresh.Run();
    EXPECT_EQ(fresh.bitmaps.pixels, expected);
}

// Every value the bar's percentage takes. Two threads: the odd-row worker,
// started first (and here run to its end inside its start), sets it to 0;
// the even-row worker sets 0, then its row's share before each even row.
// Other counts: from 0, the lowest even row not yet finished, never back.
TEST(SmurlMap, ProgressTakesTheSpecifiedCourseOnTwoThreadsAndNeverFallsBackOnOthers)
{
    MapBake two;
    std::vector<int> writes;
    two.state.progressWrites = &writes;
    GateStarter inline_;
    inline_.open.store(true);
    inline_.firstInline = true;
    two.Run(inline_);
    std::vector<int> specified = {0, 0};
    for (int y = 0; y < 14; y += 2) specified.push_back(RowProgress(y, 20, 14));
    EXPECT_EQ(writes, specified);
    EXPECT_EQ(two.bitmaps.pixels, two.Expected());

    for (int threads : {1, 3, 7}) {
        MapBake other;
        other.host.workerThreads = threads;
        std::vector<int> course;
        other.state.progressWrites = &course;
        other.Run();
        EXPECT_EQ(other.bitmaps.pixels, two.bitmaps.pixels) << threads << " threads";
        ASSERT_FALSE(course.empty());
        EXPECT_TRUE(std::is_sorted(course.begin(), course.end())) << threads << " threads";
        EXPECT_EQ(course.back(), RowProgress(12, 20, 14));
    }
}

TEST(SmurlMap, FaceFiltersAndUnusableMapFaces)
{
    DebugCapture debug;
    MapBake material;  // every face has ID 0, shown as 1
    material.settings.mtlIDOn = 1;
    material.settings.mtlID = 2;
    material.object.mesh.faces[3].setMatID(1);
    material.Run();
    std::vector<std::string> lines = debug.Take();
    ASSERT_EQ(lines.size(), static_cast<size_t>(material.object.mesh.getNumFaces() - 1 + 4));
    EXPECT_EQ(lines[0], "Face 0 not included - mtlID 1\n");
    EXPECT_EQ(lines[6].rfind("TRIANGLE 3: ", 0), 0u);  // face 3 is drawn
    EXPECT_EQ(lines[7], "Face 4 not included - mtlID 1\n");

    MapBake unselected;  // nothing selected: silent and black
    unselected.settings.selectedOnly = 1;
    unselected.Run();
    EXPECT_TRUE(debug.Take().empty());
    EXPECT_TRUE(unselected.AllBlack());

    MapBake unmapped;  // no map vertices in the channel: a black map, no message
    unmapped.settings.mapChannel = 7;
    unmapped.Run();
    EXPECT_TRUE(debug.Take().empty());
    EXPECT_TRUE(unmapped.AllBlack());
    EXPECT_EQ(unmapped.Texts(), std::vector<std::string>{"elapsed time = 3 secs"});

    CheckRecorder checks;
    MapBake broken;  // map faces naming map vertices past the channel's end
    broken.object.mesh.mapFaces(1)[4].t[2] = static_cast<DWORD>(broken.object.mesh.getNumMapVerts(1));
    broken.object.mesh.mapFaces(1)[9].t[0] = 0xFFFFFFFFu;
    broken.Run();
    lines = debug.Take();
    EXPECT_EQ(lines.size(), static_cast<size_t>(4 * (broken.object.mesh.getNumFaces() - 2)));
    for (const std::string& l : lines) EXPECT_TRUE(l.rfind("TRIANGLE 4:", 0) && l.rfind("TRIANGLE 9:", 0)) << l;
    EXPECT_TRUE(checks.Take().empty());

    MapBake empty;  // a map of no texels is refused
    empty.settings.XSiz = 0;
    empty.settings.YSiz = -5;
    empty.Run();
    EXPECT_TRUE(checks.Take().empty());
    EXPECT_EQ(empty.Texts(), std::vector<std::string>{"Settings out of range: XSiz = 0"});
    EXPECT_TRUE(empty.bitmaps.created.empty());
    EXPECT_TRUE(empty.bitmaps.pixels.empty());
}

TEST(SmurlMap, EveryFaceOfAnotherMaterialGivesABlackMap)
{
    DebugCapture debug;
    MapBake bake;  // every face has ID 0, shown as 1
    bake.settings.mtlIDOn = 1;
    bake.settings.mtlID = 2;
    bake.Run();
    const std::vector<std::string> lines = debug.Take();
    EXPECT_EQ(lines.size(), static_cast<size_t>(bake.object.mesh.getNumFaces()));
    for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], "Face " + std::to_string(i) + " not included - mtlID 1\n");
    EXPECT_EQ(bake.Texts(), std::vector<std::string>{"elapsed time = 3 secs"});
    EXPECT_TRUE(bake.AllBlack());
    EXPECT_EQ(bake.bitmaps.outputCalls.size(), 3u);  // and saved
}

TEST(SmurlMap, TheBarMovesForEveryFaceSkippedOrNot)
{
    DebugCapture debug;
    MapBake bake;
    Mesh& m = bake.object.mesh;
    const int faces = m.getNumFaces();
    bake.settings.selectedOnly = 1;
    bake.settings.mtlIDOn = 1;
    bake.settings.mtlID = 1;
    for (int f = 0; f < faces; f += 2) m.faceSel.Set(f);  // the odd faces are not selected
    m.faces[4].setMatID(3);                                // a selected face of another material
    bake.Run();
    EXPECT_EQ(debug.Take().size(), static_cast<size_t>(1 + 4 * ((faces + 1) / 2 - 1)));
    ASSERT_GE(bake.host.progress.size(), static_cast<size_t>(faces));
    for (int i = 0; i < faces; ++i) EXPECT_EQ(bake.host.progress[static_cast<size_t>(i)], 100 * i / faces) << i;
}

TEST(SmurlMap, ARunAfterACancelledOneRunsToItsEnd)
{
    MapBake bake;
    GateStarter gate;  // held until the first poll, which cancels
    bake.host.cancelAtQuery = 1;
    bake.host.onCancelQuery = [&] { gate.open.store(true); };
    bake.Run(gate);
    ASSERT_EQ(bake.Texts(), (std::vector<std::string>{"elapsed time = 3 secs", "Save Partial Bitmap?"}));
    bake.host.cancelAtQuery = -1;  // the user no longer asks
    bake.host.messages.clear();
    bake.Run();
    EXPECT_EQ(bake.Texts(), std::vector<std::string>{"elapsed time = 3 secs"});
    EXPECT_EQ(bake.bitmaps.pixels, bake.Expected());
}

// Values the record may hold but no map run can serve are refused before
// anything else, the grids untouched.
TEST(SmurlMap, SettingsNoRunCanServeAreRefusedFirst)
{
    struct Case {
        void (*edit)(UtilitySettings&);
        const char* quoted;
    };
    const Case refused[] = {
        {[](UtilitySettings& s) { s.XSiz = 0; }, "XSiz = 0"},
        {[](UtilitySettings& s) { s.YSiz = -3; }, "YSiz = -3"},  // would be a 65533-row bitmap
        {[](UtilitySettings& s) { s.XSiz = 65536; }, "XSiz = 65536"},
        {[](UtilitySettings& s) { s.horizontalSpread = s.verticalSpread = 50000; }, "verticalSpread = 50000"},
        {[](UtilitySettings& s) { s.mapChannel = 100; }, "mapChannel = 100"},
        {[](UtilitySettings& s) { s.mapChannel = -1; }, "mapChannel = -1"},
        {[](UtilitySettings& s) { s.dist = NAN; s.mapChannel = -1; }, "mapChannel = -1"},  // the first in record order
        {[](UtilitySettings& s) { s.dist = 0.0f; }, "dist = 0.000000"},
        {[](UtilitySettings& s) { s.noiseOn = 1; s.noiseSize = -0.5f; }, "noiseSize = -0.500000"},
        {[](UtilitySettings& s) { s.noiseOn = 1; s.noiseSize = INFINITY; }, "noiseSize = inf"},
        {[](UtilitySettings& s) { s.padding = 65; }, "padding = 65"},
        {[](UtilitySettings& s) { s.padding = -1; }, "padding = -1"},
        {[](UtilitySettings& s) { s.supersample = 9; }, "supersample = 9"},
        {[](UtilitySettings& s) { s.supersample = 0; }, "supersample = 0"},
        {[](UtilitySettings& s) { s.supersample = 2; s.YSiz = 16385; }, "supersample = 2"},
    };
    for (const Case& c : refused) {
        MapBake bake;
        bake.state.TexelGrid.Resize(3, 40, kEmptyTexel);
        c.edit(bake.settings);
        bake.Run();
        ASSERT_EQ(bake.Texts(), std::vector<std::string>{std::string("Settings out of range: ") + c.quoted});
        EXPECT_EQ(bake.host.messages[0].title, "Dunsmere");
        EXPECT_EQ(bake.host.messages[0].type, MB_OK | MB_ICONINFORMATION);
        EXPECT_EQ(bake.host.progressStarts, 0);
        EXPECT_TRUE(bake.node.stopAtWSM.empty());
        EXPECT_TRUE(bake.bitmaps.created.empty());
        EXPECT_EQ(bake.state.TexelGrid.OuterCount(), 3u);
    }

    // The edges of the ranges, and a noise size that noise off never reads.
    const Case served[] = {
        {[](UtilitySettings& s) { s.XSiz = s.YSiz = 1; }, nullptr},
        {[](UtilitySettings& s) { s.mapChannel = 0; }, nullptr},
        {[](UtilitySettings& s) { s.noiseSize = -1.0f; }, nullptr},
        {[](UtilitySettings& s) { s.noiseOn = 1; s.noiseSize = 0.0f; }, nullptr},
        {[](UtilitySettings& s) { s.padding = 0; s.supersample = 8; }, nullptr},
    };
    for (const Case& c : served) {
        MapBake bake;
        c.edit(bake.settings);
        bake.Run();
        EXPECT_EQ(bake.Texts(), std::vector<std::string>{"elapsed time = 3 secs"});
        EXPECT_EQ(bake.bitmaps.created.size(), 1u);
    }
    UtilitySettings widest;
    widest.XSiz = widest.YSiz = 65535;
    widest.dist = 1.0f;
    EXPECT_EQ(UnservableSetting(widest, SettingsUse::kMap), "");
    widest.XSiz = widest.YSiz = 16384;
    widest.supersample = 2;
    EXPECT_EQ(UnservableSetting(widest, SettingsUse::kMap), "");
    // The map's options are no concern of a vertex-colour run.
    widest.padding = 99;
    EXPECT_EQ(UnservableSetting(widest, SettingsUse::kVertexColors), "");
}

TEST(SmurlMap, CancelAsksAboutThePartialMap)
{
    for (int answer : {IDNO, IDYES}) {
        MapBake bake;  // workers held until the first poll, which cancels
        GateStarter gate;
        bake.host.cancelAtQuery = 1;
        bake.host.onCancelQuery = [&] { gate.open.store(true); };
        bake.host.answer = answer;
        bake.Run(gate);
        EXPECT_EQ(bake.Texts(), (std::vector<std::string>{"elapsed time = 3 secs", "Save Partial Bitmap?"}));
        EXPECT_EQ(bake.host.messages[1].type, MB_YESNO | MB_ICONQUESTION);
        EXPECT_EQ(gate.joins, 2);
        EXPECT_EQ(bake.host.progressEnds, 1);
        EXPECT_EQ(bake.bitmaps.created.size(), answer == IDYES ? 1u : 0u);
        if (answer == IDYES) {
            EXPECT_TRUE(bake.AllBlack());  // no texel was reached
            EXPECT_EQ(bake.bitmaps.outputCalls.size(), 3u);
        }
    }

    // The odd rows finish inside their start; the even ones are cancelled
    // unstarted. Bright odd texels lift even ones of their face.
    MapBake bake;
    GateStarter half;
    half.firstInline = true;
    bake.host.cancelAtQuery = 1;
    bake.host.onCancelQuery = [&] { half.open.store(true); };
    bake.host.answer = IDYES;
    bake.Run(half);
    EXPECT_EQ(bake.bitmaps.pixels, bake.Expected(true));
    int lifted = 0;
    for (std::uint32_t y = 0; y < 14; y += 2)
        for (std::uint32_t x = 0; x < 20; ++x)
            lifted += bake.state.TexelGrid.Get(x, y).face >= 0 && bake.bitmaps.Pixel(static_cast<int>(x), static_cast<int>(y)).r > 0;
    EXPECT_GT(lifted, 0);
}

// Each allocation from the bar's start to its end fails in turn: the run
// either ends on the out-of-memory message, having saved nothing, or (where
// the ray scene falls back to its plain loop) saves the map it always does.
TEST(SmurlMap, RunningOutOfMemoryAnywhereEndsTheRunInOrder)
{
    if (!kAllocationReplaceable) GTEST_SKIP() << "no allocation can be failed in this build";
    const std::vector<BMM_Color_64> expected = MapBake().Expected();
    for (long n = 1;; ++n) {
        SCOPED_TRACE(n);
        MapBake bake;
        bake.host.workerThreads = 1;  // the same allocations in the same order each time
        bake.host.progress.reserve(4096);
        bake.object.convertsToCopy = true;
        long left = 0;
        bake.host.onProgressStart = [n] { gFailThrowingAllocation.store(n); };
        bake.host.onProgressEnd = [&left] { left = gFailThrowingAllocation.exchange(0); };
        bake.Run();
        EXPECT_EQ(bake.host.progressEnds, 1);
        EXPECT_EQ(bake.object.copiesDeleted, 1);
        EXPECT_EQ(bake.tables.vertexNormals.Count(), 0);
        if (left > 0) break;  // past the run's last allocation
        if (bake.Texts().back() == "Not enough memory for the smurl calculation")
            EXPECT_TRUE(bake.bitmaps.created.empty());
        else
            EXPECT_EQ(bake.bitmaps.pixels, expected);
    }
}

TEST(SmurlMap, FailuresEndTheRunInOrder)
{
    MapBake noManager;
    SetBitmapManager(nullptr);
    noManager.object.convertsToCopy = true;
    noManager.Run();
    EXPECT_EQ(noManager.Texts(), (std::vector<std::string>{"elapsed time = 3 secs", "Could not create the smurl map bitmap"}));
    EXPECT_EQ(noManager.host.messages[1].type, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(noManager.object.copiesDeleted, 1);

    MapBake noBitmap;
    noBitmap.bitmaps.createsNothing = true;
    noBitmap.Run();
    EXPECT_EQ(noBitmap.Texts().back(), "Could not create the smurl map bitmap");
    EXPECT_EQ(noBitmap.bitmaps.choices, 0);

    MapBake declined;
    declined.bitmaps.chooseOutput = 0;
    declined.Run();
    EXPECT_EQ(declined.bitmaps.choices, 1);
    EXPECT_TRUE(declined.bitmaps.outputCalls.empty());
    EXPECT_EQ(declined.bitmaps.deleted, 1);

    if (kAllocationReplaceable) {  // no allocation can be failed otherwise
        MapBake starved;  // no worker can have its 10001 rays
        starved.settings.horizontalSpread = starved.settings.verticalSpread = 100;
        starved.object.convertsToCopy = true;
        gFailNothrowFrom.store(10001 * sizeof(Ray));
        starved.Run();
        gFailNothrowFrom.store(0);
        EXPECT_EQ(starved.Texts(), std::vector<std::string>{"Not enough memory for the smurl calculation"});
        EXPECT_TRUE(starved.bitmaps.created.empty());
        EXPECT_EQ(starved.object.copiesDeleted, 1);
        EXPECT_EQ(starved.host.progressEnds, 1);
        EXPECT_EQ(starved.tables.vertexNormals.Count(), 0);
    }

    for (int failAt : {1, 2, 3}) {  // the third of three threads, too
        MapBake bake;
        bake.host.workerThreads = failAt == 3 ? 3 : 2;
        GateStarter starter;
        starter.open.store(true);
        starter.failAt = failAt;
        bake.Run(starter);
        EXPECT_EQ(bake.Texts(), std::vector<std::string>{"Failed _beginthread call"});
        EXPECT_EQ(starter.joins, failAt - 1);
        EXPECT_TRUE(bake.bitmaps.created.empty());
        EXPECT_EQ(bake.host.progressEnds, 1);
        EXPECT_TRUE(bake.tables.workLock.try_lock());
        bake.tables.workLock.unlock();
    }
}

}  // namespace
