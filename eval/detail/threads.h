// Worker threads with done flags, a work counter, progress and cancel.
//
// A ThreadTracker starts a fixed number of threads on one entry routine.
// Thread t of k takes the work items t, t + k, t + 2k, ... Each thread marks
// itself done as its last use of the tracker; the user-interface thread polls
// the done flags and the workers poll the cancel flag, both without a lock.
// The items-done counter is guarded by the run's workLock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "eval/run_engine.h"
#include "eval/workers.h"
#include "geom/geom.h"
#include "host/threads.h"

namespace dunsmere {

class ThreadTracker;

// Handed to each thread: the tracker, the thread's index and the run's
// shared data. The tracker owns it; a thread reads it no more once it has
// marked itself done, since the tracker may then go.
struct WorkerArg {
    ThreadTracker* tracker;
    int index;
    void* run;
};

// A byte flag that lives in a copyable container and is polled lock-free.
struct AtomicFlag {
    std::atomic<std::uint8_t> value{0};
    AtomicFlag() = default;
    AtomicFlag(std::uint8_t v) : value(v) {}  // NOLINT: filled like a byte
    AtomicFlag(const AtomicFlag& o) : value(o.value.load()) {}
    AtomicFlag& operator=(const AtomicFlag& o) { value.store(o.value.load()); return *this; }
};

class ThreadTracker {
public:
    explicit ThreadTracker(ThreadEntry entry, ThreadStarter& starter = DefaultThreadStarter());
    ~ThreadTracker() = default;
    ThreadTracker(const ThreadTracker&) = delete;
    ThreadTracker& operator=(const ThreadTracker&) = delete;

    // Sizes the handle, argument and done arrays; every handle 0, every done
    // flag 1.
    void SetThreadCount(int n);
    int ThreadCount() const { return threadCount_; }

    // Clears the cancel flag and starts every thread on the entry with a
    // WorkerArg {this, i, run}. Throws ThreadStartError when a start fails;
    // that thread's done flag is set again so the wait can still end.
    void Start(void* run = nullptr);
    // Waits for every started thread to return. Only after the done flags
    // are all set.
    void JoinAll();

    void SetDone(int i, std::uint8_t value) { done_[static_cast<std::uint32_t>(i)].value.store(value); }
    int RunningCount() const;

    // The counters; callers hold the run's workLock while workers run.
    void SetTotal(int n) { total_ = n; }
    void SetItemsDone(int n) { itemsDone_ = n; }
    void AddDone(int n) { itemsDone_ += n; }
    // Items done over total, clamped to 0..1; not-a-number gives 0.
    float Progress() const;

    void SetCancel(std::uint8_t value) { cancel_.store(value); }
    bool IsCancelled() const { return cancel_.load() != 0; }

private:
    std::atomic<std::uint8_t> cancel_{0};
    int threadCount_ = 0;
    BArray1D<ThreadHandle> handles_;
    BArray1D<WorkerArg> args_;
    BArray1D<AtomicFlag> done_;
    int total_ = 0;
    int itemsDone_ = 0;
    ThreadEntry entry_;
    ThreadStarter& starter_;
    BArray1D<std::uint8_t> started_;
};

// The user-interface thread's wait: while a thread runs, sleep up to 500 ms
// (less when a thread ends and wakes it), then under workLock move the bar
// and forward a cancel request, all through the hooks. The bar shows the work's ProgressPercent,
// or trunc(Progress() * 90) without one. Tests before it sleeps. Joins the
// threads at the end.
void WaitForWorkers(const BakeHooks& hooks, ThreadTracker& tracker, std::mutex& workLock, RunWork* work = nullptr);

}  // namespace dunsmere
