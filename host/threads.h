// The platform's thread start with a stack size, as a replaceable service:
// the generations start their workers through a ThreadStarter, so that a
// test can decide when a worker runs and make a start fail.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

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
    // Start, for the last thread its caller starts before it waits: the
    // platform may put it on the processor the caller is about to leave, so
    // that with every processor busy at the start it does not queue behind
    // another thread until the scheduler moves it.
    virtual bool StartBeforeWait(ThreadEntry entry, void* arg, std::size_t stackBytes, ThreadHandle& handle)
    {
        return Start(entry, arg, stackBytes, handle);
    }
};

// A sleep that a wake from another thread ends early. A wake that comes
// before the sleep begins ends it at once, so that none is lost between a
// sleeper's last look and its sleep.
class WakeableSleep {
public:
    // Sleeps up to `milliseconds`, until woken, or until `stop` (polled every
    // 10 ms, for what cannot wake: a signal handler) returns true.
    void Sleep(int milliseconds, bool (*stop)() = nullptr);
    // Any thread.
    void Wake();

private:
    std::mutex lock_;
    std::condition_variable woken_;
    bool pending_ = false;
};

// The platform's threads. Stateless; any thread may use it.
ThreadStarter& DefaultThreadStarter();
