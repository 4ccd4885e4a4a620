// The library's resources: the rollup page (dialog 101), the About box
// (dialog 102), the options page (dialog 103) and the string table. Data only: a setting's controls take
// their ids from its row of the settings table, by its key.
//
// Every table here is constant-initialised, so the library entry may
// register them while the library's other statics are still being built.
#include <iterator>

#include "plugin/plugin.h"
#include "ui/ui.h"

using namespace dunsmere;

namespace {

using K = ControlKind;

constexpr ControlTemplate kPanelControls[] = {
    {-1, K::CentredText, "Dunsmere BETA V0.25b", 7, 7, 94, 12},
    {-1, K::GroupBox, "Algorithm", 7, 21, 94, 50},
    {kIdUVMap, K::RadioButton, "UV Map", 20, 32, 42, 10},
    {kIdVertexColors, K::RadioButton, "Vertex Colors", 20, 44, 57, 10},
    {kIdSpatial, K::RadioButton, "Spatial", 20, 56, 37, 10},
    {-1, K::Text, "Distance :", 15, 75, 33, 10},
    {SettingControl("dist"), K::CustEdit, "", 60, 75, 25, 10},
    {SettingSpinner("dist"), K::Spinner, "", 86, 75, 7, 10},
    {SettingControl("selectedOnly"), K::CheckBox, "Selected Faces Only", 13, 91, 81, 10},
    {-1, K::GroupBox, "Ray Spread", 7, 105, 94, 40},
    {-1, K::Text, "Vertical", 15, 117, 33, 10},
    {SettingControl("verticalSpread"), K::CustEdit, "", 60, 117, 25, 10},
    {SettingSpinner("verticalSpread"), K::Spinner, "", 86, 117, 7, 10},
    {-1, K::Text, "Horizontal :", 15, 129, 33, 10},
    {SettingControl("horizontalSpread"), K::CustEdit, "", 60, 129, 25, 10},
    {SettingSpinner("horizontalSpread"), K::Spinner, "", 86, 129, 7, 10},
    {-1, K::GroupBox, "Map Size", 7, 148, 94, 28},
    {SettingControl("XSiz"), K::CustEdit, "", 14, 159, 25, 10},
    {SettingSpinner("XSiz"), K::Spinner, "", 40, 159, 7, 10},
    {-1, K::CentredText, "x", 50, 159, 8, 10},
    {SettingControl("YSiz"), K::CustEdit, "", 60, 159, 25, 10},
    {SettingSpinner("YSiz"), K::Spinner, "", 86, 159, 7, 10},
    {-1, K::Text, "Map Channel", 8, 182, 47, 10},
    {SettingControl("mapChannel"), K::CustEdit, "", 60, 182, 25, 10},
    {SettingSpinner("mapChannel"), K::Spinner, "", 86, 182, 7, 10},
    {-1, K::GroupBox, "Noise", 7, 197, 94, 33},
    {SettingControl("noiseOn"), K::CheckBox, "On", 13, 207, 25, 10},
    {-1, K::Text, "Size", 38, 215, 18, 10},
    {SettingControl("noiseSize"), K::CustEdit, "", 59, 215, 25, 10},
    {SettingSpinner("noiseSize"), K::Spinner, "", 85, 215, 7, 10},
    {-1, K::GroupBox, "Filter by Material ID", 7, 232, 94, 33},
    {SettingControl("mtlIDOn"), K::CheckBox, "On", 13, 242, 25, 10},
    {-1, K::Text, "ID", 37, 251, 18, 10},
    {SettingControl("mtlID"), K::CustEdit, "", 59, 251, 25, 10},
    {SettingSpinner("mtlID"), K::Spinner, "", 85, 251, 7, 10},
    {SettingControl("addVertexColors"), K::CheckBox, "Accumulate vertex colors", 7, 270, 94, 10},
    {kIdGenerate, K::PushButton, "Generate", 29, 287, 50, 14},
    {kIdAbout, K::PushButton, "About...", 29, 302, 50, 14},
};

constexpr ControlTemplate kAboutControls[] = {
    // The picture names bitmap resource 101 the way a dialog resource does;
    // the host's window layer keeps no bitmaps, so nothing is drawn.
    {-1, K::Picture, "#101", 10, 7, 192, 28},
    {-1, K::CentredText, "Dunsmere V0.25b [BETA]", 47, 46, 119, 11},
    {-1, K::CentredText, "Smurl occlusion baker\nfor triangle meshes\n(c) Dunsmere developers", 7, 65, 200, 24},
    {IDOK, K::DefPushButton, "OK", 81, 98, 50, 14},
};

// The options beyond the first page's settings: the edits are labelled by
// the text to their left, as on the first page.
constexpr ControlTemplate kOptionsControls[] = {
    {-1, K::Text, "Padding", 15, 7, 40, 10},
    {SettingControl("padding"), K::CustEdit, "", 60, 7, 25, 10},
    {SettingSpinner("padding"), K::Spinner, "", 86, 7, 7, 10},
    {-1, K::Text, "Antialiasing", 15, 21, 44, 10},
    {SettingControl("supersample"), K::CustEdit, "", 60, 21, 25, 10},
    {SettingSpinner("supersample"), K::Spinner, "", 86, 21, 7, 10},
    {SettingControl("coverageAlpha"), K::CheckBox, "Coverage in alpha", 13, 37, 88, 10},
    {SettingControl("invertLevels"), K::CheckBox, "White is open", 13, 50, 88, 10},
    {SettingControl("evenRing"), K::CheckBox, "Even ring", 13, 63, 88, 10},
    {SettingControl("sceneOccluders"), K::CheckBox, "Scene occluders", 13, 76, 88, 10},
    {-1, K::Text, "Ray bias", 15, 91, 44, 10},
    {SettingControl("rayBias"), K::CustEdit, "", 60, 91, 25, 10},
    {SettingSpinner("rayBias"), K::Spinner, "", 86, 91, 7, 10},
    {SettingControl("highPoly"), K::CheckBox, "Bake from high-poly", 13, 106, 88, 10},
    {-1, K::Text, "Ray front", 15, 119, 44, 10},
    {SettingControl("rayFront"), K::CustEdit, "", 60, 119, 25, 10},
    {SettingSpinner("rayFront"), K::Spinner, "", 86, 119, 7, 10},
    {-1, K::Text, "Ray rear", 15, 132, 44, 10},
    {SettingControl("rayRear"), K::CustEdit, "", 60, 132, 25, 10},
    {SettingSpinner("rayRear"), K::Spinner, "", 86, 132, 7, 10},
};

template <typename T>
constexpr int Count(const T& table) { return static_cast<int>(std::size(table)); }

constexpr DialogTemplate kDialogs[] = {
    // A child window: the host puts it in its command panel.
    {kPanelDialog, nullptr, 108, 323, "MS Sans Serif", 8, kPanelControls, Count(kPanelControls)},
    {kAboutDialog, "About Dunsmere", 214, 127, "MS Sans Serif", 8, kAboutControls, Count(kAboutControls)},
    {kOptionsDialog, nullptr, 108, 147, "MS Sans Serif", 8, kOptionsControls, Count(kOptionsControls)},
};

constexpr StringResource kStrings[] = {
    {kStrLibDescription, "Dunsmere"},
    {kStrCategory, "Quillfen Tools"},
    {kStrClassName, "Dunsmere"},
    {kStrRollupTitle, "Parameters"},
    {kStrOptionsTitle, "Dunsmere Options"},
};

constexpr ResourceTable kResources{kDialogs, Count(kDialogs), kStrings, Count(kStrings)};

}  // namespace

const ResourceTable& LibraryResources() { return kResources; }
