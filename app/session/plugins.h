// Finding the plug-in: every *.dlu of the plug-in folder is loaded, its four
// exports are checked, and the descriptor of the utility class "Dunsmere" is
// taken from the first library that offers it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/plugin_api.h"

namespace dunsmere {

struct FoundPlugin {
    ClassDesc* desc = nullptr;
    std::string path;
    std::vector<std::string> warnings;  // libraries skipped, with the reason
};

// The folder looked in by default: "plugins" beside the session's shared
// object (app/codec_modules.h, BinaryFolder).
std::string DefaultPluginFolder();

FoundPlugin FindUtilityPlugin(const std::string& folder, const char* className);

// The plug-in "Dunsmere" from FOLDER, "" for the default folder, each
// library skipped told to WARN first. Any thread: loads take turns, as
// loading runs a library's initialisers. Throws SessionError when no
// library offers it.
FoundPlugin LoadDunsmere(const std::string& folder, const std::function<void(const std::string&)>& warn = {});

}  // namespace dunsmere
