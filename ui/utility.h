// The utility object: the one instance of DunsmereUtility holds the user's
// settings, the panel's host interfaces while the panel is open, and every
// per-run structure of the two generations.
#pragma once

#include "eval/run_tables.h"
#include "eval/settings.h"
#include "host/cstr.h"
#include "host/dialog.h"
#include "host/plugin_api.h"
#include "host/ray.h"
#include "map/run_state.h"

class CrtRand;
class Mesh;
struct Point3;

inline constexpr const char* kSettingsSection = "Dunsmere";
inline constexpr const char* kSettingsFileName = "Dunsmere.ini";

class DunsmereUtility : public UtilityObj {
public:
    DunsmereUtility() = default;
    ~DunsmereUtility() override = default;
    DunsmereUtility(const DunsmereUtility&) = delete;
    DunsmereUtility& operator=(const DunsmereUtility&) = delete;

    // The host opens the utility: the interfaces are stored, then the rollup
    // page is added (it loads and shows the settings while being added).
    void BeginEditParams(Interface* core, IUtil* util) override;
    // The host closes it: the interfaces are cleared, then the page is
    // deleted (it reads back and saves the settings while being deleted).
    void EndEditParams(Interface* core, IUtil* util) override;
    // The object is static: the host's request to free it is ignored.
    void DeleteThis() override {}

    // The settings file: the host's plug-in configuration directory followed
    // by "\Dunsmere.ini" (the host's file layer takes '\' as a separator).
    // Without a host, the standalone configuration directory.
    CStr SettingsFilePath() const;
    // Reads the thirteen keys; a missing key takes its load default.
    void LoadSettings();
    // Writes the thirteen keys in one replacement of the file. A failure is
    // silent: the record in memory is what counts.
    void SaveSettings() const;

    // The panel (ui/panel.cpp). Each takes the rollup page's window.
    // Opening: loads the settings, obtains the sixteen control interfaces
    // and shows the record. Closing: reads the controls back, saves, and
    // releases the interfaces.
    void OpenPanel(HWND hWnd);
    void ClosePanel(HWND hWnd);
    // An out-of-range algorithm is corrected to "UV Map" here.
    void SettingsToControls(HWND hWnd);
    // Reads the edit controls (not the spinners) and the buttons.
    void ControlsToSettings(HWND hWnd);
    void EnableAlgorithmControls(HWND hWnd, int algorithm);
    // What "Generate" does: read back, save, then run the chosen generation.
    void Generate(HWND hWnd);

    // The smurl value of one sample with this object's settings and tables.
    float EvaluateSample(const Mesh& mesh, int face, const Point3& weights, Ray* rayScratch, CrtRand& rng) const;

    void GenerateSmurlMap();
    void GenerateVertexColors();

    // Set at begin-editing and cleared at end-editing.
    HWND hPanel = nullptr;
    IUtil* iu = nullptr;
    Interface* ip = nullptr;

    UtilitySettings settings;

    RunTables run;
    // The map generation's grids and flags (kept between runs).
    MapRunState map;

    // The panel's custom edit controls and spinners, one pair per numeric
    // setting; held from the page's opening to its closing.
    ICustEdit* xSizEdit = nullptr;
    ISpinnerControl* xSizSpin = nullptr;
    ICustEdit* ySizEdit = nullptr;
    ISpinnerControl* ySizSpin = nullptr;
    ICustEdit* horizontalEdit = nullptr;
    ISpinnerControl* horizontalSpin = nullptr;
    ICustEdit* verticalEdit = nullptr;
    ISpinnerControl* verticalSpin = nullptr;
    ICustEdit* mapChannelEdit = nullptr;
    ISpinnerControl* mapChannelSpin = nullptr;
    ICustEdit* distEdit = nullptr;
    ISpinnerControl* distSpin = nullptr;
    ICustEdit* noiseSizeEdit = nullptr;
    ISpinnerControl* noiseSizeSpin = nullptr;
    ICustEdit* mtlIDEdit = nullptr;
    ISpinnerControl* mtlIDSpin = nullptr;

private:
    Interface* Core() const;
    void ReleaseControls();
};
