// The in-memory window layer: dialogs built from templates, their controls,
// and the platform functions the plug-in calls on them. Lives in the shared
// host runtime so that the plug-in and the host share one registry of
// resources and one window system.
#include "host/dialog.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "host/core.h"
#include "host/numbers.h"

namespace {

std::mutex gResourceMutex;
std::map<HINSTANCE, const ResourceTable*>& Resources()
{
    static std::map<HINSTANCE, const ResourceTable*> table;
    return table;
}
std::atomic<WindowSystem*> gWindowSystem{nullptr};
std::atomic<int> gCommonControls{0};
std::atomic<int> gOpenInterfaces{0};

class Edit final : public ICustEdit {
public:
    Edit(DialogWindow& dlg, int id) : dlg_(dlg), id_(id) {}
    int GetInt(BOOL* valid) override
    {
        bool ok = false;
        const int v = EditTextToInt(Text(), &ok);
        if (valid) *valid = ok ? TRUE : FALSE;
        return v;
    }
    float GetFloat(BOOL* valid) override
    {
        bool ok = false;
        const float v = EditTextToFloat(Text(), &ok);
        if (valid) *valid = ok ? TRUE : FALSE;
        return v;
    }
    void GetText(char* buffer, int size) override
    {
        if (!buffer || size <= 0) return;
        const std::string t = Text();
        const size_t n = std::min(t.size(), static_cast<size_t>(size - 1));
        std::memcpy(buffer, t.data(), n);
        buffer[n] = '\0';
    }
    void SetText(const char* text) override { Set(text ? text : ""); }
    void SetText(int value) override { Set(std::to_string(value)); }
    void SetText(float value) override { Set(ShortestFloatText(value)); }

private:
    std::string Text()
    {
        DialogControl* c = dlg_.Control(id_);
        return c ? c->text : std::string();
    }
    void Set(std::string text)
    {
        if (DialogControl* c = dlg_.Control(id_)) c->text = std::move(text);
    }
    DialogWindow& dlg_;
    int id_;
};

class Spinner final : public ISpinnerControl {
public:
    Spinner(DialogWindow& dlg, int id) : dlg_(dlg), id_(id) {}
    void SetValue(int value, BOOL) override
    {
        DialogControl* c = dlg_.Control(id_);
        if (!c) return;
        if (c->isFloat) return SetValue(static_cast<float>(value), FALSE);
        c->ival = std::clamp(value, c->imin, c->imax);
        if (DialogControl* e = dlg_.Control(c->linkedEdit)) e->text = std::to_string(c->ival);
    }
    void SetValue(float value, BOOL) override
    {
        DialogControl* c = dlg_.Control(id_);
        if (!c) return;
        if (!c->isFloat) return SetValue(static_cast<int>(std::lround(value)), FALSE);
        if (std::isnan(value)) value = c->fmin;
        c->fval = std::clamp(value, c->fmin, c->fmax);
        if (DialogControl* e = dlg_.Control(c->linkedEdit)) e->text = ShortestFloatText(c->fval);
    }
    int GetIVal() override
    {
        DialogControl* c = dlg_.Control(id_);
        return c ? (c->isFloat ? static_cast<int>(c->fval) : c->ival) : 0;
    }
    float GetFVal() override
    {
        DialogControl* c = dlg_.Control(id_);
        return c ? (c->isFloat ? c->fval : static_cast<float>(c->ival)) : 0.0f;
    }
    void SetLimits(int min, int max, BOOL limitCurrent) override
    {
        if (DialogControl* c = dlg_.Control(id_)) {
            c->isFloat = false;
            c->imin = min;
            c->imax = max;
            if (limitCurrent) SetValue(c->ival, FALSE);
        }
    }
    void SetLimits(float min, float max, BOOL limitCurrent) override
    {
        if (DialogControl* c = dlg_.Control(id_)) {
            c->isFloat = true;
            c->fmin = min;
            c->fmax = max;
            if (limitCurrent) SetValue(c->fval, FALSE);
        }
    }
    void SetScale(float scale) override
    {
        if (DialogControl* c = dlg_.Control(id_)) c->scale = scale;
    }
    void LinkToEdit(HWND edit, int) override
    {
        if (DialogControl* c = dlg_.Control(id_)) c->linkedEdit = edit ? edit->ControlId() : -1;
    }

private:
    DialogWindow& dlg_;
    int id_;
};

DialogWindow* DialogOf(HWND w) { return w && w->Parent() ? w->Parent() : w; }

}  // namespace

// ---- Resources -----------------------------------------------------------

void RegisterResources(HINSTANCE instance, const ResourceTable* table)
{
    std::lock_guard<std::mutex> lock(gResourceMutex);
    if (table) Resources()[instance] = table;
    else Resources().erase(instance);
}

const DialogTemplate* FindDialogTemplate(HINSTANCE instance, int id)
{
    std::lock_guard<std::mutex> lock(gResourceMutex);
    const auto it = Resources().find(instance);
    if (it == Resources().end()) return nullptr;
    for (int i = 0; i < it->second->dialogCount; ++i)
        if (it->second->dialogs[i].id == id) return &it->second->dialogs[i];
    return nullptr;
}

int LoadStringA(HINSTANCE instance, int id, char* buffer, int size)
{
    if (!buffer || size <= 0) return 0;
    buffer[0] = '\0';
    std::lock_guard<std::mutex> lock(gResourceMutex);
    const auto it = Resources().find(instance);
    if (it == Resources().end()) return 0;
    for (int i = 0; i < it->second->stringCount; ++i) {
        const StringResource& s = it->second->strings[i];
        if (s.id != id || !s.text) continue;
        const size_t n = std::min(std::strlen(s.text), static_cast<size_t>(size - 1));
        std::memcpy(buffer, s.text, n);
        buffer[n] = '\0';
        return static_cast<int>(n);
    }
    return 0;
}

// ---- Windows -------------------------------------------------------------

DialogWindow::DialogWindow(const DialogTemplate& tmpl, DLGPROC proc, HINSTANCE instance)
    : tmpl_(tmpl), proc_(proc), instance_(instance)
{
    for (int i = 0; i < tmpl.controlCount; ++i) {
        DialogControl c;
        c.tmpl = tmpl.controls[i];
        controls_.push_back(c);
    }
}

DialogWindow::DialogWindow(DialogWindow* parent, int controlId) : parent_(parent), controlId_(controlId) {}

DialogWindow::~DialogWindow() = default;

INT_PTR DialogWindow::Send(UINT message, WPARAM w, LPARAM l) { return proc_ ? proc_(this, message, w, l) : 0; }

INT_PTR DialogWindow::Click(int id)
{
    DialogControl* c = Control(id);
    if (!c || !c->enabled) return 0;
    if (c->tmpl.kind == ControlKind::CheckBox) c->checked = !c->checked;
    if (c->tmpl.kind == ControlKind::RadioButton) {
        // An automatic radio button checks itself and clears its group: the
        // run of radio buttons around it in template order.
        size_t at = static_cast<size_t>(c - controls_.data());
        size_t first = at, last = at;
        while (first > 0 && controls_[first - 1].tmpl.kind == ControlKind::RadioButton) --first;
        while (last + 1 < controls_.size() && controls_[last + 1].tmpl.kind == ControlKind::RadioButton) ++last;
        for (size_t i = first; i <= last; ++i) controls_[i].checked = i == at;
    }
    return Send(WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

DialogControl* DialogWindow::Control(int id)
{
    if (id < 0) return nullptr;
    for (DialogControl& c : controls_)
        if (c.tmpl.id == id) return &c;
    return nullptr;
}

HWND DialogWindow::Item(int id)
{
    if (!Control(id)) return nullptr;
    for (auto& item : items_)
        if (item->controlId_ == id) return item.get();
    items_.push_back(std::unique_ptr<DialogWindow>(new DialogWindow(this, id)));
    return items_.back().get();
}

void SetWindowSystem(WindowSystem* system) { gWindowSystem.store(system); }

// ---- Platform functions --------------------------------------------------

BOOL CheckRadioButton(HWND dialog, int first, int last, int check)
{
    DialogWindow* d = DialogOf(dialog);
    if (!d) return FALSE;
    for (DialogControl& c : d->Controls())
        if (c.tmpl.id >= first && c.tmpl.id <= last) c.checked = c.tmpl.id == check;
    return TRUE;
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check)
{
    DialogWindow* d = DialogOf(dialog);
    DialogControl* c = d ? d->Control(id) : nullptr;
    if (!c) return FALSE;
    c->checked = check == BST_CHECKED;
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id)
{
    DialogWindow* d = DialogOf(dialog);
    DialogControl* c = d ? d->Control(id) : nullptr;
    return c && c->checked ? BST_CHECKED : BST_UNCHECKED;
}

HWND GetDlgItem(HWND dialog, int id)
{
    DialogWindow* d = DialogOf(dialog);
    return d ? d->Item(id) : nullptr;
}

BOOL EnableWindow(HWND control, BOOL enable)
{
    if (!control || !control->Parent()) return FALSE;
    DialogControl* c = control->Parent()->Control(control->ControlId());
    if (!c) return FALSE;
    const bool wasDisabled = !c->enabled;
    c->enabled = enable != FALSE;
    return wasDisabled ? TRUE : FALSE;
}

INT_PTR DialogBoxParamA(HINSTANCE instance, int templateId, HWND, DLGPROC proc, LPARAM param)
{
    const DialogTemplate* tmpl = FindDialogTemplate(instance, templateId);
    if (!tmpl) return -1;
    DialogWindow dialog(*tmpl, proc, instance);
    dialog.Send(WM_INITDIALOG, 0, param);
    if (dialog.Ended()) return dialog.Result();
    if (WindowSystem* system = gWindowSystem.load()) return system->RunModal(dialog);
    dialog.Send(WM_COMMAND, MAKEWPARAM(IDOK, 0), 0);
    return dialog.Result();
}

BOOL EndDialog(HWND dialog, INT_PTR result)
{
    DialogWindow* d = DialogOf(dialog);
    if (!d) return FALSE;
    d->End(result);
    return TRUE;
}

HWND GetActiveWindow()
{
    WindowSystem* system = gWindowSystem.load();
    return system ? system->ActiveWindow() : nullptr;
}

void CenterWindow(HWND, void*) {}

void InitCommonControls() { gCommonControls.fetch_add(1); }
int CommonControlsInitCount() { return gCommonControls.load(); }

int MessageBoxA(HWND, const char* text, const char* caption, UINT type)
{
    Interface* core = GetCOREInterface();
    return core ? core->MessageBox(text, caption, type) : IDOK;
}

ICustEdit* GetICustEdit(HWND control)
{
    if (!control || !control->Parent()) return nullptr;
    gOpenInterfaces.fetch_add(1);
    return new Edit(*control->Parent(), control->ControlId());
}

void ReleaseICustEdit(ICustEdit* edit)
{
    if (!edit) return;
    gOpenInterfaces.fetch_sub(1);
    delete edit;
}

namespace {
ISpinnerControl* SetupSpinner(HWND dialog, int spinId, int editId)
{
    DialogWindow* d = DialogOf(dialog);
    if (!d || !d->Control(spinId)) return nullptr;
    gOpenInterfaces.fetch_add(1);
    auto* s = new Spinner(*d, spinId);
    s->LinkToEdit(d->Item(editId), EDITTYPE_INT);
    return s;
}
}  // namespace

ISpinnerControl* SetupIntSpinner(HWND dialog, int spinId, int editId, int min, int max, int value)
{
    ISpinnerControl* s = SetupSpinner(dialog, spinId, editId);
    if (!s) return nullptr;
    s->SetLimits(min, max, FALSE);
    s->SetValue(value, FALSE);
    return s;
}

ISpinnerControl* SetupFloatSpinner(HWND dialog, int spinId, int editId, float min, float max, float value,
                                   float scale)
{
    ISpinnerControl* s = SetupSpinner(dialog, spinId, editId);
    if (!s) return nullptr;
    s->SetLimits(min, max, FALSE);
    s->SetScale(scale);
    s->SetValue(value, FALSE);
    return s;
}

void ReleaseISpinner(ISpinnerControl* spinner)
{
    if (!spinner) return;
    gOpenInterfaces.fetch_sub(1);
    delete spinner;
}

int OpenControlInterfaces() { return gOpenInterfaces.load(); }

// ---- Edit text -----------------------------------------------------------

std::string ShortestFloatText(float value)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, value);
    return r.ec == std::errc{} ? std::string(buf, r.ptr) : std::string("0");
}

int EditTextToInt(const std::string& text, bool* valid)
{
    size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long v = 0;
    const size_t digits = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        v = std::min<long long>(v * 10 + (text[i++] - '0'), static_cast<long long>(INT_MAX) + 1);
    }
    if (valid) *valid = i > digits;
    if (negative) v = -v;
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

float EditTextToFloat(const std::string& text, bool* valid)
{
    const char* begin = text.c_str();
    const char* end = begin;
    const float v = ParseFloatC(begin, &end);
    if (valid) *valid = end != begin;
    return v;
}
