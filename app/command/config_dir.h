// The plug-in configuration directories of a run. The plug-in always gets a
// scratch directory of the run's own (APP_PLUGCFG_DIR), so that what an
// earlier run left never leaks into this one; the real directory, the
// user's, only receives what a run that reached "Generate" saved.
#pragma once

#include <string>

#include "app/command/options.h"

namespace dunsmere {

// The user's configuration directory for the command,
// $XDG_CONFIG_HOME/dunsmere, or $HOME/.config/dunsmere when XDG_CONFIG_HOME
// is unset, empty or relative; created with its parents when missing.
// Returned without a trailing slash; "" when there is no usable directory.
// Never throws.
std::string CommandConfigDir();

// The real directory a run's settings go back to: --config-dir, else the one
// above, named but not created. "" when there is none.
std::string RealConfigDir(const CommandOptions& options);

// The scratch directory of one run, made in the temporary directory and
// removed with everything in it when this is destroyed (and by a second
// signal, which ends the run at once). The run holds a lock file inside it
// for its life (LockWhileNamed in host/temporary_files.h); making one first
// removes every scratch directory of the user's whose lock nobody holds,
// left by killed runs. It starts with no settings file, so the plug-in loads
// its own defaults; with --preset it holds a copy of the preset, and with
// --last one of the real directory's file, as the plug-in's Dunsmere.ini.
class RunConfigDir {
public:
    // Throws CommandError (usage) when the preset cannot be read, or --last
    // has no real directory to start from.
    explicit RunConfigDir(const CommandOptions& options);
    ~RunConfigDir();
    RunConfigDir(const RunConfigDir&) = delete;
    RunConfigDir& operator=(const RunConfigDir&) = delete;

    // The directory the plug-in is told of, and its settings file there.
    const std::string& path() const { return path_; }
    std::string File() const;
    // The file the run started from as the user names it (the preset, or
    // the real directory's file); "" for a run from the defaults.
    const std::string& StartedFrom() const { return startedFrom_; }

    // Puts the scratch directory's settings file back as the run started:
    // the preset's or last run's bytes, or no file. Each mesh of a batch
    // starts from there, whatever the one before it saved.
    void Restart() const;

    // Replaces the real directory's settings file by the scratch one, after
    // the real directory is created when missing. False, saying why on the
    // debug channel, when there is no real directory or it cannot be
    // written; true, changing nothing, when the plug-in saved no file.
    bool CopyBack() const;

    // Replaces TARGET by the scratch settings file; "" when done, else why not.
    std::string CopyTo(const std::string& target) const;

private:
    void Discard() noexcept;

    std::string path_;
    std::string real_;
    std::string startedFrom_;
    std::string start_;  // the file's bytes as the run started
    int owner_ = -1;     // holds the directory's lock
};

}  // namespace dunsmere
