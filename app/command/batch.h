// Batches: several mesh files baked in turn with one set of options, each
// file its own selection, and the output named by a pattern. The plan is
// made, and refused, before any mesh is read.
#pragma once

#include <string>
#include <vector>

#include "app/command/options.h"
#include "app/session/standalone_host.h"

namespace dunsmere {

// What a pattern's placeholders stand for, for one input.
struct OutputNames {
    std::string input;  // the mesh file as given
    std::string node;   // the node the file becomes
    int index = 1;      // 1-based position among the inputs
    int channel = 1;    // the map channel
};

// Whether PATTERN holds a placeholder: {stem}, {name}, {ext}, {channel},
// {index} or {base}. "{{" writes a brace; a brace that opens no "{word}" is part of
// the name.
bool HasPlaceholder(const std::string& pattern);
bool NamesChannel(const std::string& pattern);

// Why PATTERN cannot name outputs, listing the placeholders: it holds a
// "{word}" that names none. "" when it can. {udim} is known, and left for
// the tiles to fill (app/command/tiles.h).
std::string PatternError(const std::string& pattern);

// PATTERN with each placeholder replaced: {stem} the file name without
// folder or extension, {name} the node name, {ext} the extension without
// its dot, {channel} and {index} in decimal, {base} the stem without a
// trailing "_low" in any case (a low mesh's high mesh).
std::string ExpandOutput(const std::string& pattern, const OutputNames& names);

// The outputs of a batch, one per input, in input order; CHANNEL fills
// {channel}. Throws CommandError (usage) when several inputs share a
// pattern without a placeholder, or two inputs come to the same output.
std::vector<std::string> PlanOutputs(const CommandOptions& options, int channel);

// What a bake from high-poly meshes reads and writes beside an input: the
// --high and --cage files and the --miss-map output, each pattern expanded
// as the output's for that input.
struct SideFiles {
    std::vector<std::string> highs;
    std::string cage, missMap;
};

// The side files of a batch, one set per input, in input order. Throws
// CommandError (usage) when several inputs share a miss map without a
// placeholder.
std::vector<SideFiles> PlanSides(const CommandOptions& options, int channel);

// The worse of two exit statuses, by 70 > 2 > 1 > 0.
int WorseStatus(int a, int b);

}  // namespace dunsmere
