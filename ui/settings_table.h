// The settings, one row each: everything the settings file, the rollup pages
// and the command line know of a setting. Each operation on the settings
// walks these rows in its own order column; the orders differ from one
// operation to the next, and each is the one the host's users and files have
// always seen. A setting is added with a field of UtilitySettings, a row
// here and its controls in its page's template.
//
// Loading and saving walk every row; the control operations walk one page
// at a time, so their columns number the rows of each page from 0.
//
// The record's constructor values are its default member initialisers
// (eval/settings.h); the rows hold the load defaults, which differ.
//
// Everything here is constant; a row that breaks the table's rules fails the
// build.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "eval/eval.h"
#include "ui/resource_ids.h"

namespace dunsmere {

enum class SettingKind {
    Choice,   // the algorithm's radio group (kAlgorithmButtons)
    Flag,     // a check box; 0 or 1
    Integer,  // an edit control with an integer spinner
    Float,    // an edit control with a float spinner
};

// The order value of a row that an operation passes over.
inline constexpr int kSkipped = -1;

// A row's position, from 0, in the call sequence of each operation.
struct SettingOrder {
    int load = kSkipped;          // LoadSettings: one read per row
    int save = kSkipped;          // SaveSettings: one key per row
    int lookup = kSkipped;        // opening: the edit control's interface
    int spinnerSetup = kSkipped;  // opening: the spinner's set-up
    int show = kSkipped;          // SettingsToControls
    int readBack = kSkipped;      // ControlsToSettings
    int release = kSkipped;       // closing: edit control, then spinner
    int disable = kSkipped;       // EnableAlgorithmControls: control, then spinner
};

// The algorithms a row's controls serve, as bits of UsedBy(); none for a
// code no button stores.
constexpr unsigned UsedBy(int algorithm)
{
    const int i = AlgorithmIndex(algorithm);
    return i < 0 ? 0u : 1u << i;
}

struct SettingField {
    const char* key = nullptr;  // the INI key, also the field's name
    std::int32_t UtilitySettings::*integer = nullptr;  // the field, unless Float
    float UtilitySettings::*real = nullptr;            // the field of a Float
    SettingKind kind = SettingKind::Integer;
    int control = kSkipped;  // edit control, check box, or a Choice's first button
    int spinner = kSkipped;  // Integer and Float only
    // The spinner's limits.
    double min = 0.0, max = 0.0;
    int loadInt = 0;                 // the integer read's default (not Float)
    const char* loadText = nullptr;  // the text read's default (Float)
    double spinnerInitial = 0.0;     // replaced at once by the shown value
    double spinnerScale = 0.0;       // Float only
    int page = kPanelDialog;         // the dialog template of the controls
    // Left out of the file while it holds the load default, and removed from
    // it when saved so: the options beyond the first page's thirteen, which
    // a file of defaults has never held.
    bool savedOnlyWhenNotDefault = false;
    // With a disable position: the algorithms that enable the controls again.
    unsigned usedBy = 0;
    SettingOrder order;
};

// In the record's order. Each row: the field; its controls and their range;
// its defaults and its other names; its positions in each operation.
inline constexpr SettingField kSettingFields[] = {
    {.key = "XSiz", .integer = &UtilitySettings::XSiz, .kind = SettingKind::Integer,
     .control = 1490, .spinner = 1496, .min = 50, .max = 4096,
     .loadInt = 200, .spinnerInitial = 200, .usedBy = UsedBy(kAlgorithmUVMap),
     .order = {.load = 1, .save = 1, .lookup = 0, .spinnerSetup = 3, .show = 8, .readBack = 2, .release = 0,
               .disable = 0}},
    {.key = "YSiz", .integer = &UtilitySettings::YSiz, .kind = SettingKind::Integer,
     .control = 1491, .spinner = 1497, .min = 50, .max = 4096,
     .loadInt = 200, .spinnerInitial = 200, .usedBy = UsedBy(kAlgorithmUVMap),
     .order = {.load = 2, .save = 2, .lookup = 1, .spinnerSetup = 4, .show = 9, .readBack = 3, .release = 1,
               .disable = 1}},
    {.key = "algorithm", .integer = &UtilitySettings::algorithm, .kind = SettingKind::Choice,
     .control = kIdUVMap, .loadInt = kAlgorithmUVMap,
     .order = {.load = 0, .save = 0, .show = 0, .readBack = 0}},
    {.key = "horizontalSpread", .integer = &UtilitySettings::horizontalSpread, .kind = SettingKind::Integer,
     .control = 1494, .spinner = 1500, .min = 0, .max = 24,
     .loadInt = 8, .spinnerInitial = 8,
     .order = {.load = 3, .save = 3, .lookup = 2, .spinnerSetup = 1, .show = 6, .readBack = 5, .release = 2}},
    {.key = "verticalSpread", .integer = &UtilitySettings::verticalSpread, .kind = SettingKind::Integer,
     .control = 1493, .spinner = 1499, .min = 0, .max = 10,
     .loadInt = 1, .spinnerInitial = 1,
     .order = {.load = 4, .save = 4, .lookup = 3, .spinnerSetup = 2, .show = 7, .readBack = 4, .release = 3}},
    {.key = "mapChannel", .integer = &UtilitySettings::mapChannel, .kind = SettingKind::Integer,
     .control = 1495, .spinner = 1501, .min = 1, .max = 99,
     .loadInt = 1, .spinnerInitial = 1, .usedBy = UsedBy(kAlgorithmUVMap),
     .order = {.load = 5, .save = 5, .lookup = 5, .spinnerSetup = 5, .show = 10, .readBack = 7, .release = 4,
               .disable = 2}},
    {.key = "dist", .real = &UtilitySettings::dist, .kind = SettingKind::Float,
     .control = 1492, .spinner = 1498, .min = 1.0, .max = 100000.0,
     .loadText = "30.0", .spinnerInitial = 30.0, .spinnerScale = 1.0,
     .order = {.load = 6, .save = 6, .lookup = 4, .spinnerSetup = 0, .show = 5, .readBack = 6, .release = 5}},
    {.key = "selectedOnly", .integer = &UtilitySettings::selectedOnly, .kind = SettingKind::Flag,
     .control = 1002,
     .loadInt = 0,
     .order = {.load = 7, .save = 7, .show = 1, .readBack = 8}},
    {.key = "noiseOn", .integer = &UtilitySettings::noiseOn, .kind = SettingKind::Flag,
     .control = 1006,
     .loadInt = 0, .usedBy = UsedBy(kAlgorithmUVMap),
     .order = {.load = 8, .save = 8, .show = 2, .readBack = 9, .disable = 3}},
    {.key = "noiseSize", .real = &UtilitySettings::noiseSize, .kind = SettingKind::Float,
     .control = 1502, .spinner = 1503, .min = 0.0, .max = 100000.0,
     .loadText = "25.0", .spinnerInitial = 25.0, .spinnerScale = 1.0,
     .usedBy = UsedBy(kAlgorithmUVMap),
     .order = {.load = 9, .save = 9, .lookup = 6, .spinnerSetup = 7, .show = 12, .readBack = 10, .release = 6,
               .disable = 4}},
    // "mtlID" is saved before "mtlIDOn", the reverse of the load order: a new
    // file has always listed them so.
    {.key = "mtlIDOn", .integer = &UtilitySettings::mtlIDOn, .kind = SettingKind::Flag,
     .control = 1007,
     .loadInt = 0, .usedBy = UsedBy(kAlgorithmUVMap),
     .order = {.load = 10, .save = 11, .show = 3, .readBack = 11, .disable = 5}},
    {.key = "mtlID", .integer = &UtilitySettings::mtlID, .kind = SettingKind::Integer,
     .control = 1504, .spinner = 1505, .min = 1, .max = 100,
     .loadInt = 1, .spinnerInitial = 1, .usedBy = UsedBy(kAlgorithmUVMap),
     .order = {.load = 11, .save = 10, .lookup = 7, .spinnerSetup = 6, .show = 11, .readBack = 12, .release = 7,
               .disable = 6}},
    {.key = "addVertexColors", .integer = &UtilitySettings::addVertexColors, .kind = SettingKind::Flag,
     .control = 1011,
     .loadInt = 0, .usedBy = UsedBy(kAlgorithmVertexColors),
     .order = {.load = 12, .save = 12, .show = 4, .readBack = 1, .disable = 7}},
    // The options page. Its settings are written only when they differ from
    // their defaults, so a file of defaults is what it has always been.
    {.key = "padding", .integer = &UtilitySettings::padding, .kind = SettingKind::Integer,
     .control = 1510, .spinner = 1511, .min = 0, .max = kMaxPadding,
     .loadInt = 1, .spinnerInitial = 1, .page = kOptionsDialog,
     .savedOnlyWhenNotDefault = true, .usedBy = UsedBy(kAlgorithmUVMap),
     .order = {.load = 13, .save = 13, .lookup = 0, .spinnerSetup = 0, .show = 0, .readBack = 0, .release = 0,
               .disable = 0}},
    {.key = "supersample", .integer = &UtilitySettings::supersample, .kind = SettingKind::Integer,
     .control = 1512, .spinner = 1513, .min = 1, .max = kMaxSupersample,
     .loadInt = 1, .spinnerInitial = 1, .page = kOptionsDialog,
     .savedOnlyWhenNotDefault = true, .usedBy = UsedBy(kAlgorithmUVMap),
     .order = {.load = 14, .save = 14, .lookup = 1, .spinnerSetup = 1, .show = 1, .readBack = 1, .release = 1,
               .disable = 1}},
    {.key = "coverageAlpha", .integer = &UtilitySettings::coverageAlpha, .kind = SettingKind::Flag,
     .control = 1514, .loadInt = 0, .page = kOptionsDialog,
     .savedOnlyWhenNotDefault = true, .usedBy = UsedBy(kAlgorithmUVMap),
     .order = {.load = 15, .save = 15, .show = 2, .readBack = 2, .disable = 2}},
    {.key = "invertLevels", .integer = &UtilitySettings::invertLevels, .kind = SettingKind::Flag,
     .control = 1515, .loadInt = 0, .page = kOptionsDialog,
     .savedOnlyWhenNotDefault = true, .usedBy = UsedBy(kAlgorithmUVMap),
     .order = {.load = 16, .save = 16, .show = 3, .readBack = 3, .disable = 3}},
    {.key = "evenRing", .integer = &UtilitySettings::evenRing, .kind = SettingKind::Flag,
     .control = 1516, .loadInt = 0, .page = kOptionsDialog,
     .savedOnlyWhenNotDefault = true, .usedBy = UsedBy(kAlgorithmUVMap) | UsedBy(kAlgorithmVertexColors),
     .order = {.load = 17, .save = 17, .show = 4, .readBack = 4, .disable = 4}},
    {.key = "sceneOccluders", .integer = &UtilitySettings::sceneOccluders, .kind = SettingKind::Flag,
     .control = 1517, .loadInt = 0, .page = kOptionsDialog,
     .savedOnlyWhenNotDefault = true, .usedBy = UsedBy(kAlgorithmUVMap) | UsedBy(kAlgorithmVertexColors),
     .order = {.load = 18, .save = 18, .show = 5, .readBack = 5, .disable = 5}},
    {.key = "rayBias", .real = &UtilitySettings::rayBias, .kind = SettingKind::Float,
     .control = 1518, .spinner = 1519, .min = 0.0, .max = static_cast<double>(kMaxRayBias),
     .loadText = "0.0", .spinnerInitial = 0.0, .spinnerScale = 0.001, .page = kOptionsDialog,
     .savedOnlyWhenNotDefault = true, .usedBy = UsedBy(kAlgorithmUVMap) | UsedBy(kAlgorithmVertexColors),
     .order = {.load = 19, .save = 19, .lookup = 2, .spinnerSetup = 2, .show = 6, .readBack = 6, .release = 2,
               .disable = 6}},
    {.key = "highPoly", .integer = &UtilitySettings::highPoly, .kind = SettingKind::Flag,
     .control = 1520, .loadInt = 0, .page = kOptionsDialog,
     .savedOnlyWhenNotDefault = true, .usedBy = UsedBy(kAlgorithmUVMap) | UsedBy(kAlgorithmVertexColors),
     .order = {.load = 20, .save = 20, .show = 7, .readBack = 7, .disable = 7}},
    {.key = "rayFront", .real = &UtilitySettings::rayFront, .kind = SettingKind::Float,
     .control = 1521, .spinner = 1522, .min = 0.0, .max = 1.0,
     .loadText = "0.02", .spinnerInitial = 0.02, .spinnerScale = 0.001, .page = kOptionsDialog,
     .savedOnlyWhenNotDefault = true, .usedBy = UsedBy(kAlgorithmUVMap) | UsedBy(kAlgorithmVertexColors),
     .order = {.load = 21, .save = 21, .lookup = 3, .spinnerSetup = 3, .show = 8, .readBack = 8, .release = 3,
               .disable = 8}},
    {.key = "rayRear", .real = &UtilitySettings::rayRear, .kind = SettingKind::Float,
     .control = 1523, .spinner = 1524, .min = 0.0, .max = 1.0,
     .loadText = "0.02", .spinnerInitial = 0.02, .spinnerScale = 0.001, .page = kOptionsDialog,
     .savedOnlyWhenNotDefault = true, .usedBy = UsedBy(kAlgorithmUVMap) | UsedBy(kAlgorithmVertexColors),
     .order = {.load = 22, .save = 22, .lookup = 4, .spinnerSetup = 4, .show = 9, .readBack = 9, .release = 4,
               .disable = 9}},
};

inline constexpr int kSettingCount = static_cast<int>(std::size(kSettingFields));

// The row of KEY; naming a key that has no row fails the build.
consteval int SettingIndex(std::string_view key)
{
    for (int i = 0; i < kSettingCount; ++i)
        if (key == kSettingFields[i].key) return i;
    throw "no setting has this key";
}
consteval int SettingControl(std::string_view key) { return kSettingFields[SettingIndex(key)].control; }
consteval int SettingSpinner(std::string_view key) { return kSettingFields[SettingIndex(key)].spinner; }

namespace detail {

// The page argument of an operation that walks every page.
inline constexpr int kEveryPage = 0;

consteval bool OnPage(const SettingField& f, int page) { return page == kEveryPage || f.page == page; }

consteval int StepCount(int SettingOrder::*column, int page)
{
    int n = 0;
    for (const SettingField& f : kSettingFields)
        if (f.order.*column != kSkipped && OnPage(f, page)) ++n;
    return n;
}

// The rows of one operation on one page (or every page), by index, in its
// order. Two rows at one position, or a gap, fail the build.
template <int SettingOrder::*Column, int Page>
consteval auto Steps()
{
    std::array<int, StepCount(Column, Page)> steps{};
    std::array<bool, StepCount(Column, Page)> taken{};
    for (int i = 0; i < kSettingCount; ++i) {
        const int at = kSettingFields[i].order.*Column;
        if (at == kSkipped || !OnPage(kSettingFields[i], Page)) continue;
        if (at < 0 || at >= static_cast<int>(steps.size()) || taken[static_cast<std::size_t>(at)])
            throw "an order column must number its rows 0, 1, 2, ...";
        taken[static_cast<std::size_t>(at)] = true;
        steps[static_cast<std::size_t>(at)] = i;
    }
    return steps;
}

consteval bool RowsAreConsistent()
{
    for (const SettingField& f : kSettingFields) {
        const bool isFloat = f.kind == SettingKind::Float;
        const bool spun = f.kind == SettingKind::Integer || isFloat;
        if (!f.key || f.control < 0) return false;
        if (isFloat != (f.real != nullptr) || isFloat == (f.integer != nullptr)) return false;
        if (isFloat != (f.loadText != nullptr) || spun != (f.spinner >= 0)) return false;
        // Every row is loaded, saved, shown and read back; only the
        // spinners' rows hold interfaces.
        const SettingOrder& o = f.order;
        if (o.load < 0 || o.save < 0 || o.show < 0 || o.readBack < 0) return false;
        if (spun != (o.lookup >= 0) || spun != (o.spinnerSetup >= 0) || spun != (o.release >= 0)) return false;
        if ((o.disable >= 0) != (f.usedBy != 0)) return false;
        if (f.page != kPanelDialog && f.page != kOptionsDialog) return false;
        // A file has always held the first page's keys, defaults or not.
        if (f.savedOnlyWhenNotDefault != (f.page == kOptionsDialog)) return false;
    }
    return true;
}
static_assert(RowsAreConsistent(), "a setting's row contradicts its kind");

}  // namespace detail

// Each operation's rows, in its order: loading and saving over every row.
inline constexpr auto kLoadSteps = detail::Steps<&SettingOrder::load, detail::kEveryPage>();
inline constexpr auto kSaveSteps = detail::Steps<&SettingOrder::save, detail::kEveryPage>();
// The control operations, page by page.
template <int Page>
struct PageSteps {
    static constexpr auto lookup = detail::Steps<&SettingOrder::lookup, Page>();
    static constexpr auto spinnerSetup = detail::Steps<&SettingOrder::spinnerSetup, Page>();
    static constexpr auto show = detail::Steps<&SettingOrder::show, Page>();
    static constexpr auto readBack = detail::Steps<&SettingOrder::readBack, Page>();
    static constexpr auto release = detail::Steps<&SettingOrder::release, Page>();
    static constexpr auto disable = detail::Steps<&SettingOrder::disable, Page>();
};
// The first page's, by the names its operations have always had.
inline constexpr auto kLookupSteps = PageSteps<kPanelDialog>::lookup;
inline constexpr auto kSpinnerSetupSteps = PageSteps<kPanelDialog>::spinnerSetup;
inline constexpr auto kShowSteps = PageSteps<kPanelDialog>::show;
inline constexpr auto kReadBackSteps = PageSteps<kPanelDialog>::readBack;
inline constexpr auto kReleaseSteps = PageSteps<kPanelDialog>::release;
inline constexpr auto kDisableSteps = PageSteps<kPanelDialog>::disable;

}  // namespace dunsmere
