// The host's window layer as the plug-in's panel uses it: dialog templates
// and strings as library resources, dialog procedures and messages, check
// and radio buttons, enable and disable, the custom edit controls and
// spinners, modal dialog boxes and message boxes.
//
// Windows are in-memory DialogWindow objects built from a template; a host
// (the standalone command, a test) creates them, sends them messages and
// decides what a "user" does in a modal dialog through its WindowSystem.
// User-interface thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/runtime.h"

class DialogWindow;
using HWND = DialogWindow*;
using HINSTANCE = void*;
using UINT = unsigned;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using INT_PTR = std::intptr_t;
using BOOL = int;
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_MOUSEMOVE = 0x0200;
inline constexpr UINT WM_LBUTTONDOWN = 0x0201;
inline constexpr UINT WM_LBUTTONUP = 0x0202;
inline constexpr int IDCANCEL = 2;
inline constexpr UINT BST_UNCHECKED = 0;
inline constexpr UINT BST_CHECKED = 1;

constexpr int LOWORD(WPARAM w) { return static_cast<int>(w & 0xFFFFu); }
constexpr WPARAM MAKEWPARAM(int lo, int hi)
{
    return (static_cast<WPARAM>(lo) & 0xFFFFu) | ((static_cast<WPARAM>(hi) & 0xFFFFu) << 16);
}

// ---- Resources ---------------------------------------------------------

enum class ControlKind { Text, CentredText, GroupBox, RadioButton, CheckBox, PushButton, DefPushButton, CustEdit, Spinner, Picture };

struct ControlTemplate {
    int id;  // -1 for controls nobody addresses
    ControlKind kind;
    const char* caption;
    short x, y, w, h;  // dialog units
};

struct DialogTemplate {
    int id;
    const char* caption;  // null for a child page
    short w, h;
    const char* font;
    int pointSize;
    const ControlTemplate* controls;
    int controlCount;
};

struct StringResource {
    int id;
    const char* text;
};

// What a library carries as resources; the host finds it by the library's
// instance handle.
struct ResourceTable {
    const DialogTemplate* dialogs;
    int dialogCount;
    const StringResource* strings;
    int stringCount;
};

DUNSMERE_HOST_API void RegisterResources(HINSTANCE instance, const ResourceTable* table);
DUNSMERE_HOST_API const DialogTemplate* FindDialogTemplate(HINSTANCE instance, int id);
// Copies string `id` of the library into buffer (at most size - 1
// characters, terminated); returns the characters copied, 0 when missing.
DUNSMERE_HOST_API int LoadStringA(HINSTANCE instance, int id, char* buffer, int size);

// ---- Custom controls ---------------------------------------------------

class ICustEdit {
public:
    virtual ~ICustEdit() = default;
    // The text read as a number; `valid` (optional) tells whether it was one.
    virtual int GetInt(BOOL* valid = nullptr) = 0;
    virtual float GetFloat(BOOL* valid = nullptr) = 0;
    virtual void GetText(char* buffer, int size) = 0;
    virtual void SetText(const char* text) = 0;
    virtual void SetText(int value) = 0;
    // The shortest text that reads back as the same float.
    virtual void SetText(float value) = 0;
};

class ISpinnerControl {
public:
    virtual ~ISpinnerControl() = default;
    // Clamped to the limits; the linked edit control shows the value.
    virtual void SetValue(int value, BOOL notify) = 0;
    virtual void SetValue(float value, BOOL notify) = 0;
    virtual int GetIVal() = 0;
    virtual float GetFVal() = 0;
    virtual void SetLimits(int min, int max, BOOL limitCurrent = TRUE) = 0;
    virtual void SetLimits(float min, float max, BOOL limitCurrent = TRUE) = 0;
    virtual void SetScale(float scale) = 0;
    virtual void LinkToEdit(HWND edit, int type) = 0;
};

inline constexpr int EDITTYPE_INT = 1;
inline constexpr int EDITTYPE_FLOAT = 2;

// ---- Windows -------------------------------------------------------------

// One control of a dialog window, as the host keeps it.
struct DialogControl {
    ControlTemplate tmpl;
    bool checked = false;
    bool enabled = true;
    std::string text;  // edit controls
    // Spinners.
    bool isFloat = false;
    float fmin = 0.0f, fmax = 0.0f, fval = 0.0f, scale = 1.0f;
    int imin = 0, imax = 0, ival = 0;
    int linkedEdit = -1;
};

class DUNSMERE_HOST_API DialogWindow {
public:
    DialogWindow(const DialogTemplate& tmpl, DLGPROC proc, HINSTANCE instance);
    virtual ~DialogWindow();
    DialogWindow(const DialogWindow&) = delete;
    DialogWindow& operator=(const DialogWindow&) = delete;

    const DialogTemplate& Template() const { return tmpl_; }
    HINSTANCE Instance() const { return instance_; }
    INT_PTR Send(UINT message, WPARAM w = 0, LPARAM l = 0);
    // A click on a control, as the user makes it: radio buttons and check
    // boxes move their own marks, then the dialog gets the command.
    INT_PTR Click(int id);

    // Controls in template order; null for an id the dialog lacks.
    std::vector<DialogControl>& Controls() { return controls_; }
    DialogControl* Control(int id);
    // The window standing for control `id` (GetDlgItem); null when missing.
    HWND Item(int id);
    int ControlId() const { return controlId_; }
    DialogWindow* Parent() const { return parent_; }

    // Modal dialogs: ended by EndDialog.
    bool Ended() const { return ended_; }
    INT_PTR Result() const { return result_; }
    void End(INT_PTR result) { ended_ = true; result_ = result; }

private:
    DialogWindow(DialogWindow* parent, int controlId);  // a control's own window

    DialogTemplate tmpl_{};
    DLGPROC proc_ = nullptr;
    HINSTANCE instance_ = nullptr;
    std::vector<DialogControl> controls_;
    std::vector<std::unique_ptr<DialogWindow>> items_;
    DialogWindow* parent_ = nullptr;
    int controlId_ = -1;
    bool ended_ = false;
    INT_PTR result_ = 0;
};

// What the host does with modal dialog boxes and which window is active.
class WindowSystem {
public:
    virtual ~WindowSystem() = default;
    // Runs a modal dialog whose WM_INITDIALOG has been sent, until it ends;
    // the host plays the user. Returns the dialog's result.
    virtual INT_PTR RunModal(DialogWindow& dialog) = 0;
    virtual HWND ActiveWindow() { return nullptr; }
};

// Without a window system, a modal dialog is answered with "OK" at once.
DUNSMERE_HOST_API void SetWindowSystem(WindowSystem* system);

// ---- The platform's dialog functions --------------------------------------

DUNSMERE_HOST_API BOOL CheckRadioButton(HWND dialog, int first, int last, int check);
DUNSMERE_HOST_API BOOL CheckDlgButton(HWND dialog, int id, UINT check);
DUNSMERE_HOST_API UINT IsDlgButtonChecked(HWND dialog, int id);
DUNSMERE_HOST_API HWND GetDlgItem(HWND dialog, int id);
DUNSMERE_HOST_API BOOL EnableWindow(HWND control, BOOL enable);
DUNSMERE_HOST_API INT_PTR DialogBoxParamA(HINSTANCE instance, int templateId, HWND parent, DLGPROC proc, LPARAM param);
DUNSMERE_HOST_API BOOL EndDialog(HWND dialog, INT_PTR result);
DUNSMERE_HOST_API HWND GetActiveWindow();
DUNSMERE_HOST_API void CenterWindow(HWND window, void* parent);
DUNSMERE_HOST_API void InitCommonControls();
DUNSMERE_HOST_API int CommonControlsInitCount();
// A message box through the host's core interface; IDOK when there is none.
DUNSMERE_HOST_API int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

DUNSMERE_HOST_API ICustEdit* GetICustEdit(HWND control);
DUNSMERE_HOST_API void ReleaseICustEdit(ICustEdit* edit);
DUNSMERE_HOST_API ISpinnerControl* SetupIntSpinner(HWND dialog, int spinId, int editId, int min, int max, int value);
DUNSMERE_HOST_API ISpinnerControl* SetupFloatSpinner(HWND dialog, int spinId, int editId, float min, float max,
                                                     float value, float scale = 0.1f);
DUNSMERE_HOST_API void ReleaseISpinner(ISpinnerControl* spinner);
// Interfaces handed out and not yet released (for checks by hosts and tests).
DUNSMERE_HOST_API int OpenControlInterfaces();

// Text <-> number the way edit controls do it, in the C locale.
DUNSMERE_HOST_API std::string ShortestFloatText(float value);
DUNSMERE_HOST_API int EditTextToInt(const std::string& text, bool* valid);
DUNSMERE_HOST_API float EditTextToFloat(const std::string& text, bool* valid);
