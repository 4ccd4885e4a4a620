// Loading and saving the settings record.
#include <charconv>
#include <cstdio>

#include "host/core.h"
#include "host/ini.h"
#include "host/numbers.h"
#include "host/runtime.h"
#include "ui/utility.h"

namespace {

std::string FormatInt(int v)
{
    char buf[256];
    const auto end = std::to_chars(buf, buf + sizeof buf, v).ptr;
    return {buf, end};
}

// "%f" of the value widened to double, in the C locale: six decimals.
std::string FormatFloat(float v)
{
    char buf[256];
    const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(v), std::chars_format::fixed, 6);
    if (r.ec != std::errc{}) return "0.000000";
    return {buf, r.ptr};
}

float ReadFloat(const char* key, const char* defaultText, const char* path)
{
    char buffer[80];
    GetPrivateProfileString(kSettingsSection, key, defaultText, buffer, sizeof buffer, path);
    return ParseFloatC(buffer);
}

}  // namespace

Interface* DunsmereUtility::Core() const { return ip ? ip : GetCOREInterface(); }

CStr DunsmereUtility::SettingsFilePath() const
{
    Interface* core = Core();
    const char* dir = core ? core->GetDir(APP_PLUGCFG_DIR) : nullptr;
    CStr path(dir ? CStr(dir) : CStr(PluginConfigDir()));
    path += "\\";
    path += kSettingsFileName;
    return path;
}

void DunsmereUtility::LoadSettings()
{
    const CStr file = SettingsFilePath();
    const char* path = file.data();
    const char* s = kSettingsSection;
    settings.algorithm = GetPrivateProfileInt(s, "algorithm", kAlgorithmUVMap, path);
    settings.XSiz = GetPrivateProfileInt(s, "XSiz", 200, path);
    settings.YSiz = GetPrivateProfileInt(s, "YSiz", 200, path);
    settings.horizontalSpread = GetPrivateProfileInt(s, "horizontalSpread", 8, path);
    settings.verticalSpread = GetPrivateProfileInt(s, "verticalSpread", 1, path);
    settings.mapChannel = GetPrivateProfileInt(s, "mapChannel", 1, path);
    settings.dist = ReadFloat("dist", "30.0", path);
    settings.selectedOnly = GetPrivateProfileInt(s, "selectedOnly", 0, path);
    settings.noiseOn = GetPrivateProfileInt(s, "noiseOn", 0, path);
    settings.noiseSize = ReadFloat("noiseSize", "25.0", path);
    settings.mtlIDOn = GetPrivateProfileInt(s, "mtlIDOn", 0, path);
    settings.mtlID = GetPrivateProfileInt(s, "mtlID", 1, path);
    settings.addVertexColors = GetPrivateProfileInt(s, "addVertexColors", 0, path);
}

void DunsmereUtility::SaveSettings() const
{
    const CStr file = SettingsFilePath();
    const UtilitySettings& r = settings;
    // "mtlID" goes before "mtlIDOn": a new file lists the keys in this order.
    const ProfileEntries entries{
        {"algorithm", FormatInt(r.algorithm)},
        {"XSiz", FormatInt(r.XSiz)},
        {"YSiz", FormatInt(r.YSiz)},
        {"horizontalSpread", FormatInt(r.horizontalSpread)},
        {"verticalSpread", FormatInt(r.verticalSpread)},
        {"mapChannel", FormatInt(r.mapChannel)},
        {"dist", FormatFloat(r.dist)},
        {"selectedOnly", FormatInt(r.selectedOnly)},
        {"noiseOn", FormatInt(r.noiseOn)},
        {"noiseSize", FormatFloat(r.noiseSize)},
        {"mtlID", FormatInt(r.mtlID)},
        {"mtlIDOn", FormatInt(r.mtlIDOn)},
        {"addVertexColors", FormatInt(r.addVertexColors)},
    };
    if (!WritePrivateProfileStrings(kSettingsSection, entries, file.data()))
        DebugPrint("Dunsmere: settings not saved to %s\n", file.data());
}
