#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "allocation_replaceable.h"
#include "eval/eval.h"
#include "geom/geom.h"
#include "mesh_builders.h"
#include "scripted_host.h"
#include "scripted_threads.h"

using namespace dunsmere;

namespace {

constexpr float kThird = 0.33333334f;

struct VertexBake {
    ScriptedHost host;
    ScriptedMeshObject object;
    ScriptedNode node{&object};
    UtilitySettings settings;
    RunTables tables;

    explicit VertexBake(Mesh mesh = CreaseMesh())
    {
        object.mesh = std::move(mesh);
        host.selection = {&node};
        settings.algorithm = kAlgorithmVertexColors;
        settings.dist = 30.0f;
        settings.horizontalSpread = 8;
        settings.verticalSpread = 1;
        settings.mapChannel = 1;
    }
    void Run(ThreadStarter& starter = DefaultThreadStarter())
    {
        GenerateVertexColors(host, settings, tables, starter);
    }
    Mesh& mesh() { return object.mesh; }
    std::vector<Point3> Colours()
    {
        const Mesh& m = mesh();
        return {m.vertCol(), m.vertCol() + m.getNumVertCol()};
    }
};

// The colours by a second route: one thread, every face in order, the mean at
// each vertex, white minus the mean.
std::vector<float> ExpectedLevels(const Mesh& mesh, const UtilitySettings& settings)
{
    Tab<Point3> faceNormals;
    VertexNormals vertexNormals;
    BuildFaceNormals(mesh, faceNormals);
    vertexNormals.BuildVertexNormals(mesh);
    std::vector<Ray> rays(static_cast<size_t>(RayCount(settings)));
    CrtRand rng;
    std::vector<float> sum(static_cast<size_t>(mesh.getNumVerts()), 0.0f);
    std::vector<int> count(sum.size(), 0);
    for (int f = 0; f < mesh.getNumFaces(); ++f) {
        if (settings.selectedOnly && !mesh.faceSel[f]) continue;
        const float v = EvaluateSample(settings, {faceNormals, vertexNormals}, mesh, f, {kThird, kThird, kThird},
                                       rays.data(), rng);
        for (DWORD i : mesh.faces[static_cast<size_t>(f)].v) {
            sum[i] += v;
            count[i] += 1;
        }
    }
    std::vector<float> level(sum.size());
    for (size_t i = 0; i < sum.size(); ++i) level[i] = 1.0f - (count[i] ? sum[i] / static_cast<float>(count[i]) : 0.0f);
    return level;
}

TEST(VertexColors, RefusalsLeaveTheSceneAlone)
{
    VertexBake none;
    none.host.selection.clear();
    none.Run();
    ASSERT_EQ(none.host.messages.size(), 1u);
    EXPECT_EQ(none.host.messages[0].text, "Select exactly one node");
    EXPECT_EQ(none.host.messages[0].title, "Dunsmere");
    EXPECT_EQ(none.host.messages[0].type, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(none.host.progressStarts, 0);

    VertexBake two;
    two.host.selection.push_back(&two.node);
    two.Run();
    EXPECT_EQ(two.host.messages.at(0).text, "Select exactly one node");

    VertexBake stubborn;
    stubborn.object.convertible = false;
    stubborn.Run();
    EXPECT_EQ(stubborn.host.messages.at(0).text, "Could not get TriObject");

    VertexBake empty;
    empty.object.convertsToNull = true;
    empty.Run();
    EXPECT_EQ(empty.host.messages.at(0).text, "Could not get TriObject");

    VertexBake parametric;
    parametric.object.convertsToCopy = true;
    parametric.Run();
    ASSERT_EQ(parametric.host.messages.size(), 1u);
    EXPECT_EQ(parametric.host.messages[0].text, "Object must be unmodified Editable Mesh");
    EXPECT_EQ(parametric.object.copiesDeleted, 1);
    EXPECT_EQ(parametric.mesh().getNumVertCol(), 0);
    EXPECT_TRUE(parametric.node.notifications.empty());
}

TEST(VertexColors, ReplaceModeMatchesASingleThreadedBake)
{
    VertexBake bake;
    bake.Run();
    ASSERT_EQ(bake.host.messages.size(), 1u);
    EXPECT_EQ(bake.host.messages[0].text, "Smurl calculation complete\nelapsed time = 3 secs");
    EXPECT_EQ(bake.host.messages[0].type, MB_OK);
    EXPECT_EQ(bake.host.progressTitle, "Building Vertex Smurl");
    EXPECT_EQ(bake.host.progressEnds, 1);
    const std::vector<Notification> expected{{PART_GEOM, REFMSG_CHANGE, NOTIFY_ALL, 1},
                                             {PART_TOPO, REFMSG_CHANGE, NOTIFY_ALL, 1}};
    EXPECT_EQ(bake.node.notifications, expected);
    EXPECT_EQ(bake.tables.vertexNormals.Count(), 0);   // cleared
    EXPECT_EQ(bake.tables.faceNormals.Count(), bake.mesh().getNumFaces());  // kept
    EXPECT_EQ(bake.tables.currentMesh, nullptr);

    const Mesh& m = bake.mesh();
    ASSERT_EQ(m.getNumVertCol(), m.getNumVerts());
    ASSERT_EQ(m.getNumVCFaces(), m.getNumFaces());
    const std::vector<float> level = ExpectedLevels(m, bake.settings);
    bool someDark = false, someWhite = false;
    for (int i = 0; i < m.getNumVerts(); ++i) {
        ASSERT_EQ(m.vertCol()[i], Point3(level[static_cast<size_t>(i)], level[static_cast<size_t>(i)],
                                         level[static_cast<size_t>(i)]))
            << "vertex " << i;
        someDark = someDark || level[static_cast<size_t>(i)] < 0.9f;
        someWhite = someWhite || level[static_cast<size_t>(i)] == 1.0f;
    }
    EXPECT_TRUE(someDark);
    EXPECT_TRUE(someWhite);
    // Progress: polls stay within 0..90, the write phase runs from 90 on.
    for (int p : bake.host.progress) EXPECT_LE(p, 100);
    EXPECT_EQ(bake.host.progress.back() >= 90, true);

    // A second run gives bit-identical colours.
    const std::vector<Point3> first = bake.Colours();
    bake.Run();
    EXPECT_EQ(bake.Colours(), first);
}

TEST(VertexColors, FlatPlaneAloneIsWhiteAndUnusedVerticesStayBlack)
{
    Mesh plane;
    AddGrid(plane, 4, {0, 0, 0}, {10, 0, 0}, {0, 10, 0});
    plane.setNumVerts(plane.getNumVerts() + 1, true);  // used by no face
    VertexBake bake(plane);
    bake.Run();
    const Mesh& m = bake.mesh();
    for (int i = 0; i < m.getNumVerts() - 1; ++i) EXPECT_EQ(m.vertCol()[i], Point3(1, 1, 1));
    EXPECT_EQ(m.vertCol()[m.getNumVerts() - 1], Point3(0, 0, 0));
}

TEST(VertexColors, WrappedEditableMeshIsTheOneWritten)
{
    VertexBake bake;
    ScriptedWrapper wrapper(&bake.object);
    ScriptedNode node(&wrapper);
    bake.host.selection = {&node};
    bake.Run();
    EXPECT_EQ(bake.mesh().getNumVertCol(), bake.mesh().getNumVerts());
    EXPECT_EQ(node.notifications.size(), 2u);
}

TEST(VertexColors, SelectedOnlyWithoutSelection)
{
    VertexBake replace;
    replace.settings.selectedOnly = 1;
    replace.Run();
    for (const Point3& c : replace.Colours()) EXPECT_EQ(c, Point3(1, 1, 1));
    // No face is evaluated: every poll of the wait shows 0.
    for (int p : replace.host.progress) {
        EXPECT_TRUE(p == 0 || p >= 90) << p;
    }

    VertexBake accumulate;
    accumulate.settings.selectedOnly = 1;
    accumulate.settings.addVertexColors = 1;
    Mesh& m = accumulate.mesh();
    m.setNumVertCol(m.getNumVerts());
    m.setNumVCFaces(m.getNumFaces());
    for (int i = 0; i < m.getNumVerts(); ++i) m.vertCol()[i] = {0.5f, 0.25f, 1.0f};
    for (int f = 0; f < m.getNumFaces(); ++f) {
        const Face& face = m.faces[static_cast<size_t>(f)];
        m.vcFace()[f].setTVerts(face.v[0], face.v[1], face.v[2]);
    }
    accumulate.Run();
    for (const Point3& c : accumulate.Colours()) EXPECT_EQ(c, Point3(0.5f, 0.25f, 1.0f));
}

TEST(VertexColors, AccumulateTwiceSquaresTheLevel)
{
    VertexBake bake;
    bake.Run();
    const std::vector<Point3> once = bake.Colours();
    bake.settings.addVertexColors = 1;
    bake.Run();
    const std::vector<Point3> twice = bake.Colours();
    ASSERT_EQ(once.size(), twice.size());
    for (size_t i = 0; i < once.size(); ++i) EXPECT_EQ(twice[i], Point3(once[i].x * once[i].x, once[i].y * once[i].y, once[i].z * once[i].z));
}

TEST(VertexColors, AccumulateIntoShortChannelWritesLevels)
{
    VertexBake replace, accumulate;
    replace.Run();
    accumulate.settings.addVertexColors = 1;
    accumulate.mesh().setNumVertCol(3);  // fewer colour vertices than vertices
    accumulate.Run();
    EXPECT_EQ(accumulate.Colours(), replace.Colours());
}

TEST(VertexColors, AccumulateIntoFewerColourFacesThanFacesWritesLevels)
{
    VertexBake replace, accumulate;
    replace.Run();
    accumulate.settings.addVertexColors = 1;
    Mesh& m = accumulate.mesh();
    const int faces = m.getNumFaces();
    m.setNumVertCol(m.getNumVerts());
    for (int i = 0; i < m.getNumVerts(); ++i) m.vertCol()[i] = {0.5f, 0.5f, 0.5f};
    m.setNumVCFaces(faces - 5);  // a channel from another host, short of faces
    for (int f = 0; f < faces - 5; ++f) {
        const DWORD* c = m.faces[static_cast<size_t>(f)].v;
        m.vcFace()[f].setTVerts(c[0], c[1], c[2]);
    }
    accumulate.Run();
    EXPECT_EQ(m.getNumVCFaces(), faces);
    EXPECT_EQ(accumulate.Colours(), replace.Colours());
}

TEST(VertexColors, AMeshWithoutFacesRunsThrough)
{
    for (int verts : {0, 3}) {
        Mesh points;
        points.setNumVerts(verts);
        VertexBake bake(points);
        bake.Run();
        ASSERT_EQ(bake.host.messages.size(), 1u);
        EXPECT_EQ(bake.host.messages[0].text, "Smurl calculation complete\nelapsed time = 3 secs");
        EXPECT_EQ(bake.host.progressEnds, 1);
        EXPECT_EQ(bake.node.notifications.size(), 2u);
        EXPECT_EQ(bake.mesh().getNumVCFaces(), 0);
        EXPECT_EQ(bake.Colours(), std::vector<Point3>(static_cast<size_t>(verts)));  // used by no face: black
    }
}

// Values the record may hold but no vertex run can serve are refused before
// the selection is looked at; the map's own values are not its concern.
TEST(VertexColors, SettingsNoRunCanServeAreRefusedFirst)
{
    const auto refused = [](auto edit) {
        VertexBake bake;
        bake.host.selection.clear();  // would be refused next
        edit(bake.settings);
        bake.Run();
        EXPECT_EQ(bake.host.progressStarts, 0);
        EXPECT_TRUE(bake.node.notifications.empty());
        EXPECT_EQ(bake.host.messages.size(), 1u);
        return bake.host.messages.empty() ? MessageRecord{} : bake.host.messages[0];
    };
    const MessageRecord spread = refused([](UtilitySettings& s) { s.horizontalSpread = s.verticalSpread = 50000; });
    EXPECT_EQ(spread.text, "Settings out of range: verticalSpread = 50000");
    EXPECT_EQ(spread.title, "Dunsmere");
    EXPECT_EQ(spread.type, MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(refused([](UtilitySettings& s) { s.dist = 0.0f; }).text, "Settings out of range: dist = 0.000000");
    EXPECT_EQ(refused([](UtilitySettings& s) { s.dist = -2.5f; }).text, "Settings out of range: dist = -2.500000");
    EXPECT_EQ(refused([](UtilitySettings& s) { s.dist = INFINITY; }).text, "Settings out of range: dist = inf");
    EXPECT_EQ(refused([](UtilitySettings& s) { s.dist = NAN; }).text.rfind("Settings out of range: dist = ", 0), 0u);

    VertexBake mapValues;
    mapValues.settings.XSiz = 0;
    mapValues.settings.YSiz = -3;
    mapValues.settings.mapChannel = 500;
    mapValues.settings.noiseOn = 1;
    mapValues.settings.noiseSize = -1.0f;
    mapValues.Run();
    ASSERT_EQ(mapValues.host.messages.size(), 1u);
    EXPECT_EQ(mapValues.host.messages[0].text.rfind("Smurl calculation complete", 0), 0u);
}

// The count is exact on both sides of 32 bits; only beyond them is it refused.
TEST(VertexColors, RayCountIsExactAndRefusedOnlyBeyond32Bits)
{
    UtilitySettings s;
    s.dist = 1.0f;
    s.horizontalSpread = s.verticalSpread = 50000;
    EXPECT_EQ(RayCount(s), 2500000001LL);
    EXPECT_EQ(RayScratchCount(s), 0);
    const auto verdict = [&](std::int32_t h, std::int32_t v) {
        s.horizontalSpread = h;
        s.verticalSpread = v;
        return UnservableSetting(s, SettingsUse::kVertexColors);
    };
    EXPECT_EQ(verdict(INT32_MAX - 1, 1), "");                        // 2^31 - 1 rays
    EXPECT_EQ(verdict(INT32_MAX, 1), "verticalSpread = 1");          // 2^31
    EXPECT_EQ(verdict(-65536, 32768), "");                           // -2^31 + 1
    EXPECT_EQ(verdict(-65536, 32769), "verticalSpread = 32769");
    EXPECT_EQ(verdict(-1, 1), "");
    EXPECT_EQ(RayScratchCount(s), 1);  // no rays but the normal one's record
}

TEST(VertexColors, SharedColourVertexIsScaledOncePerVertexInVertexOrder)
{
    // Two faces whose corners all map to colour vertex 0, in accumulate mode.
    Mesh mesh;
    AddGrid(mesh, 1, {0, 0, 0}, {10, 0, 0}, {0, 10, 0});
    AddTriangle(mesh, {0, 0, 0}, {0, 10, 0}, {0, 0, 5}, 2);  // a wall to darken some corners
    mesh.setNumVertCol(mesh.getNumVerts());
    mesh.setNumVCFaces(mesh.getNumFaces());
    for (int i = 0; i < mesh.getNumVerts(); ++i) mesh.vertCol()[i] = {1, 1, 1};
    for (int f = 0; f < mesh.getNumFaces(); ++f) mesh.vcFace()[f].setTVerts(0, 0, 0);
    VertexBake bake(mesh);
    bake.settings.addVertexColors = 1;
    bake.Run();
    const std::vector<float> level = ExpectedLevels(bake.mesh(), bake.settings);
    float expected = 1.0f;
    for (float l : level) expected *= l;  // ascending vertex order
    EXPECT_EQ(bake.mesh().vertCol()[0], Point3(expected, expected, expected));
    EXPECT_LT(expected, 1.0f);
    for (int i = 1; i < bake.mesh().getNumVertCol(); ++i) EXPECT_EQ(bake.mesh().vertCol()[i], Point3(1, 1, 1));
}

TEST(VertexColors, CancelDuringWorkersSkipsTheWritePhase)
{
    VertexBake bake;
    GateStarter gate;  // opened at the host's first cancel query
    bake.host.cancelAtQuery = 1;
    bake.host.onCancelQuery = [&] { gate.open.store(true); };
    bake.Run(gate);
    EXPECT_TRUE(bake.host.messages.empty());
    EXPECT_EQ(bake.host.progressEnds, 1);
    EXPECT_EQ(bake.node.notifications.size(), 2u);
    for (const Point3& c : bake.Colours()) EXPECT_EQ(c, Point3(0, 0, 0));  // as the reset left it
    for (int p : bake.host.progress) EXPECT_LT(p, 90);
}

TEST(VertexColors, CancelDuringWritePhaseStopsAtTheCurrentVertex)
{
    Mesh mesh;
    AddGrid(mesh, 20, {0, 0, 0}, {10, 0, 0}, {0, 10, 0});  // 441 vertices, all white when written
    VertexBake bake(mesh);
    bake.host.cancelOnceBarPasses90 = true;  // at vertex 100 the bar shows 92
    bake.Run();
    EXPECT_TRUE(bake.host.messages.empty());
    const std::vector<Point3> c = bake.Colours();
    for (size_t i = 0; i < c.size(); ++i) EXPECT_EQ(c[i], i < 100 ? Point3(1, 1, 1) : Point3(0, 0, 0)) << i;
    EXPECT_EQ(bake.node.notifications.size(), 2u);
}

TEST(VertexColors, FailedThreadStartEndsTheRunInOrder)
{
    for (int threads : {2, 7}) {  // the second of two, the fifth of seven
        VertexBake bake(CreaseMesh(16));
        bake.host.workerThreads = threads;
        GateStarter starter;
        starter.open = true;
        starter.failAt = threads == 2 ? 2 : 5;
        bake.Run(starter);
        ASSERT_EQ(bake.host.messages.size(), 1u);
        EXPECT_EQ(bake.host.messages[0].text, "Failed _beginthread call");
        EXPECT_EQ(bake.host.messages[0].type, MB_OK | MB_ICONINFORMATION);
        EXPECT_EQ(starter.joins, starter.failAt - 1);
        EXPECT_EQ(bake.host.progressEnds, 1);
        EXPECT_EQ(bake.tables.vertexNormals.Count(), 0);
        // The workers' lock is free again.
        EXPECT_TRUE(bake.tables.workLock.try_lock());
        bake.tables.workLock.unlock();
    }
}

// Each allocation from the bar's start to its end fails in turn: the run
// either ends on the out-of-memory message or (where the ray scene falls
// back to its plain loop) writes the colours it always does.
TEST(VertexColors, RunningOutOfMemoryAnywhereEndsTheRunInOrder)
{
    if (!kAllocationReplaceable) GTEST_SKIP() << "no allocation can be failed in this build";
    VertexBake plain;
    const std::vector<float> levels = ExpectedLevels(plain.mesh(), plain.settings);
    for (long n = 1;; ++n) {
        SCOPED_TRACE(n);
        VertexBake bake;
        bake.host.workerThreads = 1;  // the same allocations in the same order each time
        bake.host.progress.reserve(4096);
        long left = 0;
        bake.host.onProgressStart = [n] { gFailThrowingAllocation.store(n); };
        bake.host.onProgressEnd = [&left] { left = gFailThrowingAllocation.exchange(0); };
        bake.Run();
        EXPECT_EQ(bake.host.progressEnds, 1);
        EXPECT_EQ(bake.tables.vertexNormals.Count(), 0);
        ASSERT_EQ(bake.host.messages.size(), 1u);
        if (left > 0) break;  // past the run's last allocation
        if (bake.host.messages[0].text == "Not enough memory for the smurl calculation") continue;
        const std::vector<Point3> c = bake.Colours();
        ASSERT_EQ(c.size(), levels.size());
        for (size_t i = 0; i < c.size(); ++i) EXPECT_EQ(c[i], Point3(levels[i], levels[i], levels[i])) << i;
    }
}

}  // namespace
