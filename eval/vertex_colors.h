// The "Vertex Colors" generation: the smurl value at the centre of every
// (selected) face on two worker threads, averaged at each vertex, written as
// the grey level 1 - mean into the mesh's vertex-colour channel, replacing
// the colours there or multiplying them.
//
// Runs on the host's user-interface thread and returns when the run is over.
// Everything it tells the user goes through the host's message boxes and
// progress bar.
#pragma once

#include "eval/run_tables.h"
#include "eval/settings.h"
#include "eval/threads.h"

class Interface;

inline constexpr const char* kMessageTitle = "Dunsmere";
inline constexpr const char* kSelectOneNode = "Select exactly one node";
inline constexpr const char* kNoTriObject = "Could not get TriObject";
inline constexpr const char* kNotEditableMesh = "Object must be unmodified Editable Mesh";
inline constexpr const char* kVertexProgressTitle = "Building Vertex Smurl";
inline constexpr const char* kOutOfMemory = "Not enough memory for the smurl calculation";

// A refusal or failure: a message box titled "Dunsmere" with the
// information icon.
void ShowInfo(Interface& ip, const char* text);

// `starter` starts the two workers; tests replace it to make a start fail.
void GenerateVertexColors(Interface& ip, const UtilitySettings& settings, RunTables& tables,
                          ThreadStarter& starter = DefaultThreadStarter());
