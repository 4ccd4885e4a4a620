// The faces a map run bakes, with their map triangles: the face rule's
// choice (selection, material, a map face naming a vertex outside the
// channel), walked in face order.
//
// User-interface thread.
#pragma once

#include <functional>

#include "eval/eval.h"
#include "host/core.h"
#include "host/mesh.h"

// Calls `face` for each baked face with its map vertices, moving the bar
// through the share of faces seen and writing the debug line of each face
// that another material leaves out. Calls nothing when the mesh lacks the
// map channel.
void ForEachMappedFace(Interface& ip, const Mesh& mesh, const UtilitySettings& settings,
                       const std::function<void(int face, Point3 p0, Point3 p1, Point3 p2)>& face);
