// The command's side of the standalone host: the progress bar on stderr,
// Ctrl-C as the cancel request, and message boxes as stderr lines, each
// printed once (quiet drops all but refusals and the question).
#pragma once

#include <optional>

#include "app/command/progress.h"
#include "app/session/hooks.h"

namespace dunsmere {

// The hooks of one run, drawing on BAR, which must outlive them. The one
// question ("Save Partial Bitmap?") takes SAVE_PARTIAL where given, else is
// asked on a terminal, else answered No; it is printed with its answer.
HostHooks CommandHooks(ProgressBar& bar, bool quiet, std::optional<bool> savePartial);

}  // namespace dunsmere
