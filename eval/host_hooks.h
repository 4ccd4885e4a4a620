// A bake's hooks as the host's core interface answers them: its worker
// count, its progress bar and cancel query, its wakeable sleep and its
// clock. The hooks call the host only while it lives.
#pragma once

#include "eval/bake_hooks.h"
#include "host/core.h"
#include "host/threads.h"

namespace dunsmere {

// The host's worker count, 1..kMaxWorkerThreads; two where the host has no
// say.
int WorkerThreadsFor(Interface& ip);

BakeHooks HostBakeHooks(Interface& ip, ThreadStarter& starter);

}  // namespace dunsmere
