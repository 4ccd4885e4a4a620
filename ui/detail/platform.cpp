#include "ui/detail/platform.h"

namespace dunsmere {

namespace detail {

const ProfileSnapshot* SettingsPlatform::SnapshotOf(const char* path) const
{
    return snapshot_ && path && snapshot_->Path() == path ? &*snapshot_ : nullptr;
}

int SettingsPlatform::ReadInt(const char* section, const char* key, int defaultValue, const char* path)
{
    if (const ProfileSnapshot* file = SnapshotOf(path)) return file->GetInt(section, key, defaultValue);
    return GetPrivateProfileInt(section, key, defaultValue, path);
}

void SettingsPlatform::ReadText(const char* section, const char* key, const char* defaultText, char* buffer,
                                int size, const char* path)
{
    if (const ProfileSnapshot* file = SnapshotOf(path))
        file->GetString(section, key, defaultText, buffer, size);
    else
        GetPrivateProfileString(section, key, defaultText, buffer, size, path);
}

void SettingsPlatform::OpenSnapshot(const char* path) { snapshot_.emplace(path); }
void SettingsPlatform::CloseSnapshot() { snapshot_.reset(); }

bool SettingsPlatform::WriteKeys(const char* section, const ProfileEntries& entries, const char* path)
{
    return WritePrivateProfileStrings(section, entries, path);
}

ICustEdit* SettingsPlatform::GetEdit(HWND page, int id) { return GetICustEdit(GetDlgItem(page, id)); }

ISpinnerControl* SettingsPlatform::SetupIntSpinner(HWND page, int spinner, int edit, int min, int max, int value)
{
    return ::SetupIntSpinner(page, spinner, edit, min, max, value);
}

ISpinnerControl* SettingsPlatform::SetupFloatSpinner(HWND page, int spinner, int edit, float min, float max,
                                                     float value, float scale)
{
    return ::SetupFloatSpinner(page, spinner, edit, min, max, value, scale);
}

void SettingsPlatform::ReleaseEdit(ICustEdit* edit) { ReleaseICustEdit(edit); }
void SettingsPlatform::ReleaseSpinner(ISpinnerControl* spinner) { ReleaseISpinner(spinner); }

void SettingsPlatform::SetSpinner(ISpinnerControl* spinner, int value) { spinner->SetValue(value, FALSE); }
void SettingsPlatform::SetSpinner(ISpinnerControl* spinner, float value) { spinner->SetValue(value, FALSE); }
int SettingsPlatform::EditInt(ICustEdit* edit) { return edit->GetInt(); }
float SettingsPlatform::EditFloat(ICustEdit* edit) { return edit->GetFloat(); }

void SettingsPlatform::CheckRadio(HWND page, int first, int last, int id) { CheckRadioButton(page, first, last, id); }
void SettingsPlatform::CheckButton(HWND page, int id, UINT state) { CheckDlgButton(page, id, state); }
UINT SettingsPlatform::ButtonState(HWND page, int id) { return IsDlgButtonChecked(page, id); }
void SettingsPlatform::Enable(HWND page, int id, BOOL on) { EnableWindow(GetDlgItem(page, id), on); }

namespace {
SettingsPlatform gDefault;
SettingsPlatform* gPlatform = &gDefault;
}  // namespace

SettingsPlatform& Platform() { return *gPlatform; }

SettingsPlatform* SetPlatform(SettingsPlatform* platform)
{
    SettingsPlatform* previous = gPlatform;
    gPlatform = platform ? platform : &gDefault;
    return previous;
}

}  // namespace detail

}  // namespace dunsmere
