// The `dunsmere` command: plays the modelling host for the plug-in on real
// files. It loads the plug-in, reads the meshes into a scene, opens the
// utility's panel (settings loaded), applies the options as a user would,
// presses "Generate", closes the panel (settings saved) and writes the
// output, then tells by its exit status what happened.
#pragma once

#include <stdexcept>
#include <string>

#include "app/command/options.h"

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitInternal = 70;

// A step of the command that cannot go on: why (printed as "dunsmere: WHY")
// and the exit status it ends the run with.
class CommandError : public std::runtime_error {
public:
    CommandError(int status, const std::string& why) : std::runtime_error(why), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

int RunCommand(const CommandOptions& options);
