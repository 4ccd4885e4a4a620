#include "app/session/plugins.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "app/codec_modules.h"
#include "app/session/session.h"

namespace dunsmere {

namespace fs = std::filesystem;

std::string DefaultPluginFolder()
{
    const std::string folder = BinaryFolder();
    return folder.empty() ? std::string("plugins") : (fs::path(folder) / "plugins").string();
}

FoundPlugin FindUtilityPlugin(const std::string& folder, const char* className)
{
    FoundPlugin found;
    std::vector<fs::path> libraries;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".dlu") libraries.push_back(it->path());
    std::sort(libraries.begin(), libraries.end());

    for (const fs::path& lib : libraries) {
        const std::string path = lib.string();
        void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            const char* why = dlerror();
            found.warnings.push_back("skipping " + path + ": " + (why ? why : "cannot load"));
            continue;
        }
        const auto description = reinterpret_cast<LibDescriptionFn>(dlsym(handle, "LibDescription"));
        const auto count = reinterpret_cast<LibNumberClassesFn>(dlsym(handle, "LibNumberClasses"));
        const auto classDesc = reinterpret_cast<LibClassDescFn>(dlsym(handle, "LibClassDesc"));
        const auto version = reinterpret_cast<LibVersionFn>(dlsym(handle, "LibVersion"));
        if (!description || !count || !classDesc || !version) {
            found.warnings.push_back("skipping " + path + ": not a plug-in library (exports missing)");
            dlclose(handle);
            continue;
        }
        const unsigned long v = version();
        if (v != kHostInterfaceVersion) {
            char hex[64];
            std::snprintf(hex, sizeof hex, "0x%lX", v);
            found.warnings.push_back("skipping " + path + ": built for host version " + hex + ", not 0x10680800");
            dlclose(handle);
            continue;
        }
        const int classes = count();
        for (int i = 0; i < classes && !found.desc; ++i) {
            ClassDesc* desc = classDesc(i);
            if (!desc || desc->SuperClassID() != UTILITY_CLASS_ID) continue;
            const char* name = desc->ClassName();
            if (name && std::strcmp(name, className) == 0) found.desc = desc;
        }
        if (found.desc) {
            found.path = path;
            return found;  // stays loaded for the life of the process
        }
        dlclose(handle);
    }
    return found;
}

FoundPlugin LoadDunsmere(const std::string& folder, const std::function<void(const std::string&)>& warn)
{
    static std::mutex loading;
    const std::lock_guard<std::mutex> lock(loading);
    const std::string where = folder.empty() ? DefaultPluginFolder() : folder;
    FoundPlugin plugin = FindUtilityPlugin(where, "Dunsmere");
    if (warn)
        for (const std::string& w : plugin.warnings) warn(w);
    if (!plugin.desc) throw SessionError("no plug-in library in " + where + " offers \"Dunsmere\"");
    return plugin;
}

}  // namespace dunsmere
