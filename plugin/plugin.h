// The plug-in library: the class descriptor, the library entry and the four
// exports the host calls. The utility object (the user-interface layer's)
// and the descriptor are the library's two static objects; plugin/library.cpp
// orders their construction.
#pragma once

#include "host/plugin_api.h"

#if defined(_WIN32)
#define DUNSMERE_PLUGIN_EXPORT  // exported by ordinal through Dunsmere.def
#else
#define DUNSMERE_PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

// The utility class's identifier: ours alone among the host's plug-ins.
inline constexpr Class_ID kDunsmereClassID{0x5D1E7A02, 0x3C9B4F61};

// Describes the utility class to the host and hands out the one utility
// object. It owns nothing; its texts come from the string table.
class DunsmereClassDesc : public ClassDesc2 {
public:
    ~DunsmereClassDesc() override = default;
    int IsPublic() override { return 1; }
    // Always the static utility object; nothing is allocated.
    void* Create(BOOL loading) override;
    const char* ClassName() override;
    SClass_ID SuperClassID() override { return UTILITY_CLASS_ID; }
    Class_ID ClassID() override { return kDunsmereClassID; }
    const char* Category() override;
    // Fixed: scripts name the class by it, whatever the string table says.
    const char* InternalName() override { return "Dunsmere"; }
    HINSTANCE HInstance() override;
};

// The one descriptor, a static of the library.
DunsmereClassDesc& TheClassDesc();

// Why the library entry is called.
inline constexpr DWORD kProcessDetach = 0;
inline constexpr DWORD kProcessAttach = 1;
inline constexpr DWORD kThreadAttach = 2;
inline constexpr DWORD kThreadDetach = 3;

// The library entry. Every call stores `instance` as the library's instance
// handle and registers the library's resources under it (a process detach
// withdraws them, as the platform does with a module's resources); the
// first call also initialises the host's custom controls and the common
// controls. Never refuses: always TRUE.
BOOL LibraryEntry(HINSTANCE instance, DWORD reason, void* reserved);

// The dialog templates and the string table.
const ResourceTable& LibraryResources();

extern "C" {
DUNSMERE_PLUGIN_EXPORT const char* LibDescription();
DUNSMERE_PLUGIN_EXPORT int LibNumberClasses();
DUNSMERE_PLUGIN_EXPORT ClassDesc* LibClassDesc(int i);
DUNSMERE_PLUGIN_EXPORT unsigned long LibVersion();
}
