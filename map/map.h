// Smurl map layer: the "UV Map" generation.
//
//   texel.h          TexelRecord, the empty record and the edge marker
//   run_state.h      MapRunState: texel grid, value grid, worker flags, progress
//   rasterize.h      RasterizeFace, DrawLine, WrapToUnit
//   texel_workers.h  TexelJob, TexelWorker(Even|Odd), RepairSpeckles, DilateCoverage
//   smurl_map.h      GenerateSmurlMap, GreyLevel
#pragma once

#include "map/rasterize.h"
#include "map/run_state.h"
#include "map/smurl_map.h"
#include "map/texel.h"
#include "map/texel_workers.h"
