// The plug-in library: its entry, strings, descriptor and resources through
// the plug-in's static code linked into this test, and the built
// Dunsmere.dlu through its exports, as a host loads it.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "plugin/plugin.h"
#include "plugin/version.h"
#include "scratch_dir.h"
#include "scripted_host.h"
#include "ui/panel.h"
#include "ui/ui.h"
#include "ui/utility.h"

namespace {

namespace fs = std::filesystem;

HINSTANCE BaseOf(const void* address)
{
    Dl_info info{};
    return dladdr(address, &info) ? info.dli_fbase : nullptr;
}

// Puts the instance handle back after a test has called the entry itself.
class EntryRestorer {
public:
    EntryRestorer() : instance_(LibraryInstance()) {}
    ~EntryRestorer() { LibraryEntry(instance_, kThreadAttach, nullptr); }
    EntryRestorer(const EntryRestorer&) = delete;
    EntryRestorer& operator=(const EntryRestorer&) = delete;
    HINSTANCE Instance() const { return instance_; }

private:
    HINSTANCE instance_;
};

// ---- The entry -------------------------------------------------------------

TEST(PluginEntry, RanAtLoadWithTheModuleBase)
{
    // This program holds the plug-in's code, so its loader ran at start-up.
    ASSERT_NE(LibraryInstance(), nullptr);
    EXPECT_EQ(LibraryInstance(), BaseOf(&TheUtility()));
    EXPECT_GE(CustomControlsInitCount(), 1);
    EXPECT_GE(CommonControlsInitCount(), 1);
    EXPECT_NE(FindDialogTemplate(LibraryInstance(), kPanelDialog), nullptr);
}

TEST(PluginEntry, InitialisesControlsOnceButStoresTheHandleEachTime)
{
    EntryRestorer restore;
    const int custom = CustomControlsInitCount();
    const int common = CommonControlsInitCount();
    int a = 0, b = 0;
    EXPECT_EQ(LibraryEntry(&a, kThreadAttach, nullptr), TRUE);
    EXPECT_EQ(LibraryInstance(), &a);
    EXPECT_STREQ(LoadResourceString(kStrRollupTitle), "Parameters");  // found under the new handle
    EXPECT_EQ(LibraryEntry(&b, kThreadDetach, nullptr), TRUE);
    EXPECT_EQ(LibraryInstance(), &b);
    EXPECT_EQ(LibraryEntry(&a, kProcessAttach, nullptr), TRUE);
    EXPECT_EQ(LibraryInstance(), &a);
    EXPECT_EQ(CustomControlsInitCount(), custom);
    EXPECT_EQ(CommonControlsInitCount(), common);
    // A process detach still stores the handle; the module's resources go.
    EXPECT_EQ(LibraryEntry(&b, kProcessDetach, nullptr), TRUE);
    EXPECT_EQ(LibraryInstance(), &b);
    EXPECT_EQ(FindDialogTemplate(&b, kPanelDialog), nullptr);
    EXPECT_EQ(LoadResourceString(kStrClassName), nullptr);
    EXPECT_EQ(LibraryEntry(&a, kProcessDetach, nullptr), TRUE);
}

// ---- Strings -----------------------------------------------------------------

TEST(PluginStrings, TheStringTable)
{
    EXPECT_STREQ(LoadResourceString(1), "Dunsmere");
    EXPECT_STREQ(LoadResourceString(2), "Quillfen Tools");
    EXPECT_STREQ(LoadResourceString(3), "Dunsmere");
    EXPECT_STREQ(LoadResourceString(4), "Parameters");
    EXPECT_EQ(LoadResourceString(5), nullptr);
    EXPECT_EQ(LoadResourceString(0), nullptr);
    EXPECT_EQ(LoadResourceString(-1), nullptr);
}

TEST(PluginStrings, OneBufferServesEveryCall)
{
    const char* first = LoadResourceString(kStrClassName);
    const char* second = LoadResourceString(kStrCategory);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(first, "Quillfen Tools");  // the earlier text is gone
}

TEST(PluginStrings, NullBeforeTheInstanceHandleIsKnown)
{
    EntryRestorer restore;
    LibraryEntry(nullptr, kProcessDetach, nullptr);
    EXPECT_EQ(LibraryInstance(), nullptr);
    EXPECT_EQ(LoadResourceString(kStrLibDescription), nullptr);
    EXPECT_EQ(TheClassDesc().ClassName(), nullptr);  // passed on unchanged
}

// ---- The descriptor ------------------------------------------------------------

TEST(PluginClassDesc, DescribesTheUtilityClass)
{
    DunsmereClassDesc& d = TheClassDesc();
    EXPECT_EQ(d.IsPublic(), 1);
    EXPECT_STREQ(d.ClassName(), "Dunsmere");
    EXPECT_STREQ(d.Category(), "Quillfen Tools");
    EXPECT_EQ(d.SuperClassID(), 0x1020u);
    EXPECT_EQ(d.ClassID(), kDunsmereClassID);
    EXPECT_FALSE(d.ClassID() == Class_ID{});
    EXPECT_STREQ(d.InternalName(), "Dunsmere");
    EXPECT_EQ(d.HInstance(), LibraryInstance());
}

TEST(PluginClassDesc, CreateHandsOutTheOneStaticUtility)
{
    DunsmereClassDesc& d = TheClassDesc();
    void* first = d.Create(FALSE);
    void* second = d.Create(TRUE);
    EXPECT_EQ(first, second);
    auto* utility = static_cast<UtilityObj*>(first);
    EXPECT_EQ(utility, static_cast<UtilityObj*>(&TheUtility()));
    EXPECT_EQ(dynamic_cast<DunsmereUtility*>(utility), &TheUtility());

    TheUtility().settings.XSiz = 777;
    utility->DeleteThis();
    EXPECT_EQ(d.Create(FALSE), first);
    EXPECT_EQ(TheUtility().settings.XSiz, 777);  // intact
    TheUtility().settings = UtilitySettings{};
}

TEST(PluginExports, InProcess)
{
    EXPECT_STREQ(LibDescription(), "Dunsmere");
    EXPECT_EQ(LibNumberClasses(), 1);
    EXPECT_EQ(LibClassDesc(0), &TheClassDesc());
    EXPECT_EQ(LibClassDesc(0), LibClassDesc(0));
    EXPECT_EQ(LibClassDesc(1), nullptr);
    EXPECT_EQ(LibClassDesc(-1), nullptr);
    EXPECT_EQ(LibVersion(), 0x10680800ul);
    EXPECT_EQ(LibVersion(), 275253248ul);
}

TEST(PluginVersion, MatchesTheProject)
{
    EXPECT_STREQ(DUNSMERE_VERSION_TEXT, "0.2.5.0");
    EXPECT_EQ(std::string(DUNSMERE_VERSION_TEXT), std::string(DUNSMERE_PROJECT_VERSION) + ".0");
    EXPECT_STREQ(DUNSMERE_PRODUCT_NAME, "Dunsmere");
}

// ---- Resources ---------------------------------------------------------------

struct Expected {
    int id;
    ControlKind kind;
    const char* caption;
    short x, y, w, h;
};

void ExpectControls(const DialogTemplate& t, const std::vector<Expected>& expected)
{
    ASSERT_EQ(t.controlCount, static_cast<int>(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        const ControlTemplate& c = t.controls[i];
        const Expected& e = expected[i];
        SCOPED_TRACE(testing::Message() << "control " << i << " (" << e.caption << ")");
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.kind, e.kind);
        EXPECT_STREQ(c.caption, e.caption);
        EXPECT_EQ(c.x, e.x);
        EXPECT_EQ(c.y, e.y);
        EXPECT_EQ(c.w, e.w);
        EXPECT_EQ(c.h, e.h);
    }
}

using K = ControlKind;

TEST(PluginResources, TheRollupPage)
{
    const DialogTemplate* t = FindDialogTemplate(LibraryInstance(), 101);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->caption, nullptr);
    EXPECT_EQ(t->w, 108);
    EXPECT_EQ(t->h, 323);
    EXPECT_STREQ(t->font, "MS Sans Serif");
    EXPECT_EQ(t->pointSize, 8);
    ExpectControls(*t, {
        {-1, K::CentredText, "Dunsmere BETA V0.25b", 7, 7, 94, 12},
        {-1, K::GroupBox, "Algorithm", 7, 21, 94, 50},
        {1008, K::RadioButton, "UV Map", 20, 32, 42, 10},
        {1009, K::RadioButton, "Vertex Colors", 20, 44, 57, 10},
        {1010, K::RadioButton, "Spatial", 20, 56, 37, 10},
        {-1, K::Text, "Distance :", 15, 75, 33, 10},
        {1492, K::CustEdit, "", 60, 75, 25, 10},
        {1498, K::Spinner, "", 86, 75, 7, 10},
        {1002, K::CheckBox, "Selected Faces Only", 13, 91, 81, 10},
        {-1, K::GroupBox, "Ray Spread", 7, 105, 94, 40},
        {-1, K::Text, "Vertical", 15, 117, 33, 10},
        {1493, K::CustEdit, "", 60, 117, 25, 10},
        {1499, K::Spinner, "", 86, 117, 7, 10},
        {-1, K::Text, "Horizontal :", 15, 129, 33, 10},
        {1494, K::CustEdit, "", 60, 129, 25, 10},
        {1500, K::Spinner, "", 86, 129, 7, 10},
        {-1, K::GroupBox, "Map Size", 7, 148, 94, 28},
        {1490, K::CustEdit, "", 14, 159, 25, 10},
        {1496, K::Spinner, "", 40, 159, 7, 10},
        {-1, K::CentredText, "x", 50, 159, 8, 10},
        {1491, K::CustEdit, "", 60, 159, 25, 10},
        {1497, K::Spinner, "", 86, 159, 7, 10},
        {-1, K::Text, "Map Channel", 8, 182, 47, 10},
        {1495, K::CustEdit, "", 60, 182, 25, 10},
        {1501, K::Spinner, "", 86, 182, 7, 10},
        {-1, K::GroupBox, "Noise", 7, 197, 94, 33},
        {1006, K::CheckBox, "On", 13, 207, 25, 10},
        {-1, K::Text, "Size", 38, 215, 18, 10},
        {1502, K::CustEdit, "", 59, 215, 25, 10},
        {1503, K::Spinner, "", 85, 215, 7, 10},
        {-1, K::GroupBox, "Filter by Material ID", 7, 232, 94, 33},
        {1007, K::CheckBox, "On", 13, 242, 25, 10},
        {-1, K::Text, "ID", 37, 251, 18, 10},
        {1504, K::CustEdit, "", 59, 251, 25, 10},
        {1505, K::Spinner, "", 85, 251, 7, 10},
        {1011, K::CheckBox, "Accumulate vertex colors", 7, 270, 94, 10},
        {1001, K::PushButton, "Generate", 29, 287, 50, 14},
        {1005, K::PushButton, "About...", 29, 302, 50, 14},
    });
}

TEST(PluginResources, TheAboutBox)
{
    const DialogTemplate* t = FindDialogTemplate(LibraryInstance(), 102);
    ASSERT_NE(t, nullptr);
    EXPECT_STREQ(t->caption, "About Dunsmere");
    EXPECT_EQ(t->w, 214);
    EXPECT_EQ(t->h, 127);
    EXPECT_STREQ(t->font, "MS Sans Serif");
    EXPECT_EQ(t->pointSize, 8);
    ASSERT_EQ(t->controlCount, 4);
    EXPECT_EQ(t->controls[0].kind, K::Picture);
    EXPECT_EQ(t->controls[0].x, 10);
    EXPECT_EQ(t->controls[0].w, 192);
    EXPECT_EQ(t->controls[0].h, 28);
    EXPECT_STREQ(t->controls[1].caption, "Dunsmere V0.25b [BETA]");
    EXPECT_EQ(t->controls[1].kind, K::CentredText);
    // The credit line: three lines of centred text.
    EXPECT_EQ(t->controls[2].kind, K::CentredText);
    const std::string credit = t->controls[2].caption;
    EXPECT_EQ(std::count(credit.begin(), credit.end(), '\n'), 2);
    EXPECT_EQ(t->controls[2].y, 65);
    EXPECT_EQ(t->controls[2].h, 24);
    const ControlTemplate& ok = t->controls[3];
    EXPECT_EQ(ok.id, 1);
    EXPECT_EQ(ok.kind, K::DefPushButton);
    EXPECT_STREQ(ok.caption, "OK");
    EXPECT_EQ(ok.x, 81);
    EXPECT_EQ(ok.y, 98);
}

// ---- The built library, loaded as a host loads it -------------------------------

class PluginLibrary : public ::testing::Test {
protected:
    void SetUp() override
    {
        custom = CustomControlsInitCount();
        common = CommonControlsInitCount();
        handle = dlopen(DUNSMERE_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(handle, nullptr) << dlerror();
        description = Lookup<LibDescriptionFn>("LibDescription");
        numberClasses = Lookup<LibNumberClassesFn>("LibNumberClasses");
        classDesc = Lookup<LibClassDescFn>("LibClassDesc");
        version = Lookup<LibVersionFn>("LibVersion");
        ASSERT_TRUE(description && numberClasses && classDesc && version);
        base = BaseOf(dlsym(handle, "LibVersion"));
    }
    void TearDown() override
    {
        if (handle) dlclose(handle);
        SetCOREInterface(nullptr);
    }
    template <typename F>
    F Lookup(const char* name)
    {
        return reinterpret_cast<F>(dlsym(handle, name));
    }

    void* handle = nullptr;
    LibDescriptionFn description = nullptr;
    LibNumberClassesFn numberClasses = nullptr;
    LibClassDescFn classDesc = nullptr;
    LibVersionFn version = nullptr;
    HINSTANCE base = nullptr;
    int custom = 0, common = 0;
};

TEST_F(PluginLibrary, IsNamedAsTheHostExpects)
{
    EXPECT_EQ(fs::path(DUNSMERE_PLUGIN_FILE).filename(), "Dunsmere.dlu");
}

TEST_F(PluginLibrary, ExportsOnlyTheFourFunctions)
{
    // Nothing of the code it is built from: the string loader, the statics'
    // accessors, the entry, the dialog procedures.
    for (const char* hidden : {"LoadResourceString", "_Z18LoadResourceStringi", "_Z10TheUtilityv",
                               "_Z12TheClassDescv", "_Z15LibraryInstancev", "_Z16LibraryResourcesv",
                               "_Z12LibraryEntryPvjS_", "_Z12PanelDlgProcP12DialogWindowjml",
                               "_Z12AboutDlgProcP12DialogWindowjml", "DllMain"})
        EXPECT_EQ(dlsym(handle, hidden), nullptr) << hidden;
}

TEST_F(PluginLibrary, LoadingRunsTheEntryWithTheLibrarysBase)
{
    ASSERT_NE(base, nullptr);
    EXPECT_NE(base, LibraryInstance());  // its own, not this program's
    EXPECT_EQ(CustomControlsInitCount(), custom + 1);
    EXPECT_EQ(CommonControlsInitCount(), common + 1);
    EXPECT_NE(FindDialogTemplate(base, kPanelDialog), nullptr);
    EXPECT_NE(FindDialogTemplate(base, kAboutDialog), nullptr);
    EXPECT_EQ(classDesc(0)->HInstance(), base);
}

TEST_F(PluginLibrary, TheFourExports)
{
    EXPECT_STREQ(description(), "Dunsmere");
    EXPECT_EQ(numberClasses(), 1);
    EXPECT_EQ(version(), 0x10680800ul);
    ClassDesc* d = classDesc(0);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(classDesc(0), d);
    EXPECT_NE(d, static_cast<ClassDesc*>(&TheClassDesc()));  // the library's own
    EXPECT_EQ(classDesc(1), nullptr);
    EXPECT_EQ(classDesc(-1), nullptr);
    EXPECT_EQ(classDesc(0), d);
}

TEST_F(PluginLibrary, TheDescriptorHandsOutOneUtility)
{
    ClassDesc* d = classDesc(0);
    EXPECT_EQ(d->IsPublic(), 1);
    EXPECT_STREQ(d->ClassName(), "Dunsmere");
    EXPECT_STREQ(d->Category(), "Quillfen Tools");
    EXPECT_EQ(d->SuperClassID(), UTILITY_CLASS_ID);
    EXPECT_EQ(d->ClassID(), kDunsmereClassID);
    EXPECT_STREQ(d->InternalName(), "Dunsmere");
    void* first = d->Create(FALSE);
    ASSERT_NE(first, nullptr);
    static_cast<UtilityObj*>(first)->DeleteThis();
    EXPECT_EQ(d->Create(FALSE), first);
}

// A command panel for the library's page.
class LibraryHost : public ScriptedHost {
public:
    HWND AddRollupPage(HINSTANCE instance, int templateId, DLGPROC proc, const char*, LPARAM param, DWORD,
                       int) override
    {
        addedFrom = instance;
        const DialogTemplate* tmpl = FindDialogTemplate(instance, templateId);
        if (!tmpl) return nullptr;
        page = std::make_unique<DialogWindow>(*tmpl, proc, instance);
        page->Send(WM_INITDIALOG, 0, param);
        return page.get();
    }
    void DeleteRollupPage(HWND hWnd) override
    {
        if (!hWnd || hWnd != page.get()) return;
        page->Send(WM_DESTROY);
        page.reset();
    }
    std::unique_ptr<DialogWindow> page;
    HINSTANCE addedFrom = nullptr;
};

TEST_F(PluginLibrary, AHostOpensTheUtilityGeneratesAndClosesIt)
{
    const ScratchDir scratch;
    LibraryHost host;
    host.configDir = scratch.path();
    SetCOREInterface(&host);
    const int interfaces = OpenControlInterfaces();

    auto* utility = static_cast<UtilityObj*>(classDesc(0)->Create(FALSE));
    IUtil iutil;
    utility->BeginEditParams(&host, &iutil);
    ASSERT_NE(host.page, nullptr);
    EXPECT_EQ(host.addedFrom, base);
    EXPECT_EQ(OpenControlInterfaces(), interfaces + 16);
    host.page->Click(kIdSpatial);
    host.page->Click(kIdGenerate);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, kNotImplemented);
    host.page->Send(WM_MOUSEMOVE);  // the host's own handler: ignored here
    utility->EndEditParams(&host, &iutil);
    EXPECT_EQ(host.page, nullptr);
    EXPECT_EQ(OpenControlInterfaces(), interfaces);

    std::ifstream in(scratch / "Dunsmere.ini");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("algorithm=1010\n"), std::string::npos);
}

TEST_F(PluginLibrary, UnloadingWithdrawsItsResources)
{
    ASSERT_EQ(dlclose(handle), 0);
    handle = nullptr;
    if (void* still = dlopen(DUNSMERE_PLUGIN_FILE, RTLD_NOW | RTLD_NOLOAD)) {
        dlclose(still);
        GTEST_SKIP() << "the platform kept the library loaded";
    }
    EXPECT_EQ(FindDialogTemplate(base, kPanelDialog), nullptr);
}

}  // namespace
