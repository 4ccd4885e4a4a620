// The `dunsmere` command: plays the modelling host for the plug-in on real
// files. It loads the plug-in, reads the meshes into a scene, opens the
// utility's panel (settings loaded), applies the options as a user would,
// presses "Generate", closes the panel (settings saved) and writes the
// output, then tells by its exit status what happened.
#pragma once

#include "app/command/options.h"

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInternal = 70;

int RunCommand(const CommandOptions& options);
