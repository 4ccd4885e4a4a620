// The rollup page and the options page: opening and closing them, the
// settings shown in and read back from their controls, the controls each
// algorithm uses, and their commands. Every control operation goes through
// detail::Platform(), in the orders of the settings table, page by page.
#include "ui/panel.h"

#include <type_traits>

#include "eval/eval.h"
#include "host/core.h"
#include "host/export_guard.h"
#include "ui/detail/platform.h"
#include "ui/ui.h"
#include "ui/utility.h"

namespace dunsmere {

using detail::Platform;

namespace {

using Edits = std::array<ICustEdit*, kSettingCount>;
using Spinners = std::array<ISpinnerControl*, kSettingCount>;

template <int Page>
void LookUpControls(HWND hWnd, Edits& edits, Spinners& spinners)
{
    for (const int i : PageSteps<Page>::lookup) edits[i] = Platform().GetEdit(hWnd, kSettingFields[i].control);

    // The initial values are placeholders: the showing replaces them.
    for (const int i : PageSteps<Page>::spinnerSetup) {
        const SettingField& f = kSettingFields[i];
        spinners[i] = f.kind == SettingKind::Float
                          ? Platform().SetupFloatSpinner(hWnd, f.spinner, f.control, static_cast<float>(f.min),
                                                         static_cast<float>(f.max),
                                                         static_cast<float>(f.spinnerInitial),
                                                         static_cast<float>(f.spinnerScale))
                          : Platform().SetupIntSpinner(hWnd, f.spinner, f.control, static_cast<int>(f.min),
                                                       static_cast<int>(f.max), static_cast<int>(f.spinnerInitial));
    }
}

template <int Page>
void ReleasePage(Edits& edits, Spinners& spinners)
{
    // Pair by pair, the edit control before its spinner.
    for (const int i : PageSteps<Page>::release) {
        Platform().ReleaseEdit(edits[i]);
        edits[i] = nullptr;
        Platform().ReleaseSpinner(spinners[i]);
        spinners[i] = nullptr;
    }
}

template <int Page>
void Show(HWND hWnd, UtilitySettings& settings, const Spinners& spinners)
{
    for (const int i : PageSteps<Page>::show) {
        const SettingField& f = kSettingFields[i];
        ISpinnerControl* spin = spinners[i];
        switch (f.kind) {
        case SettingKind::Choice: {
            std::int32_t& value = settings.*f.integer;
            if (AlgorithmIndex(value) < 0) value = kAlgorithmButtons[0].code;
            Platform().CheckRadio(hWnd, kAlgorithmButtons[0].control, kAlgorithmButtons[kAlgorithmCount - 1].control,
                                  kAlgorithmButtons[AlgorithmIndex(value)].control);
            break;
        }
        case SettingKind::Flag:
            Platform().CheckButton(hWnd, f.control, settings.*f.integer ? BST_CHECKED : BST_UNCHECKED);
            break;
        // The page's interfaces are null only when its template lacks a
        // control; the field then keeps its value rather than the panel
        // failing.
        case SettingKind::Integer:
            if (spin) Platform().SetSpinner(spin, static_cast<int>(settings.*f.integer));
            break;
        case SettingKind::Float:
            if (spin) Platform().SetSpinner(spin, settings.*f.real);
            break;
        }
    }
}

template <int Page>
void ReadBack(HWND hWnd, UtilitySettings& settings, const Edits& edits)
{
    // The edit controls' text as it stands, valid or not: the spinners may
    // not have seen what the user typed.
    for (const int i : PageSteps<Page>::readBack) {
        const SettingField& f = kSettingFields[i];
        ICustEdit* edit = edits[i];
        switch (f.kind) {
        case SettingKind::Choice: {
            // The first checked button's code, else the first code.
            int value = kAlgorithmButtons[0].code;
            for (const AlgorithmButton& b : kAlgorithmButtons)
                if (Platform().ButtonState(hWnd, b.control) == BST_CHECKED) {
                    value = b.code;
                    break;
                }
            settings.*f.integer = value;
            break;
        }
        case SettingKind::Flag:
            settings.*f.integer = Platform().ButtonState(hWnd, f.control) == BST_CHECKED ? 1 : 0;
            break;
        case SettingKind::Integer:
            if (edit) settings.*f.integer = Platform().EditInt(edit);
            break;
        case SettingKind::Float:
            if (edit) settings.*f.real = Platform().EditFloat(edit);
            break;
        }
    }
}

template <int Page>
void EnableForAlgorithm(HWND hWnd, int algorithm)
{
    const auto enable = [hWnd](const SettingField& f, BOOL on) {
        Platform().Enable(hWnd, f.control, on);
        if (f.spinner != kSkipped) Platform().Enable(hWnd, f.spinner, on);
    };
    for (const int i : PageSteps<Page>::disable) enable(kSettingFields[i], FALSE);
    // "Spatial" has no generation, so it uses none of them.
    const unsigned uses = UsedBy(algorithm);
    for (const int i : PageSteps<Page>::disable)
        if (kSettingFields[i].usedBy & uses) enable(kSettingFields[i], TRUE);
}

}  // namespace

void DunsmereUtility::BeginEditParams(Interface* core, IUtil* util)
{
    ip = core;
    iu = util;
    if (!ip) return;
    hPanel = ip->AddRollupPage(LibraryInstance(), kPanelDialog, PanelDlgProc, LoadResourceString(kStrRollupTitle), 0,
                               0, ROLLUP_CAT_UTILITY);
    hOptions = ip->AddRollupPage(LibraryInstance(), kOptionsDialog, OptionsDlgProc,
                                 LoadResourceString(kStrOptionsTitle), 0, 0, ROLLUP_CAT_UTILITY);
}

void DunsmereUtility::EndEditParams(Interface* core, IUtil*)
{
    HWND page = hPanel, options = hOptions;
    ip = nullptr;
    iu = nullptr;
    // The options first: the rollup page's closing then saves what they
    // read back.
    if (core && options) core->DeleteRollupPage(options);
    hOptions = nullptr;
    if (core) core->DeleteRollupPage(page);
    hPanel = nullptr;
}

// The page's rows are chosen at compile time (the table is constexpr); the
// methods take the page as a value, so that both pages share them.
namespace {
template <class Step>
void OnPage(int page, Step&& step)
{
    if (page == kOptionsDialog)
        step(std::integral_constant<int, kOptionsDialog>{});
    else
        step(std::integral_constant<int, kPanelDialog>{});
}
}  // namespace

void DunsmereUtility::OpenPanel(HWND hWnd)
{
    LoadSettings();
    // A page opened again without having been closed would otherwise leak
    // the interfaces of the first opening.
    ReleaseControls(kPanelDialog);
    LookUpControls<kPanelDialog>(hWnd, edits, spinners);
    SettingsToControls(hWnd);
    EnableAlgorithmControls(hWnd, settings.algorithm);
}

void DunsmereUtility::ClosePanel(HWND hWnd)
{
    ControlsToSettings(hWnd);
    SaveSettings();
    ReleaseControls(kPanelDialog);
}

void DunsmereUtility::OpenOptions(HWND hWnd)
{
    ReleaseControls(kOptionsDialog);
    LookUpControls<kOptionsDialog>(hWnd, edits, spinners);
    SettingsToControls(hWnd, kOptionsDialog);
    EnableAlgorithmControls(hWnd, settings.algorithm, kOptionsDialog);
}

void DunsmereUtility::CloseOptions(HWND hWnd)
{
    ControlsToSettings(hWnd, kOptionsDialog);
    ReleaseControls(kOptionsDialog);
}

void DunsmereUtility::ReleaseControls(int page)
{
    OnPage(page, [&](auto p) { ReleasePage<decltype(p)::value>(edits, spinners); });
}

void DunsmereUtility::SettingsToControls(HWND hWnd, int page)
{
    OnPage(page, [&](auto p) { Show<decltype(p)::value>(hWnd, settings, spinners); });
}

void DunsmereUtility::ControlsToSettings(HWND hWnd, int page)
{
    OnPage(page, [&](auto p) { ReadBack<decltype(p)::value>(hWnd, settings, edits); });
}

void DunsmereUtility::EnableAlgorithmControls(HWND hWnd, int algorithm, int page)
{
    OnPage(page, [&](auto p) { EnableForAlgorithm<decltype(p)::value>(hWnd, algorithm); });
}

void DunsmereUtility::Generate(HWND hWnd)
{
    // Saved first, so that a failed or cancelled run keeps what was chosen.
    ControlsToSettings(hWnd);
    if (hOptions) ControlsToSettings(hOptions, kOptionsDialog);
    SaveSettings();
    switch (settings.algorithm) {
    case kAlgorithmUVMap: GenerateSmurlMap(); break;
    case kAlgorithmVertexColors: GenerateVertexColors(); break;
    default: MessageBoxA(nullptr, kNotImplemented, kMessageTitle, MB_OK | MB_ICONINFORMATION); break;
    }
}

INT_PTR PanelDlgProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    // Nothing may unwind into the host's message loop.
    return CallGuarded<INT_PTR>("PanelDlgProc", __LINE__, FALSE, [&]() -> INT_PTR {
        DunsmereUtility& u = TheUtility();
        switch (msg) {
        case WM_INITDIALOG:
            u.OpenPanel(hWnd);
            return TRUE;
        case WM_DESTROY:
            u.ClosePanel(hWnd);
            return TRUE;
        case WM_COMMAND:
            switch (const int id = LOWORD(wParam)) {
            case kIdGenerate: u.Generate(hWnd); break;
            case kIdAbout: DialogBoxParamA(LibraryInstance(), kAboutDialog, GetActiveWindow(), AboutDlgProc, 0); break;
            default:
                // The radio buttons move their own marks; check boxes are
                // read at "Generate" and at closing.
                if (const int algorithm = AlgorithmOfButton(id)) {
                    u.settings.algorithm = algorithm;
                    u.EnableAlgorithmControls(hWnd, algorithm);
                    if (u.hOptions) u.EnableAlgorithmControls(u.hOptions, algorithm, kOptionsDialog);
                }
                break;
            }
            return TRUE;
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
            // The host scrolls its rollups by dragging on them.
            if (u.ip) u.ip->RollupMouseMessage(hWnd, msg, wParam, lParam);
            return TRUE;
        default: return FALSE;
        }
    });
}

INT_PTR OptionsDlgProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return CallGuarded<INT_PTR>("OptionsDlgProc", __LINE__, FALSE, [&]() -> INT_PTR {
        DunsmereUtility& u = TheUtility();
        switch (msg) {
        case WM_INITDIALOG:
            u.OpenOptions(hWnd);
            return TRUE;
        case WM_DESTROY:
            u.CloseOptions(hWnd);
            return TRUE;
        case WM_COMMAND:
            return TRUE;  // its check boxes are read at "Generate" and at closing
        case WM_MOUSEMOVE:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONUP:
            if (u.ip) u.ip->RollupMouseMessage(hWnd, msg, wParam, lParam);
            return TRUE;
        default: return FALSE;
        }
    });
}

}  // namespace dunsmere
