#include "app/codec_modules.h"

#include <dlfcn.h>
#include <link.h>

#include <filesystem>
#include <system_error>

namespace dunsmere {

namespace fs = std::filesystem;

std::string BinaryFolder()
{
    std::error_code ec;
    Dl_info info{};
    link_map* own = nullptr;
    if (dladdr1(reinterpret_cast<void*>(&BinaryFolder), &info, reinterpret_cast<void**>(&own), RTLD_DL_LINKMAP) != 0 &&
        own && own->l_name && own->l_name[0] != '\0') {
        const fs::path path = fs::canonical(own->l_name, ec);
        if (!ec) return path.parent_path().string();
    }
    // The executable's own entry has no name: the kernel knows its path.
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

void* CodecModuleEntry(const char* file, const char* entry, std::string& why)
{
    // dlopen maps a module once and counts the loads after; its error
    // message is the calling thread's own.
    const std::string folder = BinaryFolder();
    const std::string path = folder.empty() ? std::string(file) : (fs::path(folder) / file).string();
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char* error = dlerror();
        why = "its codec module could not be loaded: " + std::string(error ? error : path);
        return nullptr;
    }
    void* symbol = dlsym(module, entry);
    if (!symbol) why = "its codec module " + path + " lacks " + entry;
    return symbol;
}

}  // namespace dunsmere
