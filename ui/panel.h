// The utility's rollup page and About box: their dialog procedures and the
// ids of their resources and controls. The templates themselves are library
// resources (plugin/resources.cpp).
#pragma once

#include "host/dialog.h"

// Dialog templates.
inline constexpr int kPanelDialog = 101;
inline constexpr int kAboutDialog = 102;

// The string table.
inline constexpr int kStrLibDescription = 1;
inline constexpr int kStrCategory = 2;
inline constexpr int kStrClassName = 3;
inline constexpr int kStrRollupTitle = 4;

// Controls of the rollup page. The algorithm radio buttons' ids are the
// algorithm codes themselves (eval/settings.h).
inline constexpr int kIdGenerate = 1001;
inline constexpr int kIdSelectedOnly = 1002;
inline constexpr int kIdAbout = 1005;
inline constexpr int kIdNoiseOn = 1006;
inline constexpr int kIdMtlIDOn = 1007;
inline constexpr int kIdUVMap = 1008;
inline constexpr int kIdVertexColors = 1009;
inline constexpr int kIdSpatial = 1010;
inline constexpr int kIdAccumulate = 1011;
inline constexpr int kEditXSiz = 1490;
inline constexpr int kEditYSiz = 1491;
inline constexpr int kEditDist = 1492;
inline constexpr int kEditVertical = 1493;
inline constexpr int kEditHorizontal = 1494;
inline constexpr int kEditMapChannel = 1495;
inline constexpr int kSpinXSiz = 1496;
inline constexpr int kSpinYSiz = 1497;
inline constexpr int kSpinDist = 1498;
inline constexpr int kSpinVertical = 1499;
inline constexpr int kSpinHorizontal = 1500;
inline constexpr int kSpinMapChannel = 1501;
inline constexpr int kEditNoiseSize = 1502;
inline constexpr int kSpinNoiseSize = 1503;
inline constexpr int kEditMtlID = 1504;
inline constexpr int kSpinMtlID = 1505;

inline constexpr const char* kNotImplemented = "This Smurl type is not implemented yet";

// The rollup page's dialog procedure: TRUE for the messages it handles.
// Nothing thrown inside leaves it.
INT_PTR PanelDlgProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The About box's: Escape leaves the box open; OK, Enter and the close box
// end it with result 1.
INT_PTR AboutDlgProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
