// The options page: added after the rollup page and deleted before it, its
// controls shown from and read back into the one record the rollup page
// loads and saves, and enabled by the algorithm chosen on the rollup page.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "check_recorder.h"
#include "panel_pages.h"

using namespace dunsmere;

namespace {

using namespace panel_pages;

// The options page's controls by their ids, typed here rather than taken
// from the settings table, so that a row with a wrong id fails.
constexpr int kEditPadding = 1510;
constexpr int kSpinPadding = 1511;
constexpr int kEditSupersample = 1512;
constexpr int kSpinSupersample = 1513;
constexpr int kIdCoverageAlpha = 1514;
constexpr int kIdInvert = 1515;
constexpr int kIdEvenRing = 1516;
constexpr int kIdSceneOccluders = 1517;
const std::vector<int> kOptionControls = {kEditPadding, kSpinPadding, kEditSupersample, kSpinSupersample,
                                          kIdCoverageAlpha, kIdInvert, kIdEvenRing, kIdSceneOccluders};

class OptionsPageTest : public PanelTest {
protected:
    DialogControl& Opt(int id)
    {
        DialogControl* c = host.options ? host.options->Control(id) : nullptr;
        if (!c) throw std::logic_error("no option control " + std::to_string(id));
        return *c;
    }
};

class OptionsPageCallsTest : public OptionsPageTest {
protected:
    CallRecorder calls;
};

TEST_F(OptionsPageTest, AddedAfterTheRollupPageAndDeletedBeforeIt)
{
    const HWND page = Open();
    ASSERT_EQ(host.added.size(), 2u);
    EXPECT_EQ(host.added[0].templateId, 101);
    const RollupRequest& r = host.added[1];
    EXPECT_EQ(r.instance, LibraryInstance());
    EXPECT_EQ(r.templateId, 103);
    EXPECT_EQ(r.proc, &OptionsDlgProc);
    EXPECT_EQ(r.title, "Dunsmere Options");
    EXPECT_EQ(r.category, ROLLUP_CAT_UTILITY);
    EXPECT_EQ(host.optionsInitResult, TRUE);
    const HWND options = host.options.get();
    ASSERT_NE(options, nullptr);
    EXPECT_EQ(U().hOptions, options);

    Close();
    EXPECT_EQ(host.deleted, (std::vector<HWND>{options, page}));
    EXPECT_EQ(host.optionsDestroyResult, TRUE);
    EXPECT_EQ(U().hOptions, nullptr);
    EXPECT_EQ(OpenControlInterfaces(), interfacesBefore);
}

TEST_F(OptionsPageTest, TheTemplateHoldsTheSixControlsWithTheirRanges)
{
    Open();
    EXPECT_EQ(Opt(kIdCoverageAlpha).tmpl.caption, std::string("Coverage in alpha"));
    EXPECT_EQ(Opt(kIdInvert).tmpl.caption, std::string("White is open"));
    EXPECT_EQ(Opt(kIdEvenRing).tmpl.caption, std::string("Even ring"));
    EXPECT_EQ(Opt(kIdSceneOccluders).tmpl.caption, std::string("Scene occluders"));
    for (int id : {kIdCoverageAlpha, kIdInvert, kIdEvenRing, kIdSceneOccluders})
        EXPECT_EQ(Opt(id).tmpl.kind, ControlKind::CheckBox) << id;
    struct Range {
        int spin, edit, min, max;
    };
    for (const Range& r : {Range{kSpinPadding, kEditPadding, 0, 64}, Range{kSpinSupersample, kEditSupersample, 1, 8}}) {
        SCOPED_TRACE(r.spin);
        EXPECT_EQ(Opt(r.edit).tmpl.kind, ControlKind::CustEdit);
        EXPECT_FALSE(Opt(r.spin).isFloat);
        EXPECT_EQ(Opt(r.spin).imin, r.min);
        EXPECT_EQ(Opt(r.spin).imax, r.max);
        EXPECT_EQ(Opt(r.spin).linkedEdit, r.edit);
    }
    // The edits' labels, the text to their left.
    std::vector<std::string> texts;
    for (const DialogControl& c : host.options->Controls())
        if (c.tmpl.kind == ControlKind::Text) texts.emplace_back(c.tmpl.caption);
    EXPECT_EQ(texts, (std::vector<std::string>{"Padding", "Antialiasing", "Ray bias", "Ray front", "Ray rear"}));
}

TEST_F(OptionsPageTest, ShowsTheStoredOptionsWithinTheirRanges)
{
    Write("[Dunsmere]\npadding=99\nsupersample=3\ninvertLevels=1\nsceneOccluders=1\n");
    Open();
    EXPECT_EQ(Opt(kEditPadding).text, "64");  // clamped by its spinner
    EXPECT_EQ(Opt(kEditSupersample).text, "3");
    EXPECT_FALSE(Opt(kIdCoverageAlpha).checked);
    EXPECT_TRUE(Opt(kIdInvert).checked);
    EXPECT_FALSE(Opt(kIdEvenRing).checked);
    EXPECT_TRUE(Opt(kIdSceneOccluders).checked);
    EXPECT_EQ(U().settings.padding, 99);  // until read back
    Close();
    const auto saved = Saved();
    EXPECT_EQ(saved.at("padding"), "64");
    EXPECT_EQ(saved.at("supersample"), "3");
    EXPECT_EQ(saved.at("invertLevels"), "1");
    EXPECT_EQ(saved.count("coverageAlpha"), 0u);
}

TEST_F(OptionsPageTest, GenerateOnTheRollupPageSavesWhatTheOptionsPageHolds)
{
    Open();
    Opt(kEditPadding).text = "12";
    CheckDlgButton(host.options.get(), kIdEvenRing, BST_CHECKED);
    Command(kIdGenerate);
    // Nothing is selected: the map refuses, after the save.
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(U().settings.padding, 12);
    EXPECT_EQ(U().settings.evenRing, 1);
    auto saved = Saved();
    EXPECT_EQ(saved.at("padding"), "12");
    EXPECT_EQ(saved.at("evenRing"), "1");

    // Back at the defaults: no key is left behind.
    Opt(kEditPadding).text = "1";
    CheckDlgButton(host.options.get(), kIdEvenRing, BST_UNCHECKED);
    Command(kIdGenerate);
    saved = Saved();
    EXPECT_EQ(saved.count("padding"), 0u);
    EXPECT_EQ(saved.count("evenRing"), 0u);
    EXPECT_EQ(saved.size(), 13u);
}

TEST_F(OptionsPageTest, EachAlgorithmEnablesItsOptions)
{
    const auto enabled = [&] {
        std::vector<int> on;
        for (int id : kOptionControls)
            if (Opt(id).enabled) on.push_back(id);
        return on;
    };
    Write("[Dunsmere]\nalgorithm=1010\n");
    Open();
    EXPECT_EQ(enabled(), std::vector<int>{}) << "Spatial, at the opening";
    Page().Click(kIdUVMap);
    EXPECT_EQ(enabled(), kOptionControls) << "UV Map";
    Page().Click(kIdVertexColors);
    EXPECT_EQ(enabled(), (std::vector<int>{kIdEvenRing, kIdSceneOccluders})) << "Vertex Colors";
    Page().Click(kIdSpatial);
    EXPECT_EQ(enabled(), std::vector<int>{}) << "Spatial";
}

TEST_F(OptionsPageTest, ItsMessagesAreHandledAndNothingThrownLeavesIt)
{
    Open();
    const UtilitySettings before = U().settings;
    EXPECT_EQ(host.options->Click(kIdCoverageAlpha), TRUE);
    EXPECT_EQ(U().settings, before);  // a check box is read at "Generate" and at closing
    EXPECT_EQ(host.options->Send(WM_MOUSEMOVE, 1, 2), TRUE);
    ASSERT_EQ(host.mouse.size(), 1u);
    EXPECT_EQ(host.mouse[0], (MouseRecord{host.options.get(), WM_MOUSEMOVE, 1, 2}));
    EXPECT_EQ(host.options->Send(0x0005 /* size */), FALSE);
    CheckRecorder checks;
    host.throwOnMouse = true;
    EXPECT_EQ(host.options->Send(WM_MOUSEMOVE), FALSE);
    const auto reports = checks.Take();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].source, "OptionsDlgProc");
}

// ---- The call sequences ------------------------------------------------------

TEST_F(OptionsPageCallsTest, OpeningShowsTheRecordTheRollupPageLoaded)
{
    Write("[Dunsmere]\nalgorithm=1009\npadding=5\nsupersample=3\ncoverageAlpha=1\nevenRing=1\n");
    Open();
    const Calls made = calls.Take();
    const Calls options = {
        "ReleaseEdit -",        "ReleaseSpinner -",     "ReleaseEdit -",
        "ReleaseSpinner -",     "ReleaseEdit -",        "ReleaseSpinner -",
        "ReleaseEdit -",        "ReleaseSpinner -",     "ReleaseEdit -",
        "ReleaseSpinner -",
        "GetEdit 1510",         "GetEdit 1512",         "GetEdit 1518",
        "GetEdit 1521",         "GetEdit 1523",
        "SetupIntSpinner 1511 1510 0 64 1", "SetupIntSpinner 1513 1512 1 8 1",
        "SetupFloatSpinner 1519 1518 0 1 0 0.001", "SetupFloatSpinner 1522 1521 0 1 0.02 0.001",
        "SetupFloatSpinner 1524 1523 0 1 0.02 0.001",
        "SetSpinnerInt 1511 5", "SetSpinnerInt 1513 3", "CheckButton 1514 1",
        "CheckButton 1515 0",   "CheckButton 1516 1",   "CheckButton 1517 0",
        "SetSpinnerFloat 1519 0", "CheckButton 1520 0", "SetSpinnerFloat 1522 0.02",
        "SetSpinnerFloat 1524 0.02",
        "Enable 1510 0",        "Enable 1511 0",        "Enable 1512 0",
        "Enable 1513 0",        "Enable 1514 0",        "Enable 1515 0",
        "Enable 1516 0",        "Enable 1517 0",        "Enable 1518 0",
        "Enable 1519 0",        "Enable 1520 0",        "Enable 1521 0",
        "Enable 1522 0",        "Enable 1523 0",        "Enable 1524 0",
        "Enable 1516 1",        "Enable 1517 1",        "Enable 1518 1",
        "Enable 1519 1",        "Enable 1520 1",        "Enable 1521 1",
        "Enable 1522 1",        "Enable 1523 1",        "Enable 1524 1",
    };
    // The options page opens last, and nothing on it reads the file again.
    ASSERT_GT(made.size(), options.size());
    EXPECT_EQ(Calls(made.end() - static_cast<std::ptrdiff_t>(options.size()), made.end()), options);
    EXPECT_EQ(std::count(made.begin(), made.end(), "ReadInt Dunsmere padding 1 -> 5"), 1);
    EXPECT_EQ(std::count_if(made.begin(), made.end(), [](const std::string& c) { return c.rfind("Read", 0) == 0; }),
              23);
}

TEST_F(OptionsPageCallsTest, ClosingReadsBackAndReleasesBeforeTheRollupPageSaves)
{
    Write("[Dunsmere]\nsupersample=3\ncoverageAlpha=1\n");
    Open();
    Opt(kEditPadding).text = "7";
    CheckDlgButton(host.options.get(), kIdInvert, BST_CHECKED);
    calls.Take();
    Close();
    const Calls made = calls.Take();
    const Calls options = {
        "EditInt 1510 -> 7",     "EditInt 1512 -> 3",     "ButtonState 1514 -> 1", "ButtonState 1515 -> 1",
        "ButtonState 1516 -> 0", "ButtonState 1517 -> 0", "EditFloat 1518 -> 0",   "ButtonState 1520 -> 0",
        "EditFloat 1521 -> 0.02", "EditFloat 1523 -> 0.02", "ReleaseEdit 1510",     "ReleaseSpinner 1511",
        "ReleaseEdit 1512",      "ReleaseSpinner 1513",   "ReleaseEdit 1518",      "ReleaseSpinner 1519",
        "ReleaseEdit 1521",      "ReleaseSpinner 1522",   "ReleaseEdit 1523",      "ReleaseSpinner 1524",
    };
    ASSERT_GT(made.size(), options.size());
    EXPECT_EQ(Calls(made.begin(), made.begin() + static_cast<std::ptrdiff_t>(options.size())), options);
    EXPECT_EQ(made[options.size()], "ButtonState 1008 -> 1");  // then the rollup page's own read-back
    const auto writes = std::count_if(made.begin(), made.end(), [](const std::string& c) {
        return c.rfind("Write Dunsmere padding 7", 0) == 0 || c.rfind("Write Dunsmere invertLevels 1", 0) == 0;
    });
    EXPECT_EQ(writes, 2);
    const auto saved = Saved();
    EXPECT_EQ(saved.at("padding"), "7");
    EXPECT_EQ(saved.at("supersample"), "3");
    EXPECT_EQ(saved.at("coverageAlpha"), "1");
    EXPECT_EQ(saved.at("invertLevels"), "1");
}

}  // namespace
