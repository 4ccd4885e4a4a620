// The plug-in library: its entry, strings, descriptor and resources through
// the plug-in's static code linked into this test, and the built
// Dunsmere.dlu through its exports, as a host loads it.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "plugin/plugin.h"
#include "plugin/version.h"
#include "scratch_dir.h"
#include "scripted_host.h"
#include "ui/panel.h"
#include "ui/ui.h"
#include "ui/utility.h"

using namespace dunsmere;

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
    EXPECT_STREQ(LoadResourceString(5), "Dunsmere Options");
    EXPECT_EQ(LoadResourceString(6), nullptr);
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

using K = ControlKind;

const ControlTemplate* FindControl(const DialogTemplate& t, int id)
{
    for (int i = 0; i < t.controlCount; ++i)
        if (t.controls[i].id == id) return &t.controls[i];
    return nullptr;
}

const DialogTemplate& RollupPage()
{
    const DialogTemplate* t = FindDialogTemplate(LibraryInstance(), kPanelDialog);
    if (!t) throw std::logic_error("no rollup page");
    return *t;
}

TEST(PluginResources, TheRollupPageIsAChildPageInItsFont)
{
    const DialogTemplate& t = RollupPage();
    EXPECT_EQ(t.id, 101);
    EXPECT_EQ(t.caption, nullptr);
    EXPECT_EQ(t.w, 108);
    EXPECT_EQ(t.h, 323);
    EXPECT_STREQ(t.font, "MS Sans Serif");
    EXPECT_EQ(t.pointSize, 8);
}

TEST(PluginResources, TheRollupPagesIdsAreUnique)
{
    const DialogTemplate& t = RollupPage();
    std::set<int> seen;
    for (int i = 0; i < t.controlCount; ++i) {
        const int id = t.controls[i].id;
        if (id == -1) continue;
        EXPECT_TRUE(seen.insert(id).second) << "id " << id << " twice";
    }
}

TEST(PluginResources, EveryControlThePanelNamesIsThereOfItsKind)
{
    const DialogTemplate& t = RollupPage();
    const auto expect = [&t](int id, K kind) {
        const ControlTemplate* c = FindControl(t, id);
        ASSERT_NE(c, nullptr) << "no control " << id;
        EXPECT_EQ(c->kind, kind) << "control " << id;
    };
    for (const SettingField& f : kSettingFields) {
        if (f.page != kPanelDialog) continue;
        SCOPED_TRACE(f.key);
        switch (f.kind) {
        case SettingKind::Choice:
            for (const AlgorithmButton& b : kAlgorithmButtons) expect(b.control, K::RadioButton);
            break;
        case SettingKind::Flag: expect(f.control, K::CheckBox); break;
        case SettingKind::Integer:
        case SettingKind::Float:
            expect(f.control, K::CustEdit);
            expect(f.spinner, K::Spinner);
            break;
        }
    }
    expect(kIdGenerate, K::PushButton);
    expect(kIdAbout, K::PushButton);
}

TEST(PluginResources, TheRollupPagesTexts)
{
    const DialogTemplate& t = RollupPage();
    // Captions of addressed controls, by the ids users have always known.
    const std::map<int, std::string> byId = {
        {1008, "UV Map"}, {1009, "Vertex Colors"}, {1010, "Spatial"},       {1002, "Selected Faces Only"},
        {1006, "On"},     {1007, "On"},            {1011, "Accumulate vertex colors"},
        {1001, "Generate"}, {1005, "About..."},
    };
    for (const auto& [id, caption] : byId) {
        const ControlTemplate* c = FindControl(t, id);
        ASSERT_NE(c, nullptr) << id;
        EXPECT_EQ(c->caption, caption) << id;
    }
    // The static texts and group boxes, in their order down the page.
    std::vector<std::string> labels;
    for (int i = 0; i < t.controlCount; ++i)
        if (t.controls[i].id == -1) labels.push_back(t.controls[i].caption);
    EXPECT_EQ(labels, (std::vector<std::string>{"Dunsmere BETA V0.25b", "Algorithm", "Distance :", "Ray Spread",
                                                "Vertical", "Horizontal :", "Map Size", "x", "Map Channel", "Noise",
                                                "Size", "Filter by Material ID", "ID"}));
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
                               "_Z16TheUtilityObjectv", "_Z12TheClassDescv", "_Z15LibraryInstancev",
                               "_Z18SetLibraryInstancePv", "_Z16LibraryResourcesv",
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

// A command panel for the library's page and its options page.
class LibraryHost : public ScriptedHost {
public:
    HWND AddRollupPage(HINSTANCE instance, int templateId, DLGPROC proc, const char*, LPARAM param, DWORD,
                       int) override
    {
        addedFrom = instance;
        const DialogTemplate* tmpl = FindDialogTemplate(instance, templateId);
        if (!tmpl) return nullptr;
        std::unique_ptr<DialogWindow>& slot = templateId == kOptionsDialog ? options : page;
        slot = std::make_unique<DialogWindow>(*tmpl, proc, instance);
        slot->Send(WM_INITDIALOG, 0, param);
        return slot.get();
    }
    void DeleteRollupPage(HWND hWnd) override
    {
        for (std::unique_ptr<DialogWindow>* slot : {&options, &page}) {
            if (!hWnd || hWnd != slot->get()) continue;
            (*slot)->Send(WM_DESTROY);
            slot->reset();
        }
    }
    std::unique_ptr<DialogWindow> page;
    std::unique_ptr<DialogWindow> options;
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
    EXPECT_NE(host.options, nullptr);
    EXPECT_EQ(OpenControlInterfaces(), interfaces + 16 + 10);  // the rollup page's and the options page's
    host.page->Click(kIdSpatial);
    host.page->Click(kIdGenerate);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_EQ(host.messages[0].text, kNotImplemented);
    host.page->Send(WM_MOUSEMOVE);  // the host's own handler: ignored here
    utility->EndEditParams(&host, &iutil);
    EXPECT_EQ(host.page, nullptr);
    EXPECT_EQ(host.options, nullptr);
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
