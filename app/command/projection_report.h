// What the command makes of a bake from high-poly meshes: the miss map's
// file, the warning that counts the misses, and the share of misses past
// which a run fails (--max-miss-share).
#pragma once

#include <string>

#include "app/command/options.h"
#include "app/session/outcome.h"

namespace dunsmere {

// Writes the miss map PROJECTION holds to PATH as a 16-bit grey image (an
// OpenEXR file as its grey channel). Throws CommandError (a failure) naming
// the file; false, writing nothing, when the run left no miss map.
bool WriteMissMap(const std::string& path, const RunOutcome::Projection& projection, int threads);

// Adds a tile's or a run's counts to TOTAL.
void AddProjection(RunOutcome::Projection& total, const RunOutcome::Projection& more);

// "FILE: N of M samples missed the high-poly meshes (...)", with the reach
// the rays had in the mesh's own units (the plug-in saw them times
// 2^EXPONENT); "" when none missed.
std::string MissWarning(const std::string& file, const RunOutcome::Projection& projection, int exponent);

// Why the run fails for its misses: more than O.maxMissShare of its
// samples missed; "" when it does not.
std::string MissShareFailure(const CommandOptions& o, const RunOutcome::Projection& projection);

}  // namespace dunsmere
