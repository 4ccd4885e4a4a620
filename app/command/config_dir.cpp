#include "app/command/config_dir.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "app/command/command.h"

namespace fs = std::filesystem;

namespace {

// Creates DIR and any missing parents; true when DIR is then a directory.
bool MakeDirectories(const std::string& dir)
{
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string prefix = dir.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string WithoutTrailingSlashes(std::string path)
{
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string CommandConfigDir()
{
    try {
        std::string base;
        const char* xdg = std::getenv("XDG_CONFIG_HOME");
        const char* home = std::getenv("HOME");
        // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG
        // base-directory rules require.
        if (xdg && xdg[0] == '/') {
            base = xdg;
        } else if (home && home[0] != '\0') {
            base = WithoutTrailingSlashes(home) + "/.config";
        } else {
            return "";
        }
        const std::string dir = WithoutTrailingSlashes(base) + "/dunsmere";
        return MakeDirectories(dir) ? dir : "";
    } catch (...) {
        return "";
    }
}

RunConfigDir::RunConfigDir(const CommandOptions& o)
{
    std::string real = o.configDir;
    std::error_code ec;
    if (real.empty()) real = CommandConfigDir();
    else fs::create_directories(real, ec);
    const bool throwaway = o.noSaveSettings || o.showSettings || o.about;
    if (!throwaway) {
        if (real.empty()) throw CommandError(kExitUsage, "no usable configuration directory (set --config-dir)");
        path_ = real;
        if (o.defaults) fs::remove(fs::path(real) / "Dunsmere.ini", ec);
        return;
    }
    std::string pattern = (fs::temp_directory_path(ec) / "dunsmere-settings-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw CommandError(kExitUsage, "cannot make a temporary settings directory");
    scratch_ = path_ = pattern;
    if (!o.defaults && !real.empty()) fs::copy_file(fs::path(real) / "Dunsmere.ini", fs::path(pattern) / "Dunsmere.ini", ec);
}

RunConfigDir::~RunConfigDir()
{
    std::error_code ec;
    if (!scratch_.empty()) fs::remove_all(scratch_, ec);
}
