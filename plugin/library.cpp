// The library's static objects and its entry.
//
// The utility object is constructed first and the descriptor second, so
// they are destroyed in the reverse order at unload. Neither constructor
// needs the instance handle, which is not known yet while they run.
#include <atomic>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include "host/runtime.h"
#include "plugin/plugin.h"
#include "ui/library.h"
#include "ui/utility.h"

namespace {

DunsmereUtility theUtility;
DunsmereClassDesc theClassDesc;

std::atomic<HINSTANCE> gInstance{nullptr};
std::atomic<int> gControlsInitialised{0};

}  // namespace

DunsmereUtility& TheUtility() { return theUtility; }
DunsmereClassDesc& TheClassDesc() { return theClassDesc; }
HINSTANCE LibraryInstance() { return gInstance.load(); }

BOOL LibraryEntry(HINSTANCE instance, DWORD reason, void*)
{
    gInstance.store(instance);
    try {
        RegisterResources(instance, reason == kProcessDetach ? nullptr : &LibraryResources());
    } catch (...) {
        // The entry runs inside the platform's loader: report, never throw.
        assert1(__LINE__, "LibraryEntry");
    }
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
