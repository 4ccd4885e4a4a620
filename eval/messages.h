// What the generations tell the user: message boxes titled "Dunsmere", with
// the information icon for a refusal or failure.
#pragma once

class Interface;

namespace dunsmere {

inline constexpr const char* kMessageTitle = "Dunsmere";
inline constexpr const char* kSelectOneNode = "Select exactly one node";
inline constexpr const char* kNoTriObject = "Could not get TriObject";
inline constexpr const char* kNotEditableMesh = "Object must be unmodified Editable Mesh";
inline constexpr const char* kOutOfMemory = "Not enough memory for the smurl calculation";
inline constexpr const char* kNoSourceMesh = "Bake from high-poly is on, but no high-poly mesh is given";
inline constexpr const char* kCageFaceCount = "The cage must have the mesh's faces, in the mesh's order";
// Followed by "KEY = VALUE" (eval/settings_range.h).
inline constexpr const char* kSettingsOutOfRange = "Settings out of range: ";

// A refusal or failure: a message box titled "Dunsmere" with the
// information icon. User-interface thread.
void ShowInfo(Interface& ip, const char* text);

}  // namespace dunsmere
