// The library's resources: the rollup page (dialog 101), the About box
// (dialog 102) and the string table, and the loader of its strings.
//
// Every table here is constant-initialised, so the library entry may
// register them while the library's other statics are still being built.
#include <iterator>

#include "plugin/plugin.h"
#include "ui/library.h"
#include "ui/panel.h"

namespace {

using K = ControlKind;

constexpr ControlTemplate kPanelControls[] = {
    {-1, K::CentredText, "Dunsmere BETA V0.25b", 7, 7, 94, 12},
    {-1, K::GroupBox, "Algorithm", 7, 21, 94, 50},
    {kIdUVMap, K::RadioButton, "UV Map", 20, 32, 42, 10},
    {kIdVertexColors, K::RadioButton, "Vertex Colors", 20, 44, 57, 10},
    {kIdSpatial, K::RadioButton, "Spatial", 20, 56, 37, 10},
    {-1, K::Text, "Distance :", 15, 75, 33, 10},
    {kEditDist, K::CustEdit, "", 60, 75, 25, 10},
    {kSpinDist, K::Spinner, "", 86, 75, 7, 10},
    {kIdSelectedOnly, K::CheckBox, "Selected Faces Only", 13, 91, 81, 10},
    {-1, K::GroupBox, "Ray Spread", 7, 105, 94, 40},
    {-1, K::Text, "Vertical", 15, 117, 33, 10},
    {kEditVertical, K::CustEdit, "", 60, 117, 25, 10},
    {kSpinVertical, K::Spinner, "", 86, 117, 7, 10},
    {-1, K::Text, "Horizontal :", 15, 129, 33, 10},
    {kEditHorizontal, K::CustEdit, "", 60, 129, 25, 10},
    {kSpinHorizontal, K::Spinner, "", 86, 129, 7, 10},
    {-1, K::GroupBox, "Map Size", 7, 148, 94, 28},
    {kEditXSiz, K::CustEdit, "", 14, 159, 25, 10},
    {kSpinXSiz, K::Spinner, "", 40, 159, 7, 10},
    {-1, K::CentredText, "x", 50, 159, 8, 10},
    {kEditYSiz, K::CustEdit, "", 60, 159, 25, 10},
    {kSpinYSiz, K::Spinner, "", 86, 159, 7, 10},
    {-1, K::Text, "Map Channel", 8, 182, 47, 10},
    {kEditMapChannel, K::CustEdit, "", 60, 182, 25, 10},
    {kSpinMapChannel, K::Spinner, "", 86, 182, 7, 10},
    {-1, K::GroupBox, "Noise", 7, 197, 94, 33},
    {kIdNoiseOn, K::CheckBox, "On", 13, 207, 25, 10},
    {-1, K::Text, "Size", 38, 215, 18, 10},
    {kEditNoiseSize, K::CustEdit, "", 59, 215, 25, 10},
    {kSpinNoiseSize, K::Spinner, "", 85, 215, 7, 10},
    {-1, K::GroupBox, "Filter by Material ID", 7, 232, 94, 33},
    {kIdMtlIDOn, K::CheckBox, "On", 13, 242, 25, 10},
    {-1, K::Text, "ID", 37, 251, 18, 10},
    {kEditMtlID, K::CustEdit, "", 59, 251, 25, 10},
    {kSpinMtlID, K::Spinner, "", 85, 251, 7, 10},
    {kIdAccumulate, K::CheckBox, "Accumulate vertex colors", 7, 270, 94, 10},
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

template <typename T>
constexpr int Count(const T& table) { return static_cast<int>(std::size(table)); }

constexpr DialogTemplate kDialogs[] = {
    // A child window: the host puts it in its command panel.
    {kPanelDialog, nullptr, 108, 323, "MS Sans Serif", 8, kPanelControls, Count(kPanelControls)},
    {kAboutDialog, "About Dunsmere", 214, 127, "MS Sans Serif", 8, kAboutControls, Count(kAboutControls)},
};

constexpr StringResource kStrings[] = {
    {kStrLibDescription, "Dunsmere"},
    {kStrCategory, "Quillfen Tools"},
    {kStrClassName, "Dunsmere"},
    {kStrRollupTitle, "Parameters"},
};

constexpr ResourceTable kResources{kDialogs, Count(kDialogs), kStrings, Count(kStrings)};

}  // namespace

const ResourceTable& LibraryResources() { return kResources; }

const char* LoadResourceString(int id)
{
    // One buffer for every caller: each call overwrites the text before.
    static char buffer[256];
    const HINSTANCE instance = LibraryInstance();
    if (!instance) return nullptr;
    return LoadStringA(instance, id, buffer, static_cast<int>(sizeof buffer)) > 0 ? buffer : nullptr;
}
