// The utility's rollup page, options page and About box: their dialog
// procedures. The templates themselves are library resources
// (plugin/resources.cpp); their ids are in ui/resource_ids.h and the
// settings' rows.
#pragma once

#include "host/dialog.h"
#include "ui/resource_ids.h"

namespace dunsmere {

inline constexpr const char* kNotImplemented = "This Smurl type is not implemented yet";

// The rollup page's dialog procedure: TRUE for the messages it handles.
// Nothing thrown inside leaves it.
INT_PTR PanelDlgProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The options page's: the same, with no command of its own.
INT_PTR OptionsDlgProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);
// The About box's: Escape leaves the box open; OK, Enter and the close box
// end it with result 1. Nothing thrown inside leaves it.
INT_PTR AboutDlgProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam);

}  // namespace dunsmere
