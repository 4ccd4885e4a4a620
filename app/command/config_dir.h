// The plug-in configuration directory the standalone host gives the plug-in
// when it asks for one (APP_PLUGCFG_DIR): the user's, or a private copy for
// runs that must leave the user's settings file alone.
#pragma once

#include <string>

#include "app/command/options.h"

// The user's configuration directory for the command,
// $XDG_CONFIG_HOME/dunsmere, or $HOME/.config/dunsmere when XDG_CONFIG_HOME
// is unset, empty or relative; created with its parents when missing.
// Returned without a trailing slash; "" when there is no usable directory.
// Never throws.
std::string CommandConfigDir();

// The directory one run answers the plug-in's directory query with. With
// --no-save-settings (and for runs that only show something) it is a
// private copy of the user's settings file, removed when this is destroyed.
class RunConfigDir {
public:
    // Throws CommandError (usage) when there is no directory to use.
    explicit RunConfigDir(const CommandOptions& options);
    ~RunConfigDir();
    RunConfigDir(const RunConfigDir&) = delete;
    RunConfigDir& operator=(const RunConfigDir&) = delete;

    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string scratch_;  // removed at the end
};
