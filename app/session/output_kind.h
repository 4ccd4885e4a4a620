// What a run can write: a map as an image file, vertex colours as a mesh
// file.
#pragma once

#include <optional>
#include <string>

#include "app/session/bake_algorithm.h"

namespace dunsmere {

// Throws SessionError, naming OUTPUT, when a run of ALGORITHM cannot write
// it.
void CheckOutputKind(const std::string& output, std::optional<BakeAlgorithm> algorithm);

}  // namespace dunsmere
