// The library-wide state of the user-interface layer.
#include <atomic>

#include "ui/ui.h"
#include "ui/utility.h"

namespace dunsmere {

namespace {
std::atomic<HINSTANCE> gInstance{nullptr};
}  // namespace

void SetLibraryInstance(HINSTANCE instance) { gInstance.store(instance); }
HINSTANCE LibraryInstance() { return gInstance.load(); }

const char* LoadResourceString(int id)
{
    // One buffer for every caller: each call overwrites the text before.
    static char buffer[256];
    const HINSTANCE instance = LibraryInstance();
    if (!instance) return nullptr;
    return LoadStringA(instance, id, buffer, static_cast<int>(sizeof buffer)) > 0 ? buffer : nullptr;
}

DunsmereUtility& TheUtility()
{
    // Built at the first call rather than with the layer's other statics, so
    // that the library, not the link order, decides when it comes and goes.
    static DunsmereUtility utility;
    return utility;
}

UtilityObj& TheUtilityObject() { return TheUtility(); }

}  // namespace dunsmere
