// The four functions the host looks up by name (or, on Windows, by ordinal
// 1 to 4). Nothing thrown inside may cross into the host.
#include "host/export_guard.h"
#include "plugin/plugin.h"
#include "ui/ui.h"

using namespace dunsmere;

const char* LibDescription()
{
    return CallGuarded<const char*>("LibDescription", __LINE__, nullptr,
                                    [] { return LoadResourceString(kStrLibDescription); });
}

int LibNumberClasses() { return 1; }

ClassDesc* LibClassDesc(int i)
{
    return CallGuarded<ClassDesc*>("LibClassDesc", __LINE__, nullptr,
                                   [i]() -> ClassDesc* { return i == 0 ? &TheClassDesc() : nullptr; });
}

// The host interface version this library is built for.
unsigned long LibVersion() { return kHostInterfaceVersion; }
