// The platform's thread start with a stack size, as a replaceable service:
// the generations start their workers through a ThreadStarter, so that a
// test can decide when a worker runs and make a start fail.
#pragma once

#include <cstddef>
#include <cstdint>

using ThreadEntry = void (*)(void* arg);
using ThreadHandle = std::uintptr_t;

class ThreadStarter {
public:
    virtual ~ThreadStarter() = default;
    // Starts `entry(arg)` on a new thread with a stack of at least
    // `stackBytes` (the platform's minimum where that is larger). Returns
    // false, starting nothing, when the thread could not be started.
    virtual bool Start(ThreadEntry entry, void* arg, std::size_t stackBytes, ThreadHandle& handle) = 0;
    // Waits for a thread Start started to return; once per thread.
    virtual void Join(ThreadHandle handle) = 0;
};

// The platform's threads. Stateless; any thread may use it.
ThreadStarter& DefaultThreadStarter();
