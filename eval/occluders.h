// The host's occluder nodes as a run's ray scene takes them: meshes of the
// run's own, in the selected node's space, whose faces shade the selected
// mesh and are never sampled or written.
//
// User-interface thread, before any worker starts.
#pragma once

#include <vector>

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

}  // namespace dunsmere
