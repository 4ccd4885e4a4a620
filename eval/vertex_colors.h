// The "Vertex Colors" generation: the smurl value at the centre of every
// (selected) face on the host's worker threads, averaged at each vertex, written as
// the grey level 1 - mean into the mesh's vertex-colour channel, replacing
// the colours there or multiplying them.
//
// Runs on the host's user-interface thread and returns when the run is over.
// Everything it tells the user goes through the host's message boxes and
// progress bar.
#pragma once

#include "eval/run_tables.h"
#include "eval/settings.h"
#include "host/threads.h"

class Interface;

namespace dunsmere {

inline constexpr const char* kVertexProgressTitle = "Building Vertex Smurl";

// A record it cannot serve (eval/settings_range.h) is refused before
// anything else: the selection is not even looked at. In accumulate mode a
// channel with fewer colour vertices than vertices, or fewer colour faces
// than faces, is reset and written as in replace mode. `starter` starts the
// workers; tests replace it to make a start fail.
void GenerateVertexColors(Interface& ip, const UtilitySettings& settings, RunTables& tables,
                          ThreadStarter& starter = DefaultThreadStarter());

}  // namespace dunsmere
