// The library's static objects and its entry.
//
// The utility object (the user-interface layer's) is constructed first and
// the descriptor second, so they are destroyed in the reverse order at
// unload. Neither constructor needs the instance handle, which is not known
// yet while they run.
#include <atomic>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include "host/export_guard.h"
#include "plugin/plugin.h"
#include "ui/ui.h"

using namespace dunsmere;

namespace {

// Statics of one file are constructed in their order of definition; the
// utility object is built by its first use, here, whatever the link order.
UtilityObj& theUtility = TheUtilityObject();
DunsmereClassDesc theClassDesc;

std::atomic<int> gControlsInitialised{0};

}  // namespace

DunsmereClassDesc& TheClassDesc() { return theClassDesc; }

BOOL LibraryEntry(HINSTANCE instance, DWORD reason, void*)
{
    SetLibraryInstance(instance);
    // The entry runs inside the platform's loader: report, never throw.
    CallGuarded("LibraryEntry", __LINE__,
                [&] { RegisterResources(instance, reason == kProcessDetach ? nullptr : &LibraryResources()); });
    if (gControlsInitialised.exchange(1) == 0) {
        InitCustomControls(instance);
        InitCommonControls();
    }
    return TRUE;
}

#if defined(_WIN32)

extern "C" BOOL __stdcall DllMain(HINSTANCE instance, DWORD reason, void* reserved)
{
    return LibraryEntry(instance, reason, reserved);
}

#else

namespace {

// The platform calls no entry of its own here, so this object does: it is
// constructed after the other two statics (load) and destroyed before them
// (unload). The instance handle is the library's base address.
class LibraryLoader {
public:
    LibraryLoader() { LibraryEntry(Base(), kProcessAttach, nullptr); }
    ~LibraryLoader() { LibraryEntry(Base(), kProcessDetach, nullptr); }
    LibraryLoader(const LibraryLoader&) = delete;
    LibraryLoader& operator=(const LibraryLoader&) = delete;

private:
    static HINSTANCE Base()
    {
        Dl_info info{};
        return dladdr(&theUtility, &info) ? info.dli_fbase : nullptr;
    }
};

LibraryLoader theLoader;

}  // namespace

#endif
