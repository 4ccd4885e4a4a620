// What the panel needs of the plug-in library that holds it. The plug-in
// (plugin/) defines these; the panel only calls them.
#pragma once

#include "host/dialog.h"

class DunsmereUtility;

// The one utility object, a static of the library.
DunsmereUtility& TheUtility();
// The library's instance handle as the library entry last stored it; null
// before the entry has run.
HINSTANCE LibraryInstance();
// String `id` of the library's string table, in one static buffer that each
// call overwrites; null before the instance handle is known and for a
// missing or empty string.
const char* LoadResourceString(int id);
