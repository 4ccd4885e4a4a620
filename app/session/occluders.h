// The standalone host's nodes beside the selection: mesh files that shade
// the selected mesh without being baked, and a ground plane under it; and
// the high-poly meshes a bake may take its surface from, with their cage. Their files are in
// the selected node's space already, so the host offers each with the
// identity matrix.
//
// User-interface thread, before the panel's "Generate".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/session/standalone_host.h"
#include "app/mesh/mesh_file.h"
#include "host/mesh.h"

namespace dunsmere {

// The ground plane under MESH for AXIS, one of "-x", "+x", "-y", "+y", "-z",
// "+z": two triangles in the plane where the coordinate on that axis is
// exactly the smallest (for "-") or largest (for "+") of the vertices that
// faces use, fronting the mesh (for "-z" its normal is +z). It is centred
// on the middle of the mesh's bounding box and its sides, along the other
// two axes, are 10 times that box's diagonal. Empty for a mesh without
// faces. Throws SessionError for any other AXIS, or when the plane
// would fail the mesh check.
Mesh GroundPlane(const Mesh& mesh, const std::string& axis);

// Adds the occluders to HOST, after its scene is loaded: one node per file
// of FILES, read with READING, in order, then the ground plane under the one
// selected node's mesh when GROUND_PLANE is given (with any other selection
// there is nothing to be under, and the plug-in refuses the run itself).
// False when the user cancelled a read. Throws what ReadMeshFile and
// GroundPlane throw.
bool AddOccluders(StandaloneHost& host, const std::vector<std::string>& files,
                  const std::optional<std::string>& groundPlane, const MeshReading& reading = {});

// Adds the sources of a bake from high-poly meshes to HOST, after its scene
// is loaded: one node per file of FILES, in order, and the cage read from
// CAGE ("" for none), whose faces must number the one selected node's.
// False when the user cancelled a read. Throws what ReadMeshFile throws,
// and SessionError for such a cage.
bool AddSources(StandaloneHost& host, const std::vector<std::string>& files, const std::string& cage,
                const MeshReading& reading = {});
// Throws SessionError when HOST's cage does not have the one selected
// node's face count.
void CheckCage(StandaloneHost& host);

}  // namespace dunsmere
