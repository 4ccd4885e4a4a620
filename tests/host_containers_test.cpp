#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "check_recorder.h"
#include "host/host.h"

using namespace dunsmere;

namespace {

TEST(HostTab, CountsGrowsAndKeeps)
{
    Tab<int> tab;
    EXPECT_EQ(tab.Count(), 0);
    TBSetCount(tab, 3);
    tab[0] = 7;
    tab[2] = 9;
    TBSetCount(tab, 5);
    EXPECT_EQ(tab[0], 7);
    EXPECT_EQ(tab[2], 9);
    EXPECT_EQ(tab[4], 0);
    const size_t cap = tab.Capacity();
    tab.ZeroCount();
    EXPECT_EQ(tab.Count(), 0);
    EXPECT_EQ(tab.Capacity(), cap);  // zero count keeps the storage
    zfree(tab);
    EXPECT_EQ(tab.Capacity(), 0u);
}

TEST(HostTab, BadIndexIsReportedAndNotMade)
{
    CheckRecorder checks;
    Tab<int> tab;
    TBSetCount(tab, 2);
    tab[0] = 1;
    tab[1] = 2;
    tab[2] = 99;   // out of range: reported, not written
    tab[-1] = 98;
    EXPECT_EQ(tab[0], 1);
    EXPECT_EQ(tab[1], 2);
    EXPECT_EQ(tab.Count(), 2);
    const auto reports = checks.Take();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].source, "Tab");
    // A read after a failed check sees a fresh value, not what was written.
    const Tab<int>& ctab = tab;
    EXPECT_EQ(ctab[5], 0);
}

TEST(HostTab, ChecksFireOnWorkerThreads)
{
    CheckRecorder checks;
    Tab<float> tab;
    std::thread worker([&] { tab[3] = 1.0f; });
    worker.join();
    ASSERT_EQ(checks.Take().size(), 1u);
}

TEST(HostBitArray, SetClearCountAndBounds)
{
    BitArray bits(70);
    bits.Set(0);
    bits.Set(69);
    bits.Set(64);
    EXPECT_TRUE(bits[69]);
    EXPECT_FALSE(bits[68]);
    EXPECT_EQ(bits.NumberSet(), 3);
    bits.Clear(64);
    EXPECT_EQ(bits.NumberSet(), 2);
    bits.Set(70);  // out of range: ignored
    EXPECT_FALSE(bits[70]);
    EXPECT_FALSE(bits[-1]);
    bits.SetAll();
    EXPECT_EQ(bits.NumberSet(), 70);
    bits.SetSize(10, true);
    EXPECT_EQ(bits.NumberSet(), 10);
    bits.SetSize(100, true);
    EXPECT_EQ(bits.NumberSet(), 10);  // the grown part starts clear
    bits.SetSize(5);
    EXPECT_EQ(bits.NumberSet(), 0);
}

TEST(HostMesh, FacesMaterialsAndChannels)
{
    Mesh mesh;
    mesh.setNumVerts(4);
    mesh.setNumFaces(2);
    EXPECT_EQ(mesh.faceSel.GetSize(), 2);
    Face& f = mesh.faces[1];
    f.flags = 0x1234u;
    f.setMatID(5);
    EXPECT_EQ(f.getMatID(), 5);
    EXPECT_EQ(f.flags, (5u << 16) | 0x1234u);

    EXPECT_FALSE(mesh.mapSupport(1));
    EXPECT_EQ(mesh.getNumMapVerts(1), 0);
    EXPECT_EQ(mesh.mapVerts(1), nullptr);
    mesh.setNumMapVerts(1, 3);
    EXPECT_TRUE(mesh.mapSupport(1));
    ASSERT_NE(mesh.mapFaces(1), nullptr);
    mesh.mapFaces(1)[1].setTVerts(0, 1, 2);
    mesh.setNumFaces(3, true);  // map faces follow the face count
    EXPECT_EQ(mesh.mapFaces(1)[1], (TVFace{{0, 1, 2}}));
    // Channels outside 0..99 do not exist and are never written.
    EXPECT_EQ(mesh.getNumMapVerts(100), 0);
    EXPECT_EQ(mesh.mapVerts(-1), nullptr);
    mesh.setNumMapVerts(100, 5);
    EXPECT_EQ(mesh.getNumMapVerts(100), 0);

    // Vertex colours are map channel 0.
    mesh.setNumVertCol(4);
    mesh.vertCol()[2] = {0.5f, 0.25f, 1.0f};
    EXPECT_EQ(mesh.getNumMapVerts(0), 4);
    EXPECT_EQ(mesh.mapVerts(0)[2], Point3(0.5f, 0.25f, 1.0f));
    mesh.setNumVCFaces(3);
    mesh.vcFace()[0].setTVerts(3, 2, 1);
    mesh.setNumVCFaces(5, true, 3);
    EXPECT_EQ(mesh.vcFace()[0], (TVFace{{3, 2, 1}}));
    mesh.setNumVCFaces(5, false, 5);
    EXPECT_EQ(mesh.vcFace()[0], TVFace{});
}

TEST(HostRuntime, DebugPrintReachesTheSinkWhole)
{
    static std::string got;
    got.clear();
    const DebugSink previous = SetDebugSink([](const char* text) { got += text; });
    DebugPrint("DRAWLINE : %d, %d  -> %d, %d\n", 1, 2, 3, 4);
    EXPECT_EQ(got, "DRAWLINE : 1, 2  -> 3, 4\n");
    got.clear();
    const std::string longText(2000, 'x');
    DebugPrint("%s", longText.c_str());
    EXPECT_EQ(got, longText);
    SetDebugSink(previous);
}

TEST(HostRuntime, CStrConcatenates)
{
    CStr path("/tmp/cfg");
    path += "\\Dunsmere.ini";
    EXPECT_STREQ(path.data(), "/tmp/cfg\\Dunsmere.ini");
    EXPECT_EQ(path.Length(), 21);
    EXPECT_STREQ(CStr(nullptr).data(), "");
}

}  // namespace
