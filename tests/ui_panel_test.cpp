// The utility's rollup page and About box, driven as a host drives them:
// begin editing adds the page, clicks and typed text change its controls,
// end editing deletes it. The page's settings go to a temporary directory.
// (The options page added after it has tests of its own.)
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "check_recorder.h"
#include "scratch_dir.h"
#include "eval/eval.h"
#include "mesh_builders.h"
#include "panel_pages.h"
#include "scripted_host.h"
#include "ui/detail/platform.h"
#include "ui/panel.h"
#include "ui/ui.h"
#include "ui/utility.h"

using namespace dunsmere;

namespace {

namespace fs = std::filesystem;
using namespace panel_pages;

// The page's setting controls by the ids the host's users have always
// known, typed here rather than taken from the settings table, so that a row
// with a wrong id fails.
constexpr int kIdSelectedOnly = 1002;
constexpr int kIdNoiseOn = 1006;
constexpr int kIdMtlIDOn = 1007;
constexpr int kIdAccumulate = 1011;
constexpr int kEditXSiz = 1490;
constexpr int kEditYSiz = 1491;
constexpr int kEditDist = 1492;
constexpr int kEditVertical = 1493;
constexpr int kEditHorizontal = 1494;
constexpr int kEditMapChannel = 1495;
constexpr int kSpinXSiz = 1496;
constexpr int kSpinYSiz = 1497;
constexpr int kSpinDist = 1498;
constexpr int kSpinVertical = 1499;
constexpr int kSpinHorizontal = 1500;
constexpr int kSpinMapChannel = 1501;
constexpr int kEditNoiseSize = 1502;
constexpr int kSpinNoiseSize = 1503;
constexpr int kEditMtlID = 1504;
constexpr int kSpinMtlID = 1505;

const char* const kStoredFile =
    "[Dunsmere]\n"
    "algorithm=1009\n"
    "XSiz=640\n"
    "YSiz=480\n"
    "horizontalSpread=12\n"
    "verticalSpread=3\n"
    "mapChannel=2\n"
    "dist=12.5\n"
    "selectedOnly=1\n"
    "noiseOn=1\n"
    "noiseSize=7.25\n"
    "mtlID=5\n"
    "mtlIDOn=1\n"
    "addVertexColors=1\n";

// The thirteen controls only some algorithms use.
const std::vector<int> kAlgorithmControls = {kEditXSiz,   kSpinXSiz,      kEditYSiz,      kSpinYSiz, kEditMapChannel,
                                             kSpinMapChannel, kIdNoiseOn, kEditNoiseSize, kSpinNoiseSize,
                                             kIdMtlIDOn,  kEditMtlID,     kSpinMtlID,     kIdAccumulate};
// Controls no algorithm disables.
const std::vector<int> kAlwaysEnabled = {kIdUVMap,       kIdVertexColors, kIdSpatial,      kEditDist,
                                         kSpinDist,      kIdSelectedOnly, kEditVertical,   kSpinVertical,
                                         kEditHorizontal, kSpinHorizontal, kIdGenerate,    kIdAbout};

// ---- Opening -------------------------------------------------------------

TEST_F(PanelTest, BeginEditingStoresTheInterfacesThenAddsThePage)
{
    const HWND page = Open();
    ASSERT_NE(page, nullptr);
    ASSERT_EQ(host.added.size(), 2u);  // the options page after it
    const RollupRequest& r = host.added[0];
    EXPECT_EQ(r.instance, LibraryInstance());
    EXPECT_EQ(r.templateId, 101);
    EXPECT_EQ(r.proc, &PanelDlgProc);
    EXPECT_EQ(r.title, "Parameters");
    EXPECT_EQ(r.param, 0);
    EXPECT_EQ(r.flags, 0u);
    EXPECT_EQ(r.category, ROLLUP_CAT_UTILITY);
    EXPECT_EQ(r.storedIp, &host);  // stored before the page was added
    EXPECT_EQ(r.storedIu, &iutil);
    EXPECT_EQ(host.initResult, TRUE);
    EXPECT_EQ(U().hPanel, page);
    EXPECT_EQ(U().ip, &host);
    EXPECT_EQ(U().iu, &iutil);
    // Sixteen on this page, six on the options page.
    EXPECT_EQ(OpenControlInterfaces(), interfacesBefore + 16 + 10);
}

TEST_F(PanelTest, OpeningShowsTheStoredSettings)
{
    Write(kStoredFile);
    Open();
    EXPECT_FALSE(Checked(kIdUVMap));
    EXPECT_TRUE(Checked(kIdVertexColors));
    EXPECT_FALSE(Checked(kIdSpatial));
    EXPECT_TRUE(Checked(kIdSelectedOnly));
    EXPECT_TRUE(Checked(kIdNoiseOn));
    EXPECT_TRUE(Checked(kIdMtlIDOn));
    EXPECT_TRUE(Checked(kIdAccumulate));
    EXPECT_EQ(Text(kEditXSiz), "640");
    EXPECT_EQ(Text(kEditYSiz), "480");
    EXPECT_EQ(Text(kEditHorizontal), "12");
    EXPECT_EQ(Text(kEditVertical), "3");
    EXPECT_EQ(Text(kEditMapChannel), "2");
    EXPECT_EQ(Text(kEditDist), "12.5");
    EXPECT_EQ(Text(kEditNoiseSize), "7.25");
    EXPECT_EQ(Text(kEditMtlID), "5");
    EXPECT_EQ(Ctl(kSpinXSiz).ival, 640);
    EXPECT_EQ(Ctl(kSpinDist).fval, 12.5f);
    EXPECT_EQ(Ctl(kSpinNoiseSize).fval, 7.25f);
    EXPECT_EQ(Ctl(kSpinMtlID).ival, 5);
}

TEST_F(PanelTest, WithoutAFileThePanelShowsTheLoadDefaultsAndClosingWritesThem)
{
    Open();
    EXPECT_TRUE(Checked(kIdUVMap));
    EXPECT_EQ(Text(kEditMapChannel), "1");  // not the constructor's 0
    EXPECT_EQ(Text(kEditDist), "30");
    EXPECT_EQ(Text(kEditNoiseSize), "25");
    EXPECT_FALSE(fs::exists(File()));
    Close();
    const auto saved = Saved();
    EXPECT_EQ(saved.size(), 13u);
    EXPECT_EQ(saved.at("algorithm"), "1008");
    EXPECT_EQ(saved.at("mapChannel"), "1");
    EXPECT_EQ(saved.at("dist"), "30.000000");
    EXPECT_EQ(saved.at("noiseSize"), "25.000000");
    EXPECT_EQ(saved.at("XSiz"), "200");
}

TEST_F(PanelTest, SpinnersHaveTheirRangesAndAreLinkedToTheirEdits)
{
    Open();
    struct Range {
        int spin, edit, min, max;
    };
    for (const Range& r : {Range{kSpinHorizontal, kEditHorizontal, 0, 24}, Range{kSpinVertical, kEditVertical, 0, 10},
                           Range{kSpinXSiz, kEditXSiz, 50, 4096}, Range{kSpinYSiz, kEditYSiz, 50, 4096},
                           Range{kSpinMapChannel, kEditMapChannel, 1, 99}, Range{kSpinMtlID, kEditMtlID, 1, 100}}) {
        SCOPED_TRACE(r.spin);
        EXPECT_FALSE(Ctl(r.spin).isFloat);
        EXPECT_EQ(Ctl(r.spin).imin, r.min);
        EXPECT_EQ(Ctl(r.spin).imax, r.max);
        EXPECT_EQ(Ctl(r.spin).linkedEdit, r.edit);
    }
    EXPECT_TRUE(Ctl(kSpinDist).isFloat);
    EXPECT_EQ(Ctl(kSpinDist).fmin, 1.0f);
    EXPECT_EQ(Ctl(kSpinDist).fmax, 100000.0f);
    EXPECT_EQ(Ctl(kSpinDist).scale, 1.0f);
    EXPECT_EQ(Ctl(kSpinDist).linkedEdit, kEditDist);
    EXPECT_TRUE(Ctl(kSpinNoiseSize).isFloat);
    EXPECT_EQ(Ctl(kSpinNoiseSize).fmin, 0.0f);
    EXPECT_EQ(Ctl(kSpinNoiseSize).fmax, 100000.0f);
    EXPECT_EQ(Ctl(kSpinNoiseSize).scale, 1.0f);
    EXPECT_EQ(Ctl(kSpinNoiseSize).linkedEdit, kEditNoiseSize);
}

TEST_F(PanelTest, StoredAlgorithmOutOfRangeBecomesUVMapAndIsSavedSo)
{
    Write("[Dunsmere]\nalgorithm=7\n");
    Open();
    EXPECT_EQ(U().settings.algorithm, 1008);
    EXPECT_TRUE(Checked(kIdUVMap));
    EXPECT_FALSE(Checked(kIdVertexColors));
    EXPECT_FALSE(Checked(kIdSpatial));
    EXPECT_TRUE(Enabled(kEditXSiz));  // shown as UV Map in every respect
    Command(kIdGenerate);
    EXPECT_EQ(Saved().at("algorithm"), "1008");
}

TEST_F(PanelTest, OutOfRangeValuesStayInTheRecordUntilReadBackThroughTheSpinners)
{
    Write("[Dunsmere]\nXSiz=10\ndist=0.5\nhorizontalSpread=99\n");
    Open();
    // Shown clamped, but the record keeps the file's values while open.
    EXPECT_EQ(Text(kEditXSiz), "50");
    EXPECT_EQ(Text(kEditDist), "1");
    EXPECT_EQ(Text(kEditHorizontal), "24");
    EXPECT_EQ(U().settings.XSiz, 10);
    EXPECT_EQ(U().settings.dist, 0.5f);
    Close();
    const auto saved = Saved();
    EXPECT_EQ(saved.at("XSiz"), "50");
    EXPECT_EQ(saved.at("dist"), "1.000000");
    EXPECT_EQ(saved.at("horizontalSpread"), "24");
}

TEST_F(PanelTest, StoredNoiseSizeIsShownAndSavedBackUnchanged)
{
    struct Case {
        const char* stored;
        const char* shown;
    };
    for (const Case& c : {Case{"0.1", "0.1"}, Case{"7.25", "7.25"}, Case{"100000", "1e+05"}}) {
        SCOPED_TRACE(c.stored);
        Write(std::string("[Dunsmere]\nnoiseSize=") + c.stored + "\n");
        Open();
        // The float edit shows the shortest text that reads back the same.
        EXPECT_EQ(Text(kEditNoiseSize), c.shown);
        EXPECT_EQ(Ctl(kSpinNoiseSize).fval, std::strtof(c.stored, nullptr));
        Close();
        DunsmereUtility reread;
        reread.LoadSettings();
        EXPECT_EQ(reread.settings.noiseSize, std::strtof(c.stored, nullptr));
    }
    EXPECT_EQ(Saved().at("noiseSize"), "100000.000000");
}

// ---- The algorithm and the controls it uses ------------------------------

TEST_F(PanelTest, EachAlgorithmEnablesItsOwnControls)
{
    Open();
    for (int id : kAlgorithmControls) EXPECT_EQ(Enabled(id), id != kIdAccumulate) << "UV Map, control " << id;
    Page().Click(kIdVertexColors);
    for (int id : kAlgorithmControls) EXPECT_EQ(Enabled(id), id == kIdAccumulate) << "Vertex Colors, control " << id;
    Page().Click(kIdSpatial);
    for (int id : kAlgorithmControls) EXPECT_FALSE(Enabled(id)) << "Spatial, control " << id;
    for (int id : kAlwaysEnabled) EXPECT_TRUE(Enabled(id)) << "control " << id;
    Page().Click(kIdUVMap);
    for (int id : kAlgorithmControls) EXPECT_EQ(Enabled(id), id != kIdAccumulate) << "UV Map again, control " << id;
}

TEST_F(PanelTest, RadioClickChangesTheAlgorithmAtOnceAndClosingSavesIt)
{
    Open();
    EXPECT_EQ(Page().Click(kIdVertexColors), TRUE);
    EXPECT_EQ(U().settings.algorithm, 1009);
    EXPECT_TRUE(Checked(kIdVertexColors));
    EXPECT_FALSE(Checked(kIdUVMap));
    EXPECT_FALSE(fs::exists(File()));  // a click saves nothing by itself
    Close();
    EXPECT_EQ(Saved().at("algorithm"), "1009");
}

TEST_F(PanelTest, SpatialStoredDisablesItsControlsAndGenerateSavesThenRefuses)
{
    std::string text = kStoredFile;
    text.replace(text.find("algorithm=1009"), 14, "algorithm=1010");
    Write(text);
    Open();
    EXPECT_TRUE(Checked(kIdSpatial));
    for (int id : kAlgorithmControls) EXPECT_FALSE(Enabled(id)) << id;
    for (int id : kAlwaysEnabled) EXPECT_TRUE(Enabled(id)) << id;

    Page().Click(kIdSelectedOnly);  // now unchecked: read back at "Generate"
    Type(kEditDist, "44");
    EXPECT_EQ(Command(kIdGenerate), TRUE);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, "This Smurl type is not implemented yet");
    EXPECT_EQ(host.messages[0].title, "Dunsmere");
    EXPECT_EQ(host.messages[0].type, MB_OK | MB_ICONINFORMATION);
    const auto saved = Saved();
    EXPECT_EQ(saved.at("algorithm"), "1010");
    EXPECT_EQ(saved.at("selectedOnly"), "0");
    EXPECT_EQ(saved.at("dist"), "44.000000");
    EXPECT_EQ(saved.at("XSiz"), "640");  // disabled, still read back
}

TEST_F(PanelTest, DisabledNoiseAndFilterAreStillReadAndSaved)
{
    Open();
    Page().Click(kIdVertexColors);
    ASSERT_FALSE(Enabled(kIdNoiseOn));
    // Values set while the controls were enabled, or by the program.
    CheckDlgButton(&Page(), kIdNoiseOn, BST_CHECKED);
    CheckDlgButton(&Page(), kIdMtlIDOn, BST_CHECKED);
    Type(kEditNoiseSize, "3.5");
    Type(kEditMtlID, "9");
    Command(kIdGenerate);
    // Nothing is selected: the vertex generation refuses, after the save.
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, kSelectOneNode);
    auto saved = Saved();
    EXPECT_EQ(saved.at("noiseOn"), "1");
    EXPECT_EQ(saved.at("noiseSize"), "3.500000");
    EXPECT_EQ(saved.at("mtlIDOn"), "1");
    EXPECT_EQ(saved.at("mtlID"), "9");

    Type(kEditNoiseSize, "4.5");
    CheckDlgButton(&Page(), kIdMtlIDOn, BST_UNCHECKED);
    Close();
    saved = Saved();
    EXPECT_EQ(saved.at("noiseSize"), "4.500000");
    EXPECT_EQ(saved.at("mtlIDOn"), "0");
    EXPECT_EQ(saved.at("algorithm"), "1009");
}

// ---- Generate --------------------------------------------------------------

TEST_F(PanelTest, GenerateReadsTheEditTextNotTheSpinners)
{
    Open();
    // Typed but not yet taken by the spinners: out of their range, or no
    // number at all.
    Type(kEditXSiz, "9999");
    Type(kEditYSiz, "-3");
    Type(kEditDist, "abc");
    Type(kEditVertical, "2.9");
    EXPECT_EQ(Ctl(kSpinXSiz).ival, 200);
    Command(kIdGenerate);
    EXPECT_EQ(U().settings.XSiz, 9999);
    EXPECT_EQ(U().settings.YSiz, -3);
    EXPECT_EQ(U().settings.dist, 0.0f);
    EXPECT_EQ(U().settings.verticalSpread, 2);
    const auto saved = Saved();
    EXPECT_EQ(saved.at("XSiz"), "9999");
    EXPECT_EQ(saved.at("dist"), "0.000000");
}

TEST_F(PanelTest, CheckBoxesChangeTheRecordOnlyAtGenerateOrClosing)
{
    Open();
    EXPECT_EQ(Page().Click(kIdSelectedOnly), TRUE);
    EXPECT_EQ(Page().Click(kIdNoiseOn), TRUE);
    EXPECT_EQ(U().settings.selectedOnly, 0);
    EXPECT_EQ(U().settings.noiseOn, 0);
    Command(kIdGenerate);
    EXPECT_EQ(U().settings.selectedOnly, 1);
    EXPECT_EQ(U().settings.noiseOn, 1);
    EXPECT_EQ(Saved().at("selectedOnly"), "1");
}

TEST_F(PanelTest, GenerateVertexColorsRunsWithTheSavedSettings)
{
    ScriptedMeshObject object;
    object.mesh = CreaseMesh(4);
    ScriptedNode node(&object);
    host.selection = {&node};
    Open();
    Page().Click(kIdVertexColors);
    Type(kEditDist, "20");
    Command(kIdGenerate);
    EXPECT_EQ(Saved().at("dist"), "20.000000");
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text.rfind("Smurl calculation complete", 0), 0u);
    EXPECT_EQ(object.mesh.getNumVertCol(), object.mesh.getNumVerts());
    EXPECT_FALSE(node.notifications.empty());
    EXPECT_EQ(U().settings.dist, 20.0f);
}

TEST_F(PanelTest, GenerateSavesEvenWhenTheRunIsThenCancelled)
{
    ScriptedMeshObject object;
    object.mesh = CreaseMesh(4);
    ScriptedNode node(&object);
    host.selection = {&node};
    std::string onFileDuringTheRun;
    host.cancelAtQuery = 1;  // the wait's first poll, or else the write phase's first vertex
    host.onCancelQuery = [&] { onFileDuringTheRun = Saved()["horizontalSpread"]; };
    Open();
    Page().Click(kIdVertexColors);
    Type(kEditHorizontal, "5");
    Command(kIdGenerate);
    EXPECT_TRUE(host.messages.empty());  // cancelled: no completion message
    EXPECT_EQ(onFileDuringTheRun, "5");
    EXPECT_EQ(Saved()["horizontalSpread"], "5");
}

TEST_F(PanelTest, UVMapGenerateSavesFirst)
{
    Open();
    Type(kEditMapChannel, "7");
    Command(kIdGenerate);
    EXPECT_EQ(Saved().at("mapChannel"), "7");
    for (const MessageRecord& m : host.messages) EXPECT_NE(m.text, kNotImplemented);
}

// ---- Other messages ------------------------------------------------------------

TEST_F(PanelTest, EveryCommandIsHandledAndOtherMessagesAreNot)
{
    Open();
    const UtilitySettings before = U().settings;
    EXPECT_EQ(Command(4242), TRUE);
    EXPECT_EQ(Command(kIdAccumulate), TRUE);
    EXPECT_EQ(U().settings, before);
    EXPECT_EQ(Page().Send(0x0005 /* size */), FALSE);
    EXPECT_EQ(Page().Send(0x0203 /* double click */), FALSE);
    EXPECT_TRUE(host.mouse.empty());
}

TEST_F(PanelTest, MouseMessagesGoToTheHostOnlyWhileItIsStored)
{
    const HWND page = Open();
    EXPECT_EQ(page->Send(WM_MOUSEMOVE, 1, 0x00020003), TRUE);
    EXPECT_EQ(page->Send(WM_LBUTTONDOWN, 1, 0x00040005), TRUE);
    EXPECT_EQ(page->Send(WM_LBUTTONUP, 0, 0x00060007), TRUE);
    const std::vector<MouseRecord> expected = {{page, WM_MOUSEMOVE, 1, 0x00020003},
                                               {page, WM_LBUTTONDOWN, 1, 0x00040005},
                                               {page, WM_LBUTTONUP, 0, 0x00060007}};
    EXPECT_EQ(host.mouse, expected);
    Close();

    // A page whose utility holds no interface: handled, but not passed on.
    DialogWindow stray(*FindDialogTemplate(LibraryInstance(), kPanelDialog), PanelDlgProc, LibraryInstance());
    EXPECT_EQ(stray.Send(WM_MOUSEMOVE, 0, 0), TRUE);
    EXPECT_EQ(stray.Send(WM_LBUTTONDOWN, 0, 0), TRUE);
    EXPECT_EQ(host.mouse.size(), 3u);
}

TEST_F(PanelTest, NothingThrownLeavesTheDialogProcedure)
{
    CheckRecorder checks;
    const HWND page = Open();
    host.throwOnMouse = true;
    EXPECT_EQ(page->Send(WM_MOUSEMOVE, 0, 0), FALSE);
    const auto reports = checks.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].source, "PanelDlgProc");
}

// ---- Closing -----------------------------------------------------------------

TEST_F(PanelTest, EndEditingClearsTheInterfacesThenDeletesThePageWhichReleasesItsControls)
{
    const HWND page = Open();
    Type(kEditYSiz, "333");
    Close();
    ASSERT_EQ(host.deleted.size(), 2u);  // the options page before it
    EXPECT_EQ(host.deleted[1], page);
    EXPECT_EQ(host.ipWhileDeleting, nullptr);
    EXPECT_EQ(host.destroyResult, TRUE);
    EXPECT_EQ(host.page, nullptr);
    EXPECT_EQ(U().hPanel, nullptr);
    EXPECT_EQ(U().ip, nullptr);
    EXPECT_EQ(U().iu, nullptr);
    EXPECT_EQ(OpenControlInterfaces(), interfacesBefore);
    for (ICustEdit* edit : U().edits) EXPECT_EQ(edit, nullptr);
    for (ISpinnerControl* spin : U().spinners) EXPECT_EQ(spin, nullptr);
    EXPECT_EQ(Saved().at("YSiz"), "333");
}

TEST_F(PanelTest, ReopeningShowsWhatTheLastClosingSaved)
{
    Open();
    Page().Click(kIdSpatial);
    Type(kEditHorizontal, "5");
    Close();
    Open();
    EXPECT_TRUE(Checked(kIdSpatial));
    EXPECT_EQ(Text(kEditHorizontal), "5");
    EXPECT_FALSE(Enabled(kEditXSiz));
    EXPECT_EQ(OpenControlInterfaces(), interfacesBefore + 16 + 10);
    // An opening message sent twice must not leak the first set.
    Page().Send(WM_INITDIALOG);
    EXPECT_EQ(OpenControlInterfaces(), interfacesBefore + 16 + 10);
    Close();
    EXPECT_EQ(OpenControlInterfaces(), interfacesBefore);
}

// ---- The call sequences ---------------------------------------------------------

// No file: every read returns its default.
const Calls kLoadCalls = {
    "ReadInt Dunsmere algorithm 1008 -> 1008",   "ReadInt Dunsmere XSiz 200 -> 200",
    "ReadInt Dunsmere YSiz 200 -> 200",          "ReadInt Dunsmere horizontalSpread 8 -> 8",
    "ReadInt Dunsmere verticalSpread 1 -> 1",    "ReadInt Dunsmere mapChannel 1 -> 1",
    "ReadText Dunsmere dist 30.0 80 -> 30.0",    "ReadInt Dunsmere selectedOnly 0 -> 0",
    "ReadInt Dunsmere noiseOn 0 -> 0",           "ReadText Dunsmere noiseSize 25.0 80 -> 25.0",
    "ReadInt Dunsmere mtlIDOn 0 -> 0",           "ReadInt Dunsmere mtlID 1 -> 1",
    "ReadInt Dunsmere addVertexColors 0 -> 0",   "ReadInt Dunsmere padding 1 -> 1",
    "ReadInt Dunsmere supersample 1 -> 1",       "ReadInt Dunsmere coverageAlpha 0 -> 0",
    "ReadInt Dunsmere invertLevels 0 -> 0",      "ReadInt Dunsmere evenRing 0 -> 0",
    "ReadInt Dunsmere sceneOccluders 0 -> 0",    "ReadText Dunsmere rayBias 0.0 80 -> 0.0",
    "ReadInt Dunsmere highPoly 0 -> 0",          "ReadText Dunsmere rayFront 0.02 80 -> 0.02",
    "ReadText Dunsmere rayRear 0.02 80 -> 0.02",
};
// The release an opening makes first, of interfaces it does not hold yet.
const Calls kReleaseNothing = {
    "ReleaseEdit -", "ReleaseSpinner -", "ReleaseEdit -", "ReleaseSpinner -", "ReleaseEdit -", "ReleaseSpinner -",
    "ReleaseEdit -", "ReleaseSpinner -", "ReleaseEdit -", "ReleaseSpinner -", "ReleaseEdit -", "ReleaseSpinner -",
    "ReleaseEdit -", "ReleaseSpinner -", "ReleaseEdit -", "ReleaseSpinner -",
};
const Calls kLookupCalls = {"GetEdit 1490", "GetEdit 1491", "GetEdit 1494", "GetEdit 1493",
                            "GetEdit 1492", "GetEdit 1495", "GetEdit 1502", "GetEdit 1504"};
const Calls kSpinnerCalls = {
    "SetupFloatSpinner 1498 1492 1 100000 30 1", "SetupIntSpinner 1500 1494 0 24 8",
    "SetupIntSpinner 1499 1493 0 10 1",          "SetupIntSpinner 1496 1490 50 4096 200",
    "SetupIntSpinner 1497 1491 50 4096 200",     "SetupIntSpinner 1501 1495 1 99 1",
    "SetupIntSpinner 1505 1504 1 100 1",         "SetupFloatSpinner 1503 1502 0 100000 25 1",
};
const Calls kShowDefaults = {
    "CheckRadio 1008 1010 1008", "CheckButton 1002 0",   "CheckButton 1006 0",   "CheckButton 1007 0",
    "CheckButton 1011 0",        "SetSpinnerFloat 1498 30", "SetSpinnerInt 1500 8", "SetSpinnerInt 1499 1",
    "SetSpinnerInt 1496 200",    "SetSpinnerInt 1497 200",  "SetSpinnerInt 1501 1", "SetSpinnerInt 1505 1",
    "SetSpinnerFloat 1503 25",
};
const Calls kDisableAll = {"Enable 1490 0", "Enable 1496 0", "Enable 1491 0", "Enable 1497 0", "Enable 1495 0",
                           "Enable 1501 0", "Enable 1006 0", "Enable 1502 0", "Enable 1503 0", "Enable 1007 0",
                           "Enable 1504 0", "Enable 1505 0", "Enable 1011 0"};
const Calls kEnableUVMap = {"Enable 1490 1", "Enable 1496 1", "Enable 1491 1", "Enable 1497 1",
                            "Enable 1495 1", "Enable 1501 1", "Enable 1006 1", "Enable 1502 1",
                            "Enable 1503 1", "Enable 1007 1", "Enable 1504 1", "Enable 1505 1"};
const Calls kReleaseCalls = {
    "ReleaseEdit 1490", "ReleaseSpinner 1496", "ReleaseEdit 1491", "ReleaseSpinner 1497",
    "ReleaseEdit 1494", "ReleaseSpinner 1500", "ReleaseEdit 1493", "ReleaseSpinner 1499",
    "ReleaseEdit 1495", "ReleaseSpinner 1501", "ReleaseEdit 1492", "ReleaseSpinner 1498",
    "ReleaseEdit 1502", "ReleaseSpinner 1503", "ReleaseEdit 1504", "ReleaseSpinner 1505",
};

class PanelCallsTest : public PanelTest {
protected:
    CallRecorder calls;
};

TEST_F(PanelCallsTest, OpeningLoadsLooksUpSetsUpShowsAndEnablesInItsOrders)
{
    Open();
    EXPECT_EQ(calls.Take(),
              Join({kLoadCalls, kReleaseNothing, kLookupCalls, kSpinnerCalls, kShowDefaults, kDisableAll,
                    kEnableUVMap, kOptionsOpenCalls, kOptionsDisableAll, kOptionsEnableUVMap}));
    for (const std::string& path : calls.paths) EXPECT_EQ(path, dir.string() + "\\Dunsmere.ini");
}

TEST_F(PanelCallsTest, ClosingReadsBackSavesAndReleasesInItsOrders)
{
    Write(kStoredFile);
    Open();
    calls.Take();
    Close();
    const Calls readBack = {
        "ButtonState 1008 -> 0", "ButtonState 1009 -> 1", "ButtonState 1011 -> 1", "EditInt 1490 -> 640",
        "EditInt 1491 -> 480",   "EditInt 1493 -> 3",      "EditInt 1494 -> 12",    "EditFloat 1492 -> 12.5",
        "EditInt 1495 -> 2",     "ButtonState 1002 -> 1",  "ButtonState 1006 -> 1", "EditFloat 1502 -> 7.25",
        "ButtonState 1007 -> 1", "EditInt 1504 -> 5",
    };
    const Calls save = {
        "Write Dunsmere algorithm 1009",    "Write Dunsmere XSiz 640",          "Write Dunsmere YSiz 480",
        "Write Dunsmere horizontalSpread 12", "Write Dunsmere verticalSpread 3", "Write Dunsmere mapChannel 2",
        "Write Dunsmere dist 12.500000",    "Write Dunsmere selectedOnly 1",    "Write Dunsmere noiseOn 1",
        "Write Dunsmere noiseSize 7.250000", "Write Dunsmere mtlID 5",          "Write Dunsmere mtlIDOn 1",
        "Write Dunsmere addVertexColors 1",
        // The options at their defaults: their keys are removed.
        "Write Dunsmere padding (deleted)", "Write Dunsmere supersample (deleted)",
        "Write Dunsmere coverageAlpha (deleted)", "Write Dunsmere invertLevels (deleted)",
        "Write Dunsmere evenRing (deleted)", "Write Dunsmere sceneOccluders (deleted)",
        "Write Dunsmere rayBias (deleted)", "Write Dunsmere highPoly (deleted)",
        "Write Dunsmere rayFront (deleted)", "Write Dunsmere rayRear (deleted)",
    };
    EXPECT_EQ(calls.Take(), Join({kOptionsCloseCalls, readBack, save, kReleaseCalls}));
}

TEST_F(PanelCallsTest, ShowingStoredValuesCorrectsTheAlgorithmFirst)
{
    Write("[Dunsmere]\nalgorithm=7\nselectedOnly=5\ndist=12.5\nmtlID=-3\n");
    Open();
    Calls shown;
    for (const std::string& c : calls.Take())
        if (c.rfind("Check", 0) == 0 || c.rfind("SetSpinner", 0) == 0) shown.push_back(c);
    EXPECT_EQ(shown, (Calls{"CheckRadio 1008 1010 1008", "CheckButton 1002 1", "CheckButton 1006 0",
                            "CheckButton 1007 0", "CheckButton 1011 0", "SetSpinnerFloat 1498 12.5",
                            "SetSpinnerInt 1500 8", "SetSpinnerInt 1499 1", "SetSpinnerInt 1496 200",
                            "SetSpinnerInt 1497 200", "SetSpinnerInt 1501 1", "SetSpinnerInt 1505 -3",
                            "SetSpinnerFloat 1503 25",
                            // The options page, which the file leaves at the defaults.
                            "SetSpinnerInt 1511 1", "SetSpinnerInt 1513 1", "CheckButton 1514 0",
                            "CheckButton 1515 0", "CheckButton 1516 0", "CheckButton 1517 0",
                            "SetSpinnerFloat 1519 0", "CheckButton 1520 0", "SetSpinnerFloat 1522 0.02",
                            "SetSpinnerFloat 1524 0.02"}));
}

TEST_F(PanelCallsTest, EachAlgorithmDisablesAllThenEnablesItsOwn)
{
    Open();
    calls.Take();
    Page().Click(kIdVertexColors);
    EXPECT_EQ(calls.Take(),
              Join({kDisableAll, {"Enable 1011 1"}, kOptionsDisableAll, kOptionsEnableVertexColors}));
    Page().Click(kIdSpatial);
    EXPECT_EQ(calls.Take(), Join({kDisableAll, kOptionsDisableAll}));
    Page().Click(kIdUVMap);
    EXPECT_EQ(calls.Take(), Join({kDisableAll, kEnableUVMap, kOptionsDisableAll, kOptionsEnableUVMap}));
}

TEST_F(PanelCallsTest, ReadingBackAsksEachRadioButtonUntilOneIsChecked)
{
    Open();
    Page().Click(kIdSpatial);
    calls.Take();
    Command(kIdGenerate);
    const Calls made = calls.Take();
    ASSERT_GE(made.size(), 4u);
    EXPECT_EQ(Calls(made.begin(), made.begin() + 4), (Calls{"ButtonState 1008 -> 0", "ButtonState 1009 -> 0",
                                                            "ButtonState 1010 -> 1", "ButtonState 1011 -> 0"}));
    // None checked: the first value.
    CheckRadioButton(&Page(), kIdUVMap, kIdSpatial, 0);
    Command(kIdGenerate);
    EXPECT_EQ(U().settings.algorithm, kAlgorithmUVMap);
    EXPECT_EQ(Saved().at("algorithm"), "1008");
}

// ---- The About box -----------------------------------------------------------

// Plays the user of a modal About box: first Escape, then `finish`.
class AboutUser : public WindowSystem {
public:
    enum Finish { OkButton, CloseBox };
    explicit AboutUser(Finish f) : finish(f) {}
    INT_PTR RunModal(DialogWindow& dialog) override
    {
        templateId = dialog.Template().id;
        caption = dialog.Template().caption ? dialog.Template().caption : "";
        escapeResult = dialog.Send(WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
        endedByEscape = dialog.Ended();
        finishResult = finish == OkButton ? dialog.Send(WM_COMMAND, MAKEWPARAM(IDOK, 0), 0) : dialog.Send(WM_CLOSE);
        ++runs;
        return dialog.Ended() ? dialog.Result() : -1;
    }
    HWND ActiveWindow() override { return nullptr; }

    Finish finish;
    int runs = 0, templateId = 0;
    std::string caption;
    INT_PTR escapeResult = -1, finishResult = -1;
    bool endedByEscape = true;
};

class AboutBoxTest : public PanelTest {};

TEST_F(AboutBoxTest, EscapeLeavesItOpenAndOkEndsIt)
{
    AboutUser user(AboutUser::OkButton);
    SetWindowSystem(&user);
    EXPECT_EQ(DialogBoxParamA(LibraryInstance(), kAboutDialog, nullptr, AboutDlgProc, 0), 1);
    EXPECT_FALSE(user.endedByEscape);
    EXPECT_EQ(user.escapeResult, FALSE);
    EXPECT_EQ(user.finishResult, FALSE);  // OK ends it but reports "not handled"
}

TEST_F(AboutBoxTest, TheCloseBoxEndsIt)
{
    AboutUser user(AboutUser::CloseBox);
    SetWindowSystem(&user);
    EXPECT_EQ(DialogBoxParamA(LibraryInstance(), kAboutDialog, nullptr, AboutDlgProc, 0), 1);
    EXPECT_FALSE(user.endedByEscape);
    EXPECT_EQ(user.finishResult, TRUE);
}

TEST_F(AboutBoxTest, ThePanelsAboutButtonShowsTemplate102)
{
    AboutUser user(AboutUser::OkButton);
    SetWindowSystem(&user);
    Open();
    const UtilitySettings before = U().settings;
    EXPECT_EQ(Page().Click(kIdAbout), TRUE);
    EXPECT_EQ(user.runs, 1);
    EXPECT_EQ(user.templateId, 102);
    EXPECT_EQ(user.caption, "About Dunsmere");
    EXPECT_EQ(U().settings, before);
    EXPECT_TRUE(host.messages.empty());
}

TEST_F(AboutBoxTest, InitialisationAndOtherMessages)
{
    DialogWindow about(*FindDialogTemplate(LibraryInstance(), kAboutDialog), AboutDlgProc, LibraryInstance());
    EXPECT_EQ(about.Send(WM_INITDIALOG), TRUE);
    EXPECT_EQ(about.Send(WM_COMMAND, MAKEWPARAM(1005, 0), 0), FALSE);
    EXPECT_EQ(about.Send(WM_MOUSEMOVE), FALSE);
    EXPECT_FALSE(about.Ended());
    // Without a host the box still opens.
    SetCOREInterface(nullptr);
    EXPECT_EQ(about.Send(WM_INITDIALOG), TRUE);
}

class ThrowingMainWindowHost : public PanelHost {
public:
    void* GetMainWindow() override { throw std::runtime_error("no main window"); }
};

TEST_F(AboutBoxTest, NothingThrownLeavesIt)
{
    ThrowingMainWindowHost broken;
    SetCOREInterface(&broken);
    CheckRecorder checks;
    DialogWindow about(*FindDialogTemplate(LibraryInstance(), kAboutDialog), AboutDlgProc, LibraryInstance());
    EXPECT_EQ(about.Send(WM_INITDIALOG), FALSE);
    const auto reports = checks.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].source, "AboutDlgProc");
}

}  // namespace
