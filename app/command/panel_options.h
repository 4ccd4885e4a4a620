// The command's options typed into the panel.
#pragma once

#include "app/command/options.h"
#include "app/session/panel.h"

namespace dunsmere {

// Types, ticks and clicks what the options set, as a user would: the
// algorithm first, then the edits, then the check boxes. An option the
// panel has no control for is left out.
void ApplyOptions(const Panel& panel, const CommandOptions& options);

}  // namespace dunsmere
