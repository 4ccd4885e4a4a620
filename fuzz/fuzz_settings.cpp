// The settings file on any bytes: every key read, a batch written, and the
// batch read back as written, with the rest of the file kept.
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_target.h"
#include "host/ini.h"

namespace {

const char* const kKeys[] = {"XSiz", "YSiz", "dist", "noiseOn", "noiseSize", "mapChannel", "x=", "", "[a", "dist "};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The first byte picks a section, the rest is the file.
    const char* const sections[] = {"Dunsmere", "dunsmere-command", "DUNSMERE", "x]"};
    const char* section = sections[size > 0 ? data[0] % 4 : 0];
    const std::string path = FuzzFile("Dunsmere.ini", size > 0 ? data + 1 : data, size > 0 ? size - 1 : 0);

    char buffer[64];
    for (const char* key : kKeys) {
        GetPrivateProfileInt(section, key, 7, path.c_str());
        const int n = GetPrivateProfileString(section, key, "none", buffer, sizeof buffer, path.c_str());
        if (n < 0 || n >= static_cast<int>(sizeof buffer) || buffer[n] != '\0') FuzzFinding("a read overran its buffer");
    }

    const ProfileEntries batch = {{"XSiz", "512"}, {"dist", "30.000000"}, {"fresh", "a b"}};
    if (!WritePrivateProfileStrings(section, batch, path.c_str())) return 0;  // a name that cannot be held
    for (const auto& [key, value] : batch) {
        GetPrivateProfileString(section, key.c_str(), "", buffer, sizeof buffer, path.c_str());
        if (value != buffer) FuzzFinding("a key written did not read back");
    }
    return 0;
}
