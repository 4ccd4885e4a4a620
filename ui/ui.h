// User-interface layer: the utility object, its settings file and its panel.
//
//   utility.h  DunsmereUtility: settings record, SettingsFilePath, LoadSettings,
//              SaveSettings, the panel's operations, the per-run tables, the
//              generations
//   panel.h    PanelDlgProc, AboutDlgProc, resource and control ids
//   library.h  what the plug-in provides: TheUtility, LibraryInstance,
//              LoadResourceString
#pragma once

#include "ui/library.h"
#include "ui/panel.h"
#include "ui/utility.h"
