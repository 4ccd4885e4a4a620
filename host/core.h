// The host's core interface: what the plug-in asks of the host application.
// The standalone command and the tests each provide one and install it with
// SetCOREInterface. Called only on the host's user-interface thread.
#pragma once

#include "host/runtime.h"

// Directory codes of GetDir.
inline constexpr int APP_PLUGCFG_DIR = 9;

class Interface {
public:
    virtual ~Interface() = default;

    // The directory text for `which` (APP_PLUGCFG_DIR: the plug-in
    // configuration directory), without a trailing separator.
    virtual const char* GetDir(int which) = 0;
};
