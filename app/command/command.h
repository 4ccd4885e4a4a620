// The `dunsmere` command: plays the modelling host for the plug-in on real
// files. It loads the plug-in, reads the meshes into a scene, opens the
// utility's panel (settings loaded), applies the options as a user would,
// presses "Generate", closes the panel (settings saved) and writes the
// output, then tells by its exit status what happened.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "app/command/options.h"
#include "app/session/outcome.h"

namespace dunsmere {

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

// The panel's spinners as the plug-in beside the executable sets them up at
// its defaults; none when it cannot be loaded or its panel opened.
std::vector<SpinnerFacts> PanelSpinners();

// The exit status: the cancel's when the run was cancelled (by a cancel
// query answered yes, or a signal that came too late for one), else 0 when
// the output was written and nothing was refused, else 1. A cancelled
// command does not exit with it but ends by its signal (EndBySignal); the
// status is what a shell then shows.
int ExitStatus(const RunOutcome& outcome, int cancelSignal);

}  // namespace dunsmere
