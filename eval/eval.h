// Sample evaluation layer: what it offers the layers above.
//
//   settings.h       UtilitySettings, the algorithm codes
//   bake_hooks.h     BakeHooks, BakeStatus: what a host-free bake asks and answers
//   host_hooks.h     HostBakeHooks, WorkerThreadsFor: a bake's hooks answered by the host
//   rng.h            CrtRand, the per-worker pseudo-random generator
//   sample.h         EvaluateSample, SampleTables, RayCount
//   run_tables.h     RunTables: face and vertex normals, workLock, current mesh
//   occluders.h      GatherOccluders, GatherSources, GatherCage: the host's nodes beside the selected one
//   projection.h     ProjectionTables: a bake from high-poly sources, sample by sample
//   workers.h        kWorkerStackBytes, ThreadStartError
//   run_engine.h     RunWorkers: a run's item sequences on the hooks' threads
//   messages.h       the generations' message texts, ShowInfo
//   settings_range.h RefuseUnservableSettings: the values no run can serve
//   setting_text.h   SettingText: a value as the settings file writes it
//   face_values.h    FaceValueBake: the host-free core of the vertex colours
//   vertex_colors.h  GenerateVertexColors
//
// The engine's bookkeeping (ThreadTracker, WaitForWorkers) is the layer's
// own: eval/detail/threads.h.
#pragma once

#include "eval/bake_hooks.h"
#include "eval/face_values.h"
#include "eval/host_hooks.h"
#include "eval/messages.h"
#include "eval/occluders.h"
#include "eval/projection.h"
#include "eval/rng.h"
#include "eval/run_engine.h"
#include "eval/run_tables.h"
#include "eval/sample.h"
#include "eval/settings.h"
#include "eval/settings_range.h"
#include "eval/setting_text.h"
#include "eval/vertex_colors.h"
#include "eval/workers.h"
