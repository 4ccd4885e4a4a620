// The utility's two rollup pages as a host shows them, for the tests that
// drive them: a command panel holding the rollup page and the options page,
// the fixture that opens and closes them with the settings in a scratch
// directory, and a recorder of every platform call the pages make.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "scratch_dir.h"
#include "scripted_host.h"
#include "ui/detail/platform.h"
#include "ui/panel.h"
#include "ui/ui.h"
#include "ui/utility.h"

namespace dunsmere {

namespace panel_pages {

namespace fs = std::filesystem;

struct RollupRequest {
    HINSTANCE instance;
    int templateId;
    DLGPROC proc;
    std::string title;
    LPARAM param;
    DWORD flags;
    int category;
    // What the utility held while the page was being added.
    Interface* storedIp;
    IUtil* storedIu;
};

struct MouseRecord {
    HWND page;
    UINT msg;
    WPARAM w;
    LPARAM l;
    bool operator==(const MouseRecord&) const = default;
};

// A command panel with room for the rollup page and the options page.
class PanelHost : public ScriptedHost {
public:
    HWND AddRollupPage(HINSTANCE instance, int templateId, DLGPROC proc, const char* title, LPARAM param,
                       DWORD flags, int category) override
    {
        added.push_back({instance, templateId, proc, title ? title : "(null)", param, flags, category,
                         TheUtility().ip, TheUtility().iu});
        const DialogTemplate* tmpl = FindDialogTemplate(instance, templateId);
        if (!tmpl) return nullptr;
        const bool second = templateId == kOptionsDialog;
        std::unique_ptr<DialogWindow>& slot = second ? options : page;
        slot = std::make_unique<DialogWindow>(*tmpl, proc, instance);
        (second ? optionsInitResult : initResult) = slot->Send(WM_INITDIALOG, 0, param);
        return slot.get();
    }
    void DeleteRollupPage(HWND hWnd) override
    {
        deleted.push_back(hWnd);
        ipWhileDeleting = TheUtility().ip;
        if (!hWnd) return;
        if (hWnd == page.get()) {
            destroyResult = page->Send(WM_DESTROY);
            page.reset();
        } else if (hWnd == options.get()) {
            optionsDestroyResult = options->Send(WM_DESTROY);
            options.reset();
        }
    }
    void RollupMouseMessage(HWND hWnd, UINT msg, WPARAM w, LPARAM l) override
    {
        if (throwOnMouse) throw std::runtime_error("host failure");
        mouse.push_back({hWnd, msg, w, l});
    }

    std::unique_ptr<DialogWindow> page;     // template 101
    std::unique_ptr<DialogWindow> options;  // template 103
    std::vector<RollupRequest> added;
    std::vector<HWND> deleted;
    std::vector<MouseRecord> mouse;
    Interface* ipWhileDeleting = nullptr;
    INT_PTR initResult = -1, destroyResult = -1;
    INT_PTR optionsInitResult = -1, optionsDestroyResult = -1;
    bool throwOnMouse = false;
};

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = scratch.path();
        host.configDir = dir.string();
        // The page is closed after end editing has cleared the stored
        // interface: its save then finds the host through the core interface.
        SetCOREInterface(&host);
        DunsmereUtility& u = TheUtility();
        u.settings = UtilitySettings{};
        u.ip = nullptr;
        u.iu = nullptr;
        u.hPanel = nullptr;
        interfacesBefore = OpenControlInterfaces();
    }
    void TearDown() override
    {
        if (host.page) Close();
        SetWindowSystem(nullptr);
        SetCOREInterface(nullptr);
    }

    DunsmereUtility& U() { return TheUtility(); }
    HWND Open()
    {
        U().BeginEditParams(&host, &iutil);
        return host.page.get();
    }
    void Close() { U().EndEditParams(&host, &iutil); }

    DialogWindow& Page() { return *host.page; }
    DialogControl& Ctl(int id)
    {
        DialogControl* c = host.page ? host.page->Control(id) : nullptr;
        if (!c) throw std::logic_error("no control " + std::to_string(id));
        return *c;
    }
    bool Enabled(int id) { return Ctl(id).enabled; }
    bool Checked(int id) { return Ctl(id).checked; }
    std::string Text(int id) { return Ctl(id).text; }
    void Type(int id, const std::string& text) { Ctl(id).text = text; }
    INT_PTR Command(int id) { return Page().Send(WM_COMMAND, MAKEWPARAM(id, 0), 0); }

    fs::path File() const { return dir / "Dunsmere.ini"; }
    void Write(const std::string& text) const { std::ofstream(File(), std::ios::binary) << text; }
    // The file's keys and value texts.
    std::map<std::string, std::string> Saved() const
    {
        std::map<std::string, std::string> keys;
        std::ifstream in(File());
        std::string line;
        while (std::getline(in, line)) {
            const size_t eq = line.find('=');
            if (eq != std::string::npos) keys[line.substr(0, eq)] = line.substr(eq + 1);
        }
        return keys;
    }

    ScratchDir scratch;
    fs::path dir;
    PanelHost host;
    IUtil iutil;
    int interfacesBefore = 0;
};


// Plays the platform under the panel and the settings file: writes down each
// call with its ids, keys and values (a read with what it read), then makes
// it. Interfaces are written as the id of their control, "-" for none.
class CallRecorder : public detail::SettingsPlatform {
public:
    CallRecorder() : previous_(detail::SetPlatform(this)) {}
    ~CallRecorder() override { detail::SetPlatform(previous_); }
    CallRecorder(const CallRecorder&) = delete;
    CallRecorder& operator=(const CallRecorder&) = delete;

    std::vector<std::string> Take() { return std::exchange(calls_, {}); }
    std::vector<std::string> paths;

    int ReadInt(const char* section, const char* key, int defaultValue, const char* path) override
    {
        const int v = SettingsPlatform::ReadInt(section, key, defaultValue, path);
        paths.push_back(path);
        Log("ReadInt", section, key, defaultValue, "->", v);
        return v;
    }
    void ReadText(const char* section, const char* key, const char* defaultText, char* buffer, int size,
                  const char* path) override
    {
        SettingsPlatform::ReadText(section, key, defaultText, buffer, size, path);
        paths.push_back(path);
        Log("ReadText", section, key, defaultText, size, "->", buffer);
    }
    bool WriteKeys(const char* section, const ProfileEntries& entries, const char* path) override
    {
        paths.push_back(path);
        for (const auto& [key, value] : entries) Log("Write", section, key, value ? *value : std::string("(deleted)"));
        return SettingsPlatform::WriteKeys(section, entries, path);
    }
    ICustEdit* GetEdit(HWND page, int id) override
    {
        Log("GetEdit", id);
        return Named(SettingsPlatform::GetEdit(page, id), id);
    }
    ISpinnerControl* SetupIntSpinner(HWND page, int spinner, int edit, int min, int max, int value) override
    {
        Log("SetupIntSpinner", spinner, edit, min, max, value);
        return Named(SettingsPlatform::SetupIntSpinner(page, spinner, edit, min, max, value), spinner);
    }
    ISpinnerControl* SetupFloatSpinner(HWND page, int spinner, int edit, float min, float max, float value,
                                       float scale) override
    {
        Log("SetupFloatSpinner", spinner, edit, min, max, value, scale);
        return Named(SettingsPlatform::SetupFloatSpinner(page, spinner, edit, min, max, value, scale), spinner);
    }
    void ReleaseEdit(ICustEdit* edit) override
    {
        Log("ReleaseEdit", Id(edit));
        SettingsPlatform::ReleaseEdit(edit);
    }
    void ReleaseSpinner(ISpinnerControl* spinner) override
    {
        Log("ReleaseSpinner", Id(spinner));
        SettingsPlatform::ReleaseSpinner(spinner);
    }
    void SetSpinner(ISpinnerControl* spinner, int value) override
    {
        Log("SetSpinnerInt", Id(spinner), value);
        SettingsPlatform::SetSpinner(spinner, value);
    }
    void SetSpinner(ISpinnerControl* spinner, float value) override
    {
        Log("SetSpinnerFloat", Id(spinner), value);
        SettingsPlatform::SetSpinner(spinner, value);
    }
    int EditInt(ICustEdit* edit) override
    {
        const int v = SettingsPlatform::EditInt(edit);
        Log("EditInt", Id(edit), "->", v);
        return v;
    }
    float EditFloat(ICustEdit* edit) override
    {
        const float v = SettingsPlatform::EditFloat(edit);
        Log("EditFloat", Id(edit), "->", v);
        return v;
    }
    void CheckRadio(HWND page, int first, int last, int id) override
    {
        Log("CheckRadio", first, last, id);
        SettingsPlatform::CheckRadio(page, first, last, id);
    }
    void CheckButton(HWND page, int id, UINT state) override
    {
        Log("CheckButton", id, state);
        SettingsPlatform::CheckButton(page, id, state);
    }
    UINT ButtonState(HWND page, int id) override
    {
        const UINT state = SettingsPlatform::ButtonState(page, id);
        Log("ButtonState", id, "->", state);
        return state;
    }
    void Enable(HWND page, int id, BOOL on) override
    {
        Log("Enable", id, on);
        SettingsPlatform::Enable(page, id, on);
    }

private:
    template <typename... T>
    void Log(const T&... parts)
    {
        std::ostringstream line;
        ((line << parts << ' '), ...);
        std::string text = line.str();
        text.pop_back();
        calls_.push_back(std::move(text));
    }
    template <typename P>
    P* Named(P* p, int id)
    {
        if (p) ids_[p] = id;
        return p;
    }
    std::string Id(const void* p) const
    {
        const auto it = ids_.find(p);
        return !p ? "-" : it == ids_.end() ? "?" : std::to_string(it->second);
    }

    std::vector<std::string> calls_;
    std::map<const void*, int> ids_;
    detail::SettingsPlatform* previous_;
};

using Calls = std::vector<std::string>;

inline Calls Join(std::initializer_list<Calls> parts)
{
    Calls all;
    for (const Calls& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// The options page at the defaults, under "UV Map": its opening after the
// rollup page's (a release of what it does not hold yet, the look-ups, the
// spinners, the showing, the enabling) and its closing before it.
const Calls kOptionsOpenCalls = {
    "ReleaseEdit -",
    "ReleaseSpinner -",
    "ReleaseEdit -",
    "ReleaseSpinner -",
    "ReleaseEdit -",
    "ReleaseSpinner -",
    "ReleaseEdit -",
    "ReleaseSpinner -",
    "ReleaseEdit -",
    "ReleaseSpinner -",
    "GetEdit 1510",
    "GetEdit 1512",
    "GetEdit 1518",
    "GetEdit 1521",
    "GetEdit 1523",
    "SetupIntSpinner 1511 1510 0 64 1",
    "SetupIntSpinner 1513 1512 1 8 1",
    "SetupFloatSpinner 1519 1518 0 1 0 0.001",
    "SetupFloatSpinner 1522 1521 0 1 0.02 0.001",
    "SetupFloatSpinner 1524 1523 0 1 0.02 0.001",
    "SetSpinnerInt 1511 1",
    "SetSpinnerInt 1513 1",
    "CheckButton 1514 0",
    "CheckButton 1515 0",
    "CheckButton 1516 0",
    "CheckButton 1517 0",
    "SetSpinnerFloat 1519 0",
    "CheckButton 1520 0",
    "SetSpinnerFloat 1522 0.02",
    "SetSpinnerFloat 1524 0.02",
};
const Calls kOptionsDisableAll = {"Enable 1510 0", "Enable 1511 0", "Enable 1512 0", "Enable 1513 0",
                                  "Enable 1514 0", "Enable 1515 0", "Enable 1516 0", "Enable 1517 0",
                                  "Enable 1518 0", "Enable 1519 0", "Enable 1520 0", "Enable 1521 0",
                                  "Enable 1522 0", "Enable 1523 0", "Enable 1524 0"};
const Calls kOptionsEnableUVMap = {"Enable 1510 1", "Enable 1511 1", "Enable 1512 1", "Enable 1513 1",
                                   "Enable 1514 1", "Enable 1515 1", "Enable 1516 1", "Enable 1517 1",
                                   "Enable 1518 1", "Enable 1519 1", "Enable 1520 1", "Enable 1521 1",
                                   "Enable 1522 1", "Enable 1523 1", "Enable 1524 1"};
const Calls kOptionsEnableVertexColors = {"Enable 1516 1", "Enable 1517 1", "Enable 1518 1", "Enable 1519 1",
                                          "Enable 1520 1", "Enable 1521 1", "Enable 1522 1", "Enable 1523 1",
                                          "Enable 1524 1"};
const Calls kOptionsCloseCalls = {
    "EditInt 1510 -> 1",       "EditInt 1512 -> 1",   "ButtonState 1514 -> 0", "ButtonState 1515 -> 0",
    "ButtonState 1516 -> 0",   "ButtonState 1517 -> 0", "EditFloat 1518 -> 0", "ButtonState 1520 -> 0",
    "EditFloat 1521 -> 0.02",  "EditFloat 1523 -> 0.02", "ReleaseEdit 1510",    "ReleaseSpinner 1511",
    "ReleaseEdit 1512",        "ReleaseSpinner 1513",   "ReleaseEdit 1518",    "ReleaseSpinner 1519",
    "ReleaseEdit 1521",        "ReleaseSpinner 1522",   "ReleaseEdit 1523",    "ReleaseSpinner 1524",
};


}  // namespace panel_pages

}  // namespace dunsmere
