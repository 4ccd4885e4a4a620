// The user-interface layer as the plug-in library uses it: the ids of the
// library's resources and the settings' controls (the templates that carry
// them are the library's), and the library-wide state the layer keeps, which
// the library entry fills.
//
//   resource_ids.h    dialog templates, strings, push buttons, radio buttons
//   settings_table.h  the settings' rows: keys, controls, ranges, defaults
#pragma once

#include "host/dialog.h"
#include "host/plugin_api.h"
#include "ui/resource_ids.h"
#include "ui/settings_table.h"

namespace dunsmere {

// The library's instance handle: stored by the library entry on every call,
// null until its first. Any thread.
void SetLibraryInstance(HINSTANCE instance);
HINSTANCE LibraryInstance();

// String ID of the library's string table, in one 256-character buffer that
// each call overwrites (a caller that keeps the text must copy it). Null
// before the instance handle is known and for a missing or empty string.
// User-interface thread.
const char* LoadResourceString(int id);

// The one utility object, as the host sees it. It comes into being at the
// first call; the library makes that call before it constructs its class
// descriptor, so that unloading destroys the two in the reverse order.
UtilityObj& TheUtilityObject();

}  // namespace dunsmere
