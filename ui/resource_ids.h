// The ids the utility's resources go by: its dialog templates, its
// string table, and the rollup page's controls that belong to no setting (a
// setting's controls are named in its row of ui/settings_table.h).
#pragma once

#include <iterator>

#include "eval/eval.h"

namespace dunsmere {

// Dialog templates.
inline constexpr int kPanelDialog = 101;
inline constexpr int kAboutDialog = 102;
inline constexpr int kOptionsDialog = 103;

// The string table.
inline constexpr int kStrLibDescription = 1;
inline constexpr int kStrCategory = 2;
inline constexpr int kStrClassName = 3;
inline constexpr int kStrRollupTitle = 4;
inline constexpr int kStrOptionsTitle = 5;

// The rollup page's push buttons.
inline constexpr int kIdGenerate = 1001;
inline constexpr int kIdAbout = 1005;

// The algorithm radio buttons, a group of consecutive ids, as the host's
// radio groups are.
inline constexpr int kIdUVMap = 1008;
inline constexpr int kIdVertexColors = 1009;
inline constexpr int kIdSpatial = 1010;

// Each algorithm's button and the code the settings store for it, in the
// group's order. The classic three store their buttons' ids, as settings
// files always have; a new bake type adds a row with a code of its own.
struct AlgorithmButton {
    int control;
    int code;
};
inline constexpr AlgorithmButton kAlgorithmButtons[] = {
    {kIdUVMap, kAlgorithmUVMap}, {kIdVertexColors, kAlgorithmVertexColors}, {kIdSpatial, kAlgorithmSpatial}};
inline constexpr int kAlgorithmCount = static_cast<int>(std::size(kAlgorithmButtons));

// The row of CODE in kAlgorithmButtons, -1 for a code no button stores.
constexpr int AlgorithmIndex(int code)
{
    for (int i = 0; i < kAlgorithmCount; ++i)
        if (kAlgorithmButtons[i].code == code) return i;
    return -1;
}

// The code BUTTON stores, 0 for a control that is not an algorithm's.
constexpr int AlgorithmOfButton(int button)
{
    for (const AlgorithmButton& b : kAlgorithmButtons)
        if (b.control == button) return b.code;
    return 0;
}

}  // namespace dunsmere
