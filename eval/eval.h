// Sample evaluation layer.
//
//   settings.h  UtilitySettings, the algorithm codes
//   rng.h       CrtRand, the per-worker pseudo-random generator
//   sample.h    EvaluateSample, SampleTables, RayCount
#pragma once

#include "eval/rng.h"
#include "eval/sample.h"
#include "eval/settings.h"
