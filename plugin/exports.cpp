// The four functions the host looks up by name (or, on Windows, by ordinal
// 1 to 4). Nothing thrown inside may cross into the host.
#include "host/runtime.h"
#include "plugin/plugin.h"
#include "ui/library.h"
#include "ui/panel.h"

const char* LibDescription()
{
    try {
        return LoadResourceString(kStrLibDescription);
    } catch (...) {
        assert1(__LINE__, "LibDescription");
        return nullptr;
    }
}

int LibNumberClasses() { return 1; }

ClassDesc* LibClassDesc(int i)
{
    try {
        return i == 0 ? &TheClassDesc() : nullptr;
    } catch (...) {
        assert1(__LINE__, "LibClassDesc");
        return nullptr;
    }
}

// The host interface version this library is built for.
unsigned long LibVersion() { return kHostInterfaceVersion; }
