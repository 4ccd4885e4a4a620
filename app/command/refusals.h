// Refusals before work: runs the command can tell will be useless before it
// bakes, refused with status 2 and nothing written. The plug-in itself would
// go on (a mesh without map coordinates still gets its black map); these are
// the standalone host's own policy. Each throws CommandError.
#pragma once

#include <string>
#include <vector>

#include "app/command/batch.h"
#include "app/command/options.h"
#include "app/session/standalone_host.h"
#include "host/face_rule.h"
#include "host/mesh.h"

namespace dunsmere {

// Refuses, before any mesh is read, the outputs of a batch and the
// --write-preset target of OPTIONS when one cannot be written: it exists and
// is not a regular file (a folder, a FIFO, a device, or a link to one, which
// the write's rename would replace), it is an input or occluder file (the
// same device and inode, links followed), the preset names an output, its
// folder is missing, or no file can be made beside it, which is found by
// making and removing a temporary there as the write itself will. The
// missing folders of a pattern's outputs are made first. An output that
// names UDIM tiles stands for the files of the tiles OPTIONS.tiles names, or
// for tile 1001's when it names none.
// The miss maps of SIDES are refused likewise, and when one is an output;
// the files they read (high-poly meshes, cages) count as inputs.
void RefuseUnwritableOutputs(const CommandOptions& options, const std::vector<std::string>& outputs,
                             const std::vector<SideFiles>& sides = {});

// The faces a map run will leave out, by reason, as the map generation's
// own rule decides ("12 not selected, 3 other material IDs"); COUNT gets
// how many.
std::string FacesLeftOut(const Mesh& mesh, const MapFaceFilter& filter, int& count);

// Refuses a map of NODE that would bake no face: its mesh has no
// coordinates in the filter's channel (the message names the channels it
// has), or every face is left out (the counts and reasons). A mesh without
// faces is left to the plug-in.
void RefuseUselessMap(SceneNode& node, const MapFaceFilter& filter);

}  // namespace dunsmere
