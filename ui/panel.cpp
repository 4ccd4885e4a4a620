// The rollup page: opening and closing it, the settings shown in and read
// back from its controls, the controls each algorithm uses, and its
// commands. Every control operation goes through the host's window layer.
#include "ui/panel.h"

#include <cstdint>

#include "eval/eval.h"
#include "host/core.h"
#include "host/runtime.h"
#include "ui/library.h"
#include "ui/utility.h"

static_assert(kIdUVMap == kAlgorithmUVMap && kIdVertexColors == kAlgorithmVertexColors &&
                  kIdSpatial == kAlgorithmSpatial,
              "the radio buttons' ids are the algorithm codes");

namespace {

UINT Check(std::int32_t flag) { return flag ? BST_CHECKED : BST_UNCHECKED; }
std::int32_t Checked(HWND hWnd, int id) { return IsDlgButtonChecked(hWnd, id) == BST_CHECKED ? 1 : 0; }

// The page's interfaces are null only when its template lacks a control;
// the field then keeps its value rather than the panel failing.
void ShowInt(ISpinnerControl* spin, int value)
{
    if (spin) spin->SetValue(value, FALSE);
}
void ShowFloat(ISpinnerControl* spin, float value)
{
    if (spin) spin->SetValue(value, FALSE);
}
void ReadInt(ICustEdit* edit, std::int32_t& field)
{
    if (edit) field = edit->GetInt();
}
void ReadFloat(ICustEdit* edit, float& field)
{
    if (edit) field = edit->GetFloat();
}

void Enable(HWND hWnd, int id, BOOL on) { EnableWindow(GetDlgItem(hWnd, id), on); }

// The controls only some algorithms use, in the order they are disabled.
constexpr int kAlgorithmControls[] = {
    kEditXSiz, kSpinXSiz, kEditYSiz, kSpinYSiz,           // map size
    kEditMapChannel, kSpinMapChannel,                      // map channel
    kIdNoiseOn, kEditNoiseSize, kSpinNoiseSize,            // noise
    kIdMtlIDOn, kEditMtlID, kSpinMtlID,                    // material filter
    kIdAccumulate,                                         // accumulate
};

}  // namespace

void DunsmereUtility::BeginEditParams(Interface* core, IUtil* util)
{
    ip = core;
    iu = util;
    if (!ip) return;
    hPanel = ip->AddRollupPage(LibraryInstance(), kPanelDialog, PanelDlgProc, LoadResourceString(kStrRollupTitle), 0,
                               0, ROLLUP_CAT_UTILITY);
}

void DunsmereUtility::EndEditParams(Interface* core, IUtil*)
{
    HWND page = hPanel;
    ip = nullptr;
    iu = nullptr;
    if (core) core->DeleteRollupPage(page);
    hPanel = nullptr;
}

void DunsmereUtility::OpenPanel(HWND hWnd)
{
    LoadSettings();
    // A page opened again without having been closed would otherwise leak
    // the interfaces of the first opening.
    ReleaseControls();
    xSizEdit = GetICustEdit(GetDlgItem(hWnd, kEditXSiz));
    ySizEdit = GetICustEdit(GetDlgItem(hWnd, kEditYSiz));
    horizontalEdit = GetICustEdit(GetDlgItem(hWnd, kEditHorizontal));
    verticalEdit = GetICustEdit(GetDlgItem(hWnd, kEditVertical));
    distEdit = GetICustEdit(GetDlgItem(hWnd, kEditDist));
    mapChannelEdit = GetICustEdit(GetDlgItem(hWnd, kEditMapChannel));
    noiseSizeEdit = GetICustEdit(GetDlgItem(hWnd, kEditNoiseSize));
    mtlIDEdit = GetICustEdit(GetDlgItem(hWnd, kEditMtlID));

    // The initial values are placeholders: SettingsToControls replaces them.
    distSpin = SetupFloatSpinner(hWnd, kSpinDist, kEditDist, 1.0f, 100000.0f, 30.0f, 1.0f);
    horizontalSpin = SetupIntSpinner(hWnd, kSpinHorizontal, kEditHorizontal, 0, 24, 8);
    verticalSpin = SetupIntSpinner(hWnd, kSpinVertical, kEditVertical, 0, 10, 1);
    xSizSpin = SetupIntSpinner(hWnd, kSpinXSiz, kEditXSiz, 50, 4096, 200);
    ySizSpin = SetupIntSpinner(hWnd, kSpinYSiz, kEditYSiz, 50, 4096, 200);
    mapChannelSpin = SetupIntSpinner(hWnd, kSpinMapChannel, kEditMapChannel, 1, 99, 1);
    mtlIDSpin = SetupIntSpinner(hWnd, kSpinMtlID, kEditMtlID, 1, 100, 1);
    noiseSizeSpin = SetupFloatSpinner(hWnd, kSpinNoiseSize, kEditNoiseSize, 0.0f, 100000.0f, 25.0f, 1.0f);

    SettingsToControls(hWnd);
    EnableAlgorithmControls(hWnd, settings.algorithm);
}

void DunsmereUtility::ClosePanel(HWND hWnd)
{
    ControlsToSettings(hWnd);
    SaveSettings();
    ReleaseControls();
}

void DunsmereUtility::ReleaseControls()
{
    // Pair by pair, the edit control before its spinner.
    const auto release = [](ICustEdit*& edit, ISpinnerControl*& spin) {
        ReleaseICustEdit(edit);
        edit = nullptr;
        ReleaseISpinner(spin);
        spin = nullptr;
    };
    release(xSizEdit, xSizSpin);
    release(ySizEdit, ySizSpin);
    release(horizontalEdit, horizontalSpin);
    release(verticalEdit, verticalSpin);
    release(mapChannelEdit, mapChannelSpin);
    release(distEdit, distSpin);
    release(noiseSizeEdit, noiseSizeSpin);
    release(mtlIDEdit, mtlIDSpin);
}

void DunsmereUtility::SettingsToControls(HWND hWnd)
{
    UtilitySettings& s = settings;
    if (s.algorithm != kAlgorithmUVMap && s.algorithm != kAlgorithmVertexColors && s.algorithm != kAlgorithmSpatial)
        s.algorithm = kAlgorithmUVMap;
    CheckRadioButton(hWnd, kIdUVMap, kIdSpatial, s.algorithm);

    CheckDlgButton(hWnd, kIdSelectedOnly, Check(s.selectedOnly));
    CheckDlgButton(hWnd, kIdNoiseOn, Check(s.noiseOn));
    CheckDlgButton(hWnd, kIdMtlIDOn, Check(s.mtlIDOn));
    CheckDlgButton(hWnd, kIdAccumulate, Check(s.addVertexColors));

    ShowFloat(distSpin, s.dist);
    ShowInt(horizontalSpin, s.horizontalSpread);
    ShowInt(verticalSpin, s.verticalSpread);
    ShowInt(xSizSpin, s.XSiz);
    ShowInt(ySizSpin, s.YSiz);
    ShowInt(mapChannelSpin, s.mapChannel);
    ShowInt(mtlIDSpin, s.mtlID);
    ShowFloat(noiseSizeSpin, s.noiseSize);
}

void DunsmereUtility::ControlsToSettings(HWND hWnd)
{
    UtilitySettings& s = settings;
    if (IsDlgButtonChecked(hWnd, kIdUVMap) == BST_CHECKED) s.algorithm = kAlgorithmUVMap;
    else if (IsDlgButtonChecked(hWnd, kIdVertexColors) == BST_CHECKED) s.algorithm = kAlgorithmVertexColors;
    else if (IsDlgButtonChecked(hWnd, kIdSpatial) == BST_CHECKED) s.algorithm = kAlgorithmSpatial;
    else s.algorithm = kAlgorithmUVMap;
    s.addVertexColors = Checked(hWnd, kIdAccumulate);

    // The edit controls' text as it stands, valid or not: the spinners may
    // not have seen what the user typed.
    ReadInt(xSizEdit, s.XSiz);
    ReadInt(ySizEdit, s.YSiz);
    ReadInt(verticalEdit, s.verticalSpread);
    ReadInt(horizontalEdit, s.horizontalSpread);
    ReadFloat(distEdit, s.dist);
    ReadInt(mapChannelEdit, s.mapChannel);

    s.selectedOnly = Checked(hWnd, kIdSelectedOnly);
    s.noiseOn = Checked(hWnd, kIdNoiseOn);
    ReadFloat(noiseSizeEdit, s.noiseSize);
    s.mtlIDOn = Checked(hWnd, kIdMtlIDOn);
    ReadInt(mtlIDEdit, s.mtlID);
}

void DunsmereUtility::EnableAlgorithmControls(HWND hWnd, int algorithm)
{
    for (int id : kAlgorithmControls) Enable(hWnd, id, FALSE);
    if (algorithm == kAlgorithmUVMap) {
        for (int id : kAlgorithmControls)
            if (id != kIdAccumulate) Enable(hWnd, id, TRUE);
    } else if (algorithm == kAlgorithmVertexColors) {
        Enable(hWnd, kIdAccumulate, TRUE);
    }
    // "Spatial" has no generation, so it uses none of them.
}

void DunsmereUtility::Generate(HWND hWnd)
{
    // Saved first, so that a failed or cancelled run keeps what was chosen.
    ControlsToSettings(hWnd);
    SaveSettings();
    switch (settings.algorithm) {
    case kAlgorithmUVMap: GenerateSmurlMap(); break;
    case kAlgorithmVertexColors: GenerateVertexColors(); break;
    default: MessageBoxA(nullptr, kNotImplemented, kMessageTitle, MB_OK | MB_ICONINFORMATION); break;
    }
}

INT_PTR PanelDlgProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    try {
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
            case kIdUVMap:
            case kIdVertexColors:
            case kIdSpatial:
                // The radio buttons move their own marks.
                u.settings.algorithm = id;
                u.EnableAlgorithmControls(hWnd, id);
                break;
            default: break;  // check boxes are read at "Generate" and at closing
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
    } catch (...) {
        // Nothing may unwind into the host's message loop.
        assert1(__LINE__, "PanelDlgProc");
        return FALSE;
    }
}
