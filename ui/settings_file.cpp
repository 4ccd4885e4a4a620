// Loading and saving the settings record, row by row of the settings table.
#include <optional>
#include <string>

#include "eval/eval.h"
#include "host/core.h"
#include "host/numbers.h"
#include "host/runtime.h"
#include "ui/detail/platform.h"
#include "ui/utility.h"

namespace dunsmere {

using detail::Platform;

namespace {

float ReadFloat(const char* key, const char* defaultText, const char* path)
{
    char buffer[80];
    Platform().ReadText(kSettingsSection, key, defaultText, buffer, sizeof buffer, path);
    return ParseFloatC(buffer);
}

// The reads of one load, all from one snapshot of the file: a save that
// runs meanwhile cannot give it keys of two files.
class LoadSnapshot {
public:
    explicit LoadSnapshot(const char* path) { Platform().OpenSnapshot(path); }
    ~LoadSnapshot() { Platform().CloseSnapshot(); }
    LoadSnapshot(const LoadSnapshot&) = delete;
    LoadSnapshot& operator=(const LoadSnapshot&) = delete;
};

bool AtLoadDefault(const SettingField& f, const UtilitySettings& s)
{
    return f.kind == SettingKind::Float ? s.*f.real == ParseFloatC(f.loadText) : s.*f.integer == f.loadInt;
}

}  // namespace

Interface* DunsmereUtility::Core() const { return ip ? ip : GetCOREInterface(); }

CStr DunsmereUtility::SettingsFilePath() const
{
    Interface* core = Core();
    const char* dir = core ? core->GetDir(APP_PLUGCFG_DIR) : nullptr;
    // Without a directory the path would name a file in the root.
    if (!dir || !*dir) return CStr();
    CStr path(dir);
    path += "\\";
    path += kSettingsFileName;
    return path;
}

void DunsmereUtility::LoadSettings()
{
    const CStr file = SettingsFilePath();
    const char* path = file.data();
    const bool known = file.Length() > 0;
    if (!known) DebugPrint("Dunsmere: no plug-in configuration directory; settings not loaded\n");
    std::optional<LoadSnapshot> snapshot;
    if (known) snapshot.emplace(path);
    for (const int i : kLoadSteps) {
        const SettingField& f = kSettingFields[i];
        if (f.kind == SettingKind::Float)
            settings.*f.real = known ? ReadFloat(f.key, f.loadText, path) : ParseFloatC(f.loadText);
        else
            settings.*f.integer = known ? Platform().ReadInt(kSettingsSection, f.key, f.loadInt, path) : f.loadInt;
    }
}

void DunsmereUtility::SaveSettings() const
{
    const CStr file = SettingsFilePath();
    if (file.Length() == 0) {
        DebugPrint("Dunsmere: no plug-in configuration directory; settings not saved\n");
        return;
    }
    ProfileEntries entries;
    for (const int i : kSaveSteps) {
        const SettingField& f = kSettingFields[i];
        // A key at its default is removed, so that the file goes back to
        // what a file of defaults has always been.
        if (f.savedOnlyWhenNotDefault && AtLoadDefault(f, settings)) {
            entries.emplace_back(f.key, std::nullopt);
            continue;
        }
        entries.emplace_back(f.key, f.kind == SettingKind::Float ? SettingText(settings.*f.real)
                                                                 : SettingText(settings.*f.integer));
    }
    if (!Platform().WriteKeys(kSettingsSection, entries, file.data()))
        DebugPrint("Dunsmere: settings not saved to %s\n", file.data());
}

}  // namespace dunsmere
