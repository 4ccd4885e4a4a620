#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "fuzz_target.h"

const std::string& FuzzScratch()
{
    static const std::string dir = [] {
        const char* base = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::getenv("TMPDIR");
        std::string d = std::string(base ? base : "/tmp") + "/dunsmere-fuzz-" + std::to_string(::getpid());
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

std::string FuzzFile(const std::string& name, const std::uint8_t* data, std::size_t size)
{
    const std::string path = FuzzScratch() + "/" + name;
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                  static_cast<std::streamsize>(size));
    return path;
}

void FuzzFinding(const char* what)
{
    std::fprintf(stderr, "fuzz finding: %s\n", what);
    std::abort();
}
