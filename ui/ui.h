// User-interface layer: the utility object and its settings file.
//
//   utility.h  DunsmereUtility: settings record, SettingsFilePath, LoadSettings,
//              SaveSettings, the per-run tables, the generations
#pragma once

#include "ui/utility.h"
