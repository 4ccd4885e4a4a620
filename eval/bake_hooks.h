// What a bake needs from whoever runs it, and how it ends.
//
// A bake (the map's, the vertex values') knows no host: it starts its
// threads, reports progress, asks about a cancel, waits and reads the clock
// through these hooks. The generations fill them from the host's core
// interface (eval/host_hooks.h); any other caller fills them its own way.
#pragma once

#include <cstdint>
#include <functional>

#include "host/threads.h"

namespace dunsmere {

struct BakeHooks {
    // How many threads to run: 1..kMaxWorkerThreads (eval/run_engine.h). A
    // bake asks it where the host would be asked, so a host that counts
    // the questions sees them as before.
    std::function<int()> workerCount;
    ThreadStarter* starter = &DefaultThreadStarter();
    // The bar's percentage, 0..100. User-interface thread.
    std::function<void(int percent)> progress;
    // Whether the user asked to stop. User-interface thread.
    std::function<bool()> cancelRequested;
    // Sleeps up to the given milliseconds, or until `wake` is called. A wake
    // that comes before the sleep ends the next sleep at once.
    // User-interface thread.
    std::function<void(int milliseconds)> sleep;
    // Any thread: a worker calls it as it finishes.
    std::function<void()> wake;
    // Whole seconds.
    std::function<std::int64_t()> clock;
};

enum class BakeStatus {
    kDone,
    kCancelled,
    kOutOfMemory,        // nothing more is done; what is half-made stays unsaved
    kThreadStartFailed,  // the threads that did start were stopped and waited for
};

}  // namespace dunsmere
