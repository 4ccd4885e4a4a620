// The class descriptor's operations.
#include "plugin/plugin.h"
#include "ui/library.h"
#include "ui/panel.h"
#include "ui/utility.h"

void* DunsmereClassDesc::Create(BOOL)
{
    // The host casts the result to UtilityObj*: hand it that subobject.
    return static_cast<UtilityObj*>(&TheUtility());
}

const char* DunsmereClassDesc::ClassName() { return LoadResourceString(kStrClassName); }

const char* DunsmereClassDesc::Category() { return LoadResourceString(kStrCategory); }

HINSTANCE DunsmereClassDesc::HInstance() { return LibraryInstance(); }
