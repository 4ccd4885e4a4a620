// Sample evaluation layer.
//
//   settings.h       UtilitySettings, the algorithm codes
//   rng.h            CrtRand, the per-worker pseudo-random generator
//   sample.h         EvaluateSample, SampleTables, RayCount
//   run_tables.h     RunTables: face and vertex normals, workLock, current mesh
//   threads.h        ThreadTracker, WorkerArg, ThreadStarter, WaitForWorkers
//   vertex_colors.h  GenerateVertexColors
#pragma once

#include "eval/rng.h"
#include "eval/run_tables.h"
#include "eval/sample.h"
#include "eval/settings.h"
#include "eval/threads.h"
#include "eval/vertex_colors.h"
