// Every platform call the settings' operations make: the three INI
// operations of the settings file and the page's controls by id. The settings
// file and the panel reach the platform through Platform() alone, so that a
// test can put a recorder in between and see each call, in order, with its
// values. The default forwards each call to the host function named beside it.
//
// User-interface thread only.
#pragma once

#include "host/dialog.h"
#include "host/ini.h"

#include <optional>

namespace dunsmere {

namespace detail {

class SettingsPlatform {
public:
    virtual ~SettingsPlatform() = default;

    // GetPrivateProfileInt, GetPrivateProfileString, WritePrivateProfileStrings.
    // While a snapshot is open, the two reads of its path answer from it.
    virtual int ReadInt(const char* section, const char* key, int defaultValue, const char* path);
    virtual void ReadText(const char* section, const char* key, const char* defaultText, char* buffer, int size,
                          const char* path);
    virtual bool WriteKeys(const char* section, const ProfileEntries& entries, const char* path);
    // ProfileSnapshot of PATH, for the reads of one load; closing drops it.
    virtual void OpenSnapshot(const char* path);
    virtual void CloseSnapshot();

    // GetICustEdit of GetDlgItem, SetupIntSpinner, SetupFloatSpinner,
    // ReleaseICustEdit, ReleaseISpinner.
    virtual ICustEdit* GetEdit(HWND page, int id);
    virtual ISpinnerControl* SetupIntSpinner(HWND page, int spinner, int edit, int min, int max, int value);
    virtual ISpinnerControl* SetupFloatSpinner(HWND page, int spinner, int edit, float min, float max, float value,
                                               float scale);
    virtual void ReleaseEdit(ICustEdit* edit);
    virtual void ReleaseSpinner(ISpinnerControl* spinner);

    // ISpinnerControl::SetValue without notification; ICustEdit::GetInt and
    // GetFloat, not asking whether the text was a number.
    virtual void SetSpinner(ISpinnerControl* spinner, int value);
    virtual void SetSpinner(ISpinnerControl* spinner, float value);
    virtual int EditInt(ICustEdit* edit);
    virtual float EditFloat(ICustEdit* edit);

    // CheckRadioButton, CheckDlgButton, IsDlgButtonChecked, EnableWindow of
    // GetDlgItem.
    virtual void CheckRadio(HWND page, int first, int last, int id);
    virtual void CheckButton(HWND page, int id, UINT state);
    virtual UINT ButtonState(HWND page, int id);
    virtual void Enable(HWND page, int id, BOOL on);

private:
    std::optional<ProfileSnapshot> snapshot_;
    const ProfileSnapshot* SnapshotOf(const char* path) const;
};

// The platform in use: the default unless a test has installed another.
SettingsPlatform& Platform();
// Installs PLATFORM (nullptr: the default again) and returns the previous one.
SettingsPlatform* SetPlatform(SettingsPlatform* platform);

}  // namespace detail

}  // namespace dunsmere
