// The "UV Map" generation: the smurl value of every texel that the selected
// mesh's map triangles cover, computed on the host's worker threads,
// cleaned by two neighbourhood passes and written as a 16-bit grey bitmap to
// a file the user picks through the host's bitmap manager.
//
// Runs on the host's user-interface thread and returns when the run is over.
// Everything it tells the user goes through the host's message boxes and
// progress bar.
#pragma once

#include "eval/eval.h"
#include "host/threads.h"
#include "host/bitmap.h"
#include "map/run_state.h"

class Interface;

namespace dunsmere {

inline constexpr const char* kMapProgressTitle = "Building Smurl Map";
inline constexpr const char* kSavePartialBitmap = "Save Partial Bitmap?";
inline constexpr const char* kNoBitmap = "Could not create the smurl map bitmap";

// The 16-bit grey level of a smurl value: trunc(value * 65535), with 0 for
// values at or below 0 (and not-a-number) and 65535 at or above 1.
WORD GreyLevel(float value);

// A record it cannot serve (eval/settings_range.h) is refused before
// anything else, the grids untouched. Otherwise it sizes and clears state's
// grids to XSiz x YSiz before any other check, then needs exactly one
// selected node whose object converts to a triangle mesh.
// Faces are filtered by settings.selectedOnly and, with mtlIDOn, by mtlID;
// a face whose map face names a map vertex outside the channel is left out.
// A cancel during the evaluation still runs the passes and then asks whether
// to save the partial map. `starter` starts the workers; tests replace it.
void GenerateSmurlMap(Interface& ip, const UtilitySettings& settings, RunTables& tables, MapRunState& state,
                      ThreadStarter& starter = DefaultThreadStarter());

}  // namespace dunsmere
