// Smurl map layer: the "UV Map" generation, as the layers above use it.
//
//   texel.h      TexelRecord, the empty record and the edge marker
//   run_state.h  MapRunState: texel grid, value grid, worker flags, progress
//   smurl_map.h  GenerateSmurlMap, GreyLevel
//
// The rasterizer and the texel workers with their passes are the layer's
// own: map/detail/rasterize.h and map/detail/texel_workers.h.
#pragma once

#include "map/run_state.h"
#include "map/smurl_map.h"
#include "map/texel.h"
