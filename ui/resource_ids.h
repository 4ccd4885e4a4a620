// The ids the utility's resources go by: its dialog templates, its
// string table, and the rollup page's controls that belong to no setting (a
// setting's controls are named in its row of ui/settings_table.h).
#pragma once

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

// The algorithm radio buttons: their ids are the algorithm codes.
inline constexpr int kIdUVMap = kAlgorithmUVMap;
inline constexpr int kIdVertexColors = kAlgorithmVertexColors;
inline constexpr int kIdSpatial = kAlgorithmSpatial;

}  // namespace dunsmere
