// A plug-in library built for another host version: the command must skip it
// with a warning that names the file, and go on to the real one.
#include "host/plugin_api.h"

extern "C" {
__attribute__((visibility("default"))) const char* LibDescription() { return "Old"; }
__attribute__((visibility("default"))) int LibNumberClasses() { return 0; }
__attribute__((visibility("default"))) ClassDesc* LibClassDesc(int) { return nullptr; }
__attribute__((visibility("default"))) unsigned long LibVersion() { return 0x10600800; }
}
