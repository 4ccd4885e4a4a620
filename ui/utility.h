// The utility object: the one instance of DunsmereUtility holds the user's
// settings, the panel's host interfaces while the panel is open, and every
// per-run structure of the two generations.
#pragma once

#include <array>

#include "eval/eval.h"
#include "host/cstr.h"
#include "host/dialog.h"
#include "host/plugin_api.h"
#include "map/map.h"
#include "ui/settings_table.h"

namespace dunsmere {

inline constexpr const char* kSettingsSection = "Dunsmere";
inline constexpr const char* kSettingsFileName = "Dunsmere.ini";

class DunsmereUtility : public UtilityObj {
public:
    DunsmereUtility() = default;
    ~DunsmereUtility() override = default;
    DunsmereUtility(const DunsmereUtility&) = delete;
    DunsmereUtility& operator=(const DunsmereUtility&) = delete;

    // The host opens the utility: the interfaces are stored, then the rollup
    // page is added (it loads and shows the settings while being added),
    // then the options page after it (it shows the options).
    void BeginEditParams(Interface* core, IUtil* util) override;
    // The host closes it: the interfaces are cleared, then the options page
    // is deleted (it reads its controls back), then the rollup page (it
    // reads back and saves every setting while being deleted).
    void EndEditParams(Interface* core, IUtil* util) override;
    // The object is static: the host's request to free it is ignored.
    void DeleteThis() override {}

    // The settings file: the host's plug-in configuration directory followed
    // by "\Dunsmere.ini" (the host's file layer takes '\' as a separator).
    // Empty when the host gives no directory: no core interface, a null
    // directory or an empty one.
    CStr SettingsFilePath() const;
    // Reads every key of the settings table from one snapshot of the file, taken under the
    // writers' lock; a missing key takes its load default. Without
    // a settings file path every field takes its load default, no file is
    // read, and one debug line says so.
    void LoadSettings();
    // Writes the settings table's keys in one replacement of the file. A failure is
    // silent but for a debug line: the record in memory is what counts.
    // Without a settings file path nothing is written, and one debug line
    // says so.
    void SaveSettings() const;

    // The panel (ui/panel.cpp): the rollup page and the options page, each
    // with its own rows of the settings table. Opening the rollup page loads
    // the settings, obtains its control interfaces and shows the record;
    // closing reads the controls back, saves, and releases the interfaces.
    // The options page shows the record as the rollup page's opening loaded
    // it, and on closing reads its controls back and leaves the save to the
    // rollup page, which closes after it.
    void OpenPanel(HWND hWnd);
    void ClosePanel(HWND hWnd);
    void OpenOptions(HWND hWnd);
    void CloseOptions(HWND hWnd);
    // The rows of PAGE (kPanelDialog or kOptionsDialog), on that page's
    // window. An out-of-range algorithm is corrected to "UV Map" on showing.
    void SettingsToControls(HWND hWnd, int page = kPanelDialog);
    // Reads the edit controls (not the spinners) and the buttons.
    void ControlsToSettings(HWND hWnd, int page = kPanelDialog);
    void EnableAlgorithmControls(HWND hWnd, int algorithm, int page = kPanelDialog);
    // What "Generate" does: read back both pages, save, then run the chosen
    // generation.
    void Generate(HWND hWnd);

    void GenerateSmurlMap();
    void GenerateVertexColors();

    // Set at begin-editing and cleared at end-editing.
    HWND hPanel = nullptr;
    HWND hOptions = nullptr;
    IUtil* iu = nullptr;
    Interface* ip = nullptr;

    UtilitySettings settings;

    RunTables run;
    // The map generation's grids and flags (kept between runs).
    MapRunState map;

    // The pages' custom edit controls and spinners, by setting row (null
    // for the rows without them); held from each page's opening to its
    // closing.
    std::array<ICustEdit*, kSettingCount> edits{};
    std::array<ISpinnerControl*, kSettingCount> spinners{};

private:
    Interface* Core() const;
    void ReleaseControls(int page);
};

// The one utility object (ui/library_state.cpp).
DunsmereUtility& TheUtility();

}  // namespace dunsmere
