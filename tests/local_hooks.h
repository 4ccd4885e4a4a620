// A bake's hooks with no host behind them: a fixed thread count, no bar, no
// cancel, a real wakeable sleep and a clock that stands still.
#pragma once

#include <cstdint>

#include "eval/eval.h"
#include "host/threads.h"

namespace dunsmere {

struct LocalHooks {
    WakeableSleep sleeper;
    BakeHooks hooks;

    explicit LocalHooks(int threads)
    {
        hooks.workerCount = [threads] { return threads; };
        hooks.progress = [](int) {};
        hooks.cancelRequested = [] { return false; };
        hooks.sleep = [this](int milliseconds) { sleeper.Sleep(milliseconds); };
        hooks.wake = [this] { sleeper.Wake(); };
        hooks.clock = [] { return std::int64_t{0}; };
    }
    LocalHooks(const LocalHooks&) = delete;
    LocalHooks& operator=(const LocalHooks&) = delete;
};

}  // namespace dunsmere
