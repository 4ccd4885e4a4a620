// Smurl map layer: the "UV Map" generation, as the layers above use it.
//
//   texel.h            TexelRecord, the empty record and the edge marker
//   run_state.h        MapRunState: texel grid, value grid, worker flags, progress
//   texel_evaluator.h  TexelEvaluator: what the workers compute per texel
//   map_bake.h         ResetMapGrids, MapBake: the host-free core of a map run
//   smurl_map.h        GenerateSmurlMap, GreyLevel
//
// The rasterizer and the texel workers with their passes are the layer's
// own: map/detail/rasterize.h and map/detail/texel_workers.h; an evaluator
// type reaches the workers through map/detail/texel_loop.h.
#pragma once

#include "map/map_bake.h"
#include "map/run_state.h"
#include "map/smurl_map.h"
#include "map/texel.h"
#include "map/texel_evaluator.h"
