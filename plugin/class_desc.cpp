// The class descriptor's operations.
#include "plugin/plugin.h"
#include "ui/ui.h"

using namespace dunsmere;

// The host casts the result to UtilityObj*: hand it that subobject.
void* DunsmereClassDesc::Create(BOOL) { return &TheUtilityObject(); }

const char* DunsmereClassDesc::ClassName() { return LoadResourceString(kStrClassName); }

const char* DunsmereClassDesc::Category() { return LoadResourceString(kStrCategory); }

HINSTANCE DunsmereClassDesc::HInstance() { return LibraryInstance(); }
