// The host's nodes beside the selected one, as a run takes them: meshes of
// the run's own, in the selected node's space. Occluders' faces shade the
// selected mesh; sources' surfaces are sampled in its place (a bake from
// high-poly meshes); a cage says where the projection's rays start. None
// of them is ever written.
//
// User-interface thread, before any worker starts.
#pragma once

#include <optional>
#include <vector>

#include "eval/run_tables.h"
#include "eval/settings.h"
#include "host/core.h"
#include "host/mesh.h"

namespace dunsmere {

// None unless settings.sceneOccluders is set. Otherwise, in the host's
// order, one mesh per occluder node whose evaluated object converts to a
// triangle mesh: its positions carried by the node's matrix and its faces'
// corners, nothing else (no map channel, selection or smoothing). A face
// naming a vertex its mesh lacks is left out. A mirroring matrix has each
// face's corners taken in turned order, so that a face fronts the side it
// fronted in its own node. Objects a conversion made are deleted before
// the call returns.
std::vector<Mesh> GatherOccluders(Interface& ip, const UtilitySettings& settings);

// None unless settings.highPoly is set. Otherwise the source nodes' meshes
// as GatherOccluders takes the occluders', each face keeping its smoothing
// group: a source is sampled with its own smoothed normals.
std::vector<Mesh> GatherSources(Interface& ip, const UtilitySettings& settings);
// With settings.highPoly, the cage node's mesh as GatherOccluders takes
// one (only its positions and corners count); nullopt for none.
std::optional<Mesh> GatherCage(Interface& ip, const UtilitySettings& settings);

// A generation's sources and cage for MESH, into the tables (emptied
// without settings.highPoly). Null when the run may go on; otherwise the
// message that refuses it: no source, a cage whose face count is not the
// mesh's, or no memory for their copies.
const char* TakeSources(Interface& ip, const UtilitySettings& settings, const Mesh& mesh, RunTables& tables);

}  // namespace dunsmere
